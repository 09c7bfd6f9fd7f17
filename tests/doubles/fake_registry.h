#pragma once
// An in-memory HKEY_CURRENT_USER that answers like the real one: case-insensitive key and value
// names, values enumerated in the order written, volatile keys that vanish at LogOff(), the
// errors Windows gives for missing keys, non-volatile children of volatile keys and keys that
// still have subkeys, registry links that creates and the steps on the way follow while the opens
// stop at a last step that is one, and the owner and label of each key.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/ascii_fold.h"
#include "common/registry_port.h"

namespace kestrava::testing {

class FakeRegistry final : public RegistryPort {
 public:
  struct Node {
    bool isVolatile = false;
    bool isLink = false;
    std::string linkTarget;  // a link's target, as a path from the root
    bool ownedByAdministrators = false;
    bool labelledHighNoWriteUp = false;
    std::vector<std::pair<std::string, std::uint32_t>> values;
  };

  // Set to make calls fail with that code, as a registry that denies access or runs out of
  // memory would.
  WinError failCreateWith = err::kSuccess;  // every CreateKey, CreateSubKey and CreateOwnKey
  WinError failOpenWith = err::kSuccess;    // every OpenKey and OpenSubKey
  // EnumValueName and EnumSubKeyName at the indices from failEnumFrom up to, not including,
  // failEnumTo: a value or key whose name cannot be read.
  WinError failEnumWith = err::kSuccess;
  std::uint32_t failEnumFrom = 0;
  std::uint32_t failEnumTo = UINT32_MAX;
  WinError failWriteWith = err::kSuccess;    // SetDwordValue, DeleteValue and DeleteKey
  WinError failInspectWith = err::kSuccess;  // IsLink, IsVolatile and QueryKeySecurity
  bool hasIntegrityLevels = true;            // false: as XP, where no key has a label
  // Called with the name at the start of every CreateSubKey: another program acting between a
  // caller's open and its create.
  std::function<void(const std::string& name)> beforeCreate;

  WinError CreateKey(const std::string& path, bool isVolatile, Key* key) override {
    return CreateSubKey(kCurrentUser, path, isVolatile, key);
  }
  WinError OpenKey(const std::string& path, bool writable, Key* key) override {
    return OpenSubKey(kCurrentUser, path, writable, key);
  }
  WinError OpenSubKey(Key parent, const std::string& name, bool, Key* key) override {
    if (failOpenWith != err::kSuccess) return failOpenWith;
    std::string base;
    if (!BaseOf(parent, &base)) return err::kInvalidHandle;
    std::string path;
    if (!Resolve(base, name, false, false, &path)) return err::kFileNotFound;
    return Open(path, key);
  }
  WinError CreateSubKey(Key parent, const std::string& name, bool isVolatile, Key* key) override {
    if (failCreateWith != err::kSuccess) return failCreateWith;
    if (beforeCreate) beforeCreate(name);
    std::string base;
    if (!BaseOf(parent, &base)) return err::kInvalidHandle;
    std::string path;
    bool createdNew = false;
    const WinError made = Make(base, name, isVolatile, &path, &createdNew);
    return made != err::kSuccess ? made : Open(path, key);
  }
  WinError CreateOwnKey(Key parent, const std::string& name, Key* key) override {
    if (failCreateWith != err::kSuccess) return failCreateWith;
    std::string base;
    if (!BaseOf(parent, &base)) return err::kInvalidHandle;
    std::string path;
    bool createdNew = false;
    const WinError made = Make(base, name, true, &path, &createdNew);
    if (made != err::kSuccess) return made;
    if (!createdNew) return err::kAlreadyExists;
    Node& node = nodes_[path];
    node.ownedByAdministrators = true;
    node.labelledHighNoWriteUp = hasIntegrityLevels;
    return Open(path, key);
  }
  void CloseKey(Key key) override { open_.erase(key); }
  WinError EnumValueName(Key key, std::uint32_t index, std::string* name) override {
    Node* node = NodeOf(key);
    if (!node) return err::kKeyDeleted;
    if (EnumFails(index)) return failEnumWith;
    if (index >= node->values.size()) return err::kNoMoreItems;
    *name = node->values[index].first;
    return err::kSuccess;
  }
  WinError EnumSubKeyName(Key key, std::uint32_t index, std::string* name) override {
    if (!NodeOf(key)) return err::kKeyDeleted;
    if (EnumFails(index)) return failEnumWith;
    const std::vector<std::string> children = ChildrenOf(open_[key]);
    if (index >= children.size()) return err::kNoMoreItems;
    *name = children[index];
    return err::kSuccess;
  }
  WinError CountValues(Key key, std::uint32_t* count) override {
    Node* node = NodeOf(key);
    if (!node) return err::kKeyDeleted;
    *count = static_cast<std::uint32_t>(node->values.size());
    return err::kSuccess;
  }
  WinError SetDwordValue(Key key, const std::string& name, std::uint32_t data) override {
    Node* node = NodeOf(key);
    if (!node) return err::kKeyDeleted;
    if (failWriteWith != err::kSuccess) return failWriteWith;
    for (auto& value : node->values) {
      if (Lower(value.first) == Lower(name)) {
        value.second = data;
        return err::kSuccess;
      }
    }
    node->values.emplace_back(name, data);
    return err::kSuccess;
  }
  WinError DeleteValue(Key key, const std::string& name) override {
    Node* node = NodeOf(key);
    if (!node) return err::kKeyDeleted;
    if (failWriteWith != err::kSuccess) return failWriteWith;
    auto& values = node->values;
    auto it = std::find_if(values.begin(), values.end(),
                           [&](const auto& v) { return Lower(v.first) == Lower(name); });
    if (it == values.end()) return err::kFileNotFound;
    values.erase(it);
    return err::kSuccess;
  }
  WinError DeleteKey(Key key) override {
    if (!NodeOf(key)) return err::kKeyDeleted;
    if (failWriteWith != err::kSuccess) return failWriteWith;
    const std::string& path = open_[key];
    if (!ChildrenOf(path).empty()) return err::kAccessDenied;
    nodes_.erase(path);
    return err::kSuccess;
  }
  WinError IsLink(Key key, bool* isLink) override {
    Node* node = NodeOf(key);
    if (!node) return err::kKeyDeleted;
    if (failInspectWith != err::kSuccess) return failInspectWith;
    *isLink = node->isLink;
    return err::kSuccess;
  }
  WinError IsVolatile(Key key, bool* isVolatile) override {
    Node* node = NodeOf(key);
    if (!node) return err::kKeyDeleted;
    if (failInspectWith != err::kSuccess) return failInspectWith;
    *isVolatile = node->isVolatile;
    return err::kSuccess;
  }
  WinError QueryKeySecurity(Key key, KeySecurity* security) override {
    Node* node = NodeOf(key);
    if (!node) return err::kKeyDeleted;
    if (failInspectWith != err::kSuccess) return failInspectWith;
    security->ownedByAdministrators = node->ownedByAdministrators;
    security->labelledHighNoWriteUp = node->labelledHighNoWriteUp;
    return err::kSuccess;
  }
  bool HasIntegrityLevels() override { return hasIntegrityLevels; }

  // A registry link at path (made with its missing parents, normal keys) to target, as
  // REG_OPTION_CREATE_LINK and a "SymbolicLinkValue" make one.
  void MakeLink(const std::string& path, const std::string& target) {
    Key key = 0;
    CreateKey(path, false, &key);
    CloseKey(key);
    Node& node = nodes_[Normal(path)];
    node.isLink = true;
    node.linkTarget = Normal(target);
    node.values = {{"SymbolicLinkValue", 0}};
  }
  // The key at path itself (a link is not followed), or null.
  Node* Edit(const std::string& path) {
    auto it = nodes_.find(Normal(path));
    return it == nodes_.end() ? nullptr : &it->second;
  }

  // The hive is unloaded and loaded again: volatile keys are gone.
  void LogOff() {
    for (auto it = nodes_.begin(); it != nodes_.end();) {
      it = it->second.isVolatile ? nodes_.erase(it) : std::next(it);
    }
  }
  const Node* Find(const std::string& path) const {
    auto it = nodes_.find(Normal(path));
    return it == nodes_.end() ? nullptr : &it->second;
  }
  std::size_t OpenKeyCount() const { return open_.size(); }
  // Whether any call read, wrote, inspected or deleted the key at path itself through a handle.
  bool Touched(const std::string& path) const { return touched_.count(Normal(path)) != 0; }
  void ForgetTouches() { touched_.clear(); }  // after a test's own setting up

 private:
  bool EnumFails(std::uint32_t index) const {
    return failEnumWith != err::kSuccess && index >= failEnumFrom && index < failEnumTo;
  }
  static std::string Lower(const std::string& s) { return FoldAsciiLower(s); }
  static std::string Normal(const std::string& path) {
    std::string normal;
    for (const std::string& part : Split(path))
      normal += (normal.empty() ? "" : "\\") + Lower(part);
    return normal;
  }
  bool BaseOf(Key parent, std::string* base) {
    if (parent == kCurrentUser) {
      base->clear();
      return true;
    }
    auto it = open_.find(parent);
    if (it == open_.end()) return false;
    *base = it->second;
    return true;
  }
  // The path of name below base, with every link on the way followed and a last step that is a
  // link followed only when followLast. False when a step is missing (unless create).
  bool Resolve(const std::string& base, const std::string& name, bool followLast, bool create,
               std::string* path) {
    const std::vector<std::string> parts = Split(name);
    std::string prefix = base;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      prefix += (prefix.empty() ? "" : "\\") + Lower(parts[i]);
      auto it = nodes_.find(prefix);
      if (it == nodes_.end()) {
        if (!create) return false;
        continue;
      }
      for (int hops = 0; it != nodes_.end() && it->second.isLink &&
                         (i + 1 < parts.size() || followLast) && hops < 16;
           ++hops) {
        prefix = it->second.linkTarget;
        it = nodes_.find(prefix);
      }
    }
    if (!create && !nodes_.count(prefix)) return false;  // a link to nowhere
    *path = prefix;
    return true;
  }
  // RegCreateKeyExA's walk: missing steps are made (with isVolatile), links are followed.
  WinError Make(const std::string& base, const std::string& name, bool isVolatile,
                std::string* path, bool* createdNew) {
    const std::vector<std::string> parts = Split(name);
    std::string prefix = base;
    auto parent = nodes_.find(base);
    bool parentVolatile = parent != nodes_.end() && parent->second.isVolatile;
    *createdNew = false;
    for (const std::string& part : parts) {
      prefix += (prefix.empty() ? "" : "\\") + Lower(part);
      auto it = nodes_.find(prefix);
      for (int hops = 0; it != nodes_.end() && it->second.isLink && hops < 16; ++hops) {
        prefix = it->second.linkTarget;
        it = nodes_.find(prefix);
      }
      *createdNew = it == nodes_.end();
      if (*createdNew) {
        if (parentVolatile && !isVolatile) return err::kChildMustBeVolatile;
        Node node;
        node.isVolatile = isVolatile;
        it = nodes_.emplace(prefix, node).first;
      }
      parentVolatile = it->second.isVolatile;
    }
    *path = prefix;
    return err::kSuccess;
  }
  static std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "\\") {
      if (c != '\\') {
        part += c;
      } else if (!part.empty()) {
        parts.push_back(part);
        part.clear();
      }
    }
    return parts;
  }
  std::vector<std::string> ChildrenOf(const std::string& path) const {
    std::vector<std::string> children;
    for (const auto& entry : nodes_) {
      const std::string& p = entry.first;
      if (p.size() > path.size() + 1 && p.compare(0, path.size(), path) == 0 &&
          p[path.size()] == '\\' && p.find('\\', path.size() + 1) == std::string::npos) {
        children.push_back(p.substr(path.size() + 1));
      }
    }
    return children;
  }
  WinError Open(const std::string& normal, Key* key) {
    *key = ++lastKey_;
    open_[*key] = normal;
    return err::kSuccess;
  }
  Node* NodeOf(Key key) {
    auto it = open_.find(key);
    if (it == open_.end()) return nullptr;
    touched_.insert(it->second);
    auto node = nodes_.find(it->second);
    return node == nodes_.end() ? nullptr : &node->second;
  }

  std::map<std::string, Node> nodes_;
  std::map<Key, std::string> open_;
  std::set<std::string> touched_;
  Key lastKey_ = 0;
};

}  // namespace kestrava::testing

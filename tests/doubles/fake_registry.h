#pragma once
// An in-memory HKEY_CURRENT_USER that answers like the real one: case-insensitive key and value
// names, values enumerated in the order written, volatile keys that vanish at LogOff(), and the
// errors Windows gives for missing keys, non-volatile children of volatile keys and keys that
// still have subkeys.
#include <algorithm>
#include <cstdint>
#include <map>
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
    std::vector<std::pair<std::string, std::uint32_t>> values;
  };

  // Set to make calls fail with that code, as a registry that denies access or runs out of
  // memory would.
  WinError failCreateWith = err::kSuccess;  // every CreateKey
  WinError failOpenWith = err::kSuccess;    // every OpenKey
  // EnumValueName and EnumSubKeyName at the indices from failEnumFrom up to, not including,
  // failEnumTo: a value or key whose name cannot be read.
  WinError failEnumWith = err::kSuccess;
  std::uint32_t failEnumFrom = 0;
  std::uint32_t failEnumTo = UINT32_MAX;
  WinError failWriteWith = err::kSuccess;  // SetDwordValue, DeleteValue and DeleteSubKey

  WinError CreateKey(const std::string& path, bool isVolatile, Key* key) override {
    if (failCreateWith != err::kSuccess) return failCreateWith;
    std::string prefix;
    bool parentVolatile = false;
    for (const std::string& part : Split(path)) {
      prefix += (prefix.empty() ? "" : "\\") + Lower(part);
      auto it = nodes_.find(prefix);
      if (it == nodes_.end()) {
        if (parentVolatile && !isVolatile) return err::kChildMustBeVolatile;
        it = nodes_.emplace(prefix, Node{isVolatile, {}}).first;
      }
      parentVolatile = it->second.isVolatile;
    }
    return Open(prefix, key);
  }
  WinError OpenKey(const std::string& path, bool, Key* key) override {
    if (failOpenWith != err::kSuccess) return failOpenWith;
    std::string normal;
    for (const std::string& part : Split(path))
      normal += (normal.empty() ? "" : "\\") + Lower(part);
    if (!nodes_.count(normal)) return err::kFileNotFound;
    return Open(normal, key);
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
  WinError DeleteSubKey(Key key, const std::string& subKey) override {
    if (!NodeOf(key)) return err::kKeyDeleted;
    if (failWriteWith != err::kSuccess) return failWriteWith;
    const std::string path = open_[key] + "\\" + Lower(subKey);
    if (!nodes_.count(path)) return err::kFileNotFound;
    if (!ChildrenOf(path).empty()) return err::kAccessDenied;
    nodes_.erase(path);
    return err::kSuccess;
  }

  // The hive is unloaded and loaded again: volatile keys are gone.
  void LogOff() {
    for (auto it = nodes_.begin(); it != nodes_.end();) {
      it = it->second.isVolatile ? nodes_.erase(it) : std::next(it);
    }
  }
  const Node* Find(const std::string& path) const {
    std::string normal;
    for (const std::string& part : Split(path))
      normal += (normal.empty() ? "" : "\\") + Lower(part);
    auto it = nodes_.find(normal);
    return it == nodes_.end() ? nullptr : &it->second;
  }
  std::size_t OpenKeyCount() const { return open_.size(); }

 private:
  bool EnumFails(std::uint32_t index) const {
    return failEnumWith != err::kSuccess && index >= failEnumFrom && index < failEnumTo;
  }
  static std::string Lower(const std::string& s) { return FoldAsciiLower(s); }
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
    auto node = nodes_.find(it->second);
    return node == nodes_.end() ? nullptr : &node->second;
  }

  std::map<std::string, Node> nodes_;
  std::map<Key, std::string> open_;
  Key lastKey_ = 0;
};

}  // namespace kestrava::testing

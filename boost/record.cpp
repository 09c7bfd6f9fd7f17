#include "boost/record.h"

#include "common/texts.h"

namespace kestrava {
namespace {

constexpr char kRecordSubKey[] = "BoostedService";

// RegDeleteKeyA removes only keys without subkeys, so the tree goes bottom-up.
void DeleteKeyTree(RegistryPort& registry, const std::string& parentPath, const std::string& name) {
  const std::string path = parentPath + '\\' + name;
  std::vector<std::string> children;
  {
    RegistryKey key(registry);
    if (key.Open(path, false) != err::kSuccess) return;
    std::string child;
    for (std::uint32_t i = 0; registry.EnumSubKeyName(key.Get(), i, &child) == err::kSuccess; ++i) {
      children.push_back(child);
    }
  }
  for (const std::string& child : children) DeleteKeyTree(registry, path, child);
  RegistryKey parent(registry);
  if (parent.Open(parentPath, true) == err::kSuccess) registry.DeleteSubKey(parent.Get(), name);
}

}  // namespace

std::string BoostRecordParentPath() { return std::string(SRegRootKey) + SRegProductKey; }

std::string BoostRecordPath() { return BoostRecordParentPath() + '\\' + kRecordSubKey; }

bool ReadBoostedServices(RegistryPort& registry, std::vector<std::string>& names) {
  names.clear();
  RegistryKey key(registry);
  if (key.Open(BoostRecordPath(), false) != err::kSuccess) return true;
  std::string name;
  for (std::uint32_t index = 0; registry.EnumValueName(key.Get(), index, &name) == err::kSuccess;
       ++index) {
    names.push_back(name);
  }
  return true;
}

void SetBoostedService(RegistryPort& registry, const std::string& serviceName, bool remove) {
  RegistryKey key(registry);
  if (key.Create(BoostRecordPath(), true) != err::kSuccess) return;
  if (remove) {
    registry.DeleteValue(key.Get(), serviceName);
  } else {
    registry.SetDwordValue(key.Get(), serviceName, 1);
  }
}

bool ClearBoostedServices(RegistryPort& registry) {
  RegistryKey parent(registry);
  if (parent.Open(BoostRecordParentPath(), false) != err::kSuccess) return true;
  parent.Close();
  DeleteKeyTree(registry, BoostRecordParentPath(), kRecordSubKey);
  return true;
}

}  // namespace kestrava

#include "boost/record.h"

#include "common/texts.h"

namespace kestrava {
namespace {

constexpr char kRecordSubKey[] = "BoostedService";

// Opening a key that is not there is how a missing record shows; a missing parent key says the
// same.
bool IsMissing(WinError code) { return code == err::kFileNotFound || code == err::kPathNotFound; }

// RegDeleteKeyA removes only keys without subkeys, so the tree goes bottom-up; the first failure
// ends the walk (a key whose subkey stays cannot go either).
WinError DeleteKeyTree(RegistryPort& registry, const std::string& parentPath,
                       const std::string& name) {
  const std::string path = parentPath + '\\' + name;
  std::vector<std::string> children;
  {
    RegistryKey key(registry);
    const WinError opened = key.Open(path, false);
    if (IsMissing(opened)) return err::kSuccess;
    if (opened != err::kSuccess) return opened;
    std::string child;
    WinError listed = err::kSuccess;
    for (std::uint32_t i = 0;
         (listed = registry.EnumSubKeyName(key.Get(), i, &child)) == err::kSuccess; ++i) {
      children.push_back(child);
    }
    if (listed != err::kNoMoreItems) return listed;
  }
  for (const std::string& child : children) {
    const WinError deleted = DeleteKeyTree(registry, path, child);
    if (deleted != err::kSuccess) return deleted;
  }
  RegistryKey parent(registry);
  const WinError opened = parent.Open(parentPath, true);
  if (opened != err::kSuccess) return opened;
  return registry.DeleteSubKey(parent.Get(), name);
}

}  // namespace

std::string BoostRecordParentPath() { return std::string(SRegRootKey) + SRegProductKey; }

std::string BoostRecordPath() { return BoostRecordParentPath() + '\\' + kRecordSubKey; }

WinError ReadBoostedServices(RegistryPort& registry, std::vector<std::string>& names) {
  names.clear();
  RegistryKey key(registry);
  const WinError opened = key.Open(BoostRecordPath(), false);
  if (IsMissing(opened)) return err::kSuccess;
  if (opened != err::kSuccess) return opened;
  // A value that cannot be read is passed over: every name read is a service that a boost stopped
  // and that only the restore gives back. A key that fails value after value is broken as a
  // whole, so a run of failures ends the walk.
  constexpr std::uint32_t kFailuresInARow = 16;
  WinError first = err::kSuccess;
  std::uint32_t failures = 0;
  std::string name;
  for (std::uint32_t index = 0; failures < kFailuresInARow; ++index) {
    const WinError listed = registry.EnumValueName(key.Get(), index, &name);
    if (listed == err::kNoMoreItems) break;
    if (listed == err::kSuccess) {
      names.push_back(name);
      failures = 0;
      continue;
    }
    if (first == err::kSuccess) first = listed;
    ++failures;
  }
  return first;
}

WinError SetBoostedService(RegistryPort& registry, const std::string& serviceName, bool remove) {
  RegistryKey key(registry);
  const WinError created = key.Create(BoostRecordPath(), true);
  if (created != err::kSuccess) return created;
  if (!remove) return registry.SetDwordValue(key.Get(), serviceName, 1);
  const WinError deleted = registry.DeleteValue(key.Get(), serviceName);
  return deleted == err::kFileNotFound ? err::kSuccess : deleted;
}

WinError ClearBoostedServices(RegistryPort& registry) {
  RegistryKey parent(registry);
  const WinError opened = parent.Open(BoostRecordParentPath(), false);
  if (IsMissing(opened)) return err::kSuccess;
  if (opened != err::kSuccess) return opened;
  parent.Close();
  return DeleteKeyTree(registry, BoostRecordParentPath(), kRecordSubKey);
}

}  // namespace kestrava

#include "boost/record.h"

#include "common/texts.h"

namespace kestrava {
namespace {

constexpr char kRecordSubKey[] = "BoostedService";

// Opening a key that is not there is how a missing record shows; a missing parent key says the
// same.
bool IsMissing(WinError code) { return code == err::kFileNotFound || code == err::kPathNotFound; }

std::vector<std::string> StepsOf(const std::string& path) {
  std::vector<std::string> steps;
  std::string step;
  for (char c : path + '\\') {
    if (c != '\\') {
      step += c;
    } else if (!step.empty()) {
      steps.push_back(step);
      step.clear();
    }
  }
  return steps;
}

// Opens the record's parent one step at a time from the root, so that no step is a link followed:
// a link on the way (any program of the user can make one) would put the record wherever it
// points. Such a step ends the walk with kCantAccessFile. With create, missing steps are made
// volatile and every step is opened for writing.
WinError OpenRecordParent(RegistryPort& registry, bool create, RegistryKey& parent) {
  const std::vector<std::string> steps = StepsOf(BoostRecordParentPath());
  RegistryKey above[2] = {RegistryKey(registry), RegistryKey(registry)};
  RegistryPort::Key from = RegistryPort::kCurrentUser;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    RegistryKey& step = i + 1 == steps.size() ? parent : above[i % 2];
    WinError code = step.OpenSub(from, steps[i], create);
    if (create && IsMissing(code)) {
      // The create goes by name, and a link put there since the open would be followed: what is
      // at the name now is opened again, a link as a link, and checked as every step is.
      code = registry.CreateSubKey(from, steps[i], true, step.Put());
      if (code == err::kSuccess) code = step.OpenSub(from, steps[i], create);
    }
    if (code != err::kSuccess) return code;
    bool isLink = false;
    code = registry.IsLink(step.Get(), &isLink);
    if (code != err::kSuccess) return code;
    if (isLink) return err::kCantAccessFile;
    from = step.Get();
  }
  return err::kSuccess;
}

// Opens the record key itself, a link as a link. Behind a link on the way there is no record of
// the program's: that reads as missing.
WinError OpenRecord(RegistryPort& registry, bool writable, RegistryKey& record, bool* isLink) {
  RegistryKey parent(registry);
  const WinError walked = OpenRecordParent(registry, false, parent);
  if (walked == err::kCantAccessFile) return err::kFileNotFound;
  if (walked != err::kSuccess) return walked;
  const WinError opened = record.OpenSub(parent.Get(), kRecordSubKey, writable);
  if (opened != err::kSuccess) return opened;
  return registry.IsLink(record.Get(), isLink);
}

// The names of the first kMaxRecordedNames values of key, each at most kMaxRecordedNameLength
// long. A value that cannot be read is passed over: every name read is a service that a boost
// stopped and that only the restore gives back. A key that fails value after value is broken as a
// whole, so a run of failures ends the walk.
WinError ReadNames(RegistryPort& registry, RegistryPort::Key key, std::vector<std::string>& names,
                   std::uint32_t* passedOver) {
  constexpr std::uint32_t kFailuresInARow = 16;
  WinError first = err::kSuccess;
  std::uint32_t failures = 0;
  std::uint32_t skipped = 0;
  bool ended = false;
  std::uint32_t index = 0;
  std::string name;
  for (; index < kMaxRecordedNames && failures < kFailuresInARow; ++index) {
    const WinError listed = registry.EnumValueName(key, index, &name);
    if (listed == err::kNoMoreItems) {
      ended = true;
      break;
    }
    if (listed == err::kSuccess) {
      failures = 0;
      if (name.size() > kMaxRecordedNameLength) {
        ++skipped;
      } else {
        names.push_back(name);
      }
      continue;
    }
    if (first == err::kSuccess) first = listed;
    ++failures;
    ++skipped;
  }
  if (!ended) {
    // Stopped before the end: what is left is counted, not read.
    std::uint32_t count = 0;
    const WinError counted = registry.CountValues(key, &count);
    if (counted == err::kSuccess) {
      skipped = count > names.size() ? count - static_cast<std::uint32_t>(names.size()) : 0;
    } else if (first == err::kSuccess) {
      first = counted;
    }
  }
  if (passedOver != nullptr) *passedOver = skipped;
  return first;
}

// Whether the open key is one the program made: not a link, volatile, and with the owner (and,
// where Windows has integrity levels, the label) that only an elevated program can give a key.
WinError IsOwnRecord(RegistryPort& registry, RegistryPort::Key key, bool* own, bool* isLink) {
  *own = false;
  WinError code = registry.IsLink(key, isLink);
  if (code != err::kSuccess || *isLink) return code;
  bool isVolatile = false;
  code = registry.IsVolatile(key, &isVolatile);
  if (code != err::kSuccess || !isVolatile) return code;
  RegistryPort::KeySecurity security;
  code = registry.QueryKeySecurity(key, &security);
  if (code != err::kSuccess) return code;
  *own = security.ownedByAdministrators &&
         (!registry.HasIntegrityLevels() || security.labelledHighNoWriteUp);
  return err::kSuccess;
}

// Deletes the open key with everything under it, children first. Every key is opened below the
// one above it and as itself, never through a link: a link in the tree goes as a link.
WinError DeleteTree(RegistryPort& registry, RegistryPort::Key key) {
  std::vector<std::string> children;
  std::string child;
  WinError listed = err::kSuccess;
  for (std::uint32_t i = 0; (listed = registry.EnumSubKeyName(key, i, &child)) == err::kSuccess;
       ++i) {
    children.push_back(child);
  }
  if (listed != err::kNoMoreItems) return listed;
  for (const std::string& name : children) {
    RegistryKey below(registry);
    WinError code = below.OpenSub(key, name, true);
    if (code == err::kSuccess) code = DeleteTree(registry, below.Get());
    if (code != err::kSuccess && !IsMissing(code)) return code;
  }
  return registry.DeleteKey(key);
}

// Opens the record key for writing once it is the program's own, making it so first when it is
// not (see record.h). Someone who makes a key there between the delete and the create is met
// again, a few times at most.
WinError OpenOwnRecord(RegistryPort& registry, RegistryKey& record) {
  RegistryKey parent(registry);
  const WinError walked = OpenRecordParent(registry, true, parent);
  if (walked != err::kSuccess) return walked;
  std::vector<std::string> carried;
  constexpr int kAttempts = 3;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const WinError opened = record.OpenSub(parent.Get(), kRecordSubKey, true);
    if (opened == err::kSuccess) {
      bool own = false;
      bool isLink = false;
      const WinError inspected = IsOwnRecord(registry, record.Get(), &own, &isLink);
      if (inspected != err::kSuccess) return inspected;
      if (own) break;
      // A link's only value is its target's path; a key that is not a link may hold the names of
      // services a boost stopped, which must not be lost.
      if (!isLink) ReadNames(registry, record.Get(), carried, nullptr);
      const WinError deleted = DeleteTree(registry, record.Get());
      if (deleted != err::kSuccess) return deleted;
      record.Close();
    } else if (!IsMissing(opened)) {
      return opened;
    }
    const WinError created = registry.CreateOwnKey(parent.Get(), kRecordSubKey, record.Put());
    if (created == err::kSuccess) break;
    if (created != err::kAlreadyExists) return created;
    if (attempt + 1 == kAttempts) return created;
  }
  for (const std::string& name : carried) {
    const WinError written = registry.SetDwordValue(record.Get(), name, 1);
    if (written != err::kSuccess) return written;
  }
  return err::kSuccess;
}

}  // namespace

WinError RecordWayBlocked(RegistryPort& registry) {
  RegistryKey parent(registry);
  // A missing step is no block: the write makes it, and nothing lies below it yet.
  const WinError walked = OpenRecordParent(registry, false, parent);
  return walked == err::kCantAccessFile ? walked : err::kSuccess;
}

std::string BoostRecordParentPath() { return std::string(SRegRootKey) + SRegProductKey; }

std::string BoostRecordPath() { return BoostRecordParentPath() + '\\' + kRecordSubKey; }

WinError ReadBoostedServices(RegistryPort& registry, std::vector<std::string>& names,
                             std::uint32_t* passedOver) {
  names.clear();
  if (passedOver != nullptr) *passedOver = 0;
  RegistryKey record(registry);
  bool isLink = false;
  const WinError opened = OpenRecord(registry, false, record, &isLink);
  if (IsMissing(opened)) return err::kSuccess;
  if (opened != err::kSuccess) return opened;
  if (isLink) return err::kSuccess;  // not the program's record, and its target is not looked at
  return ReadNames(registry, record.Get(), names, passedOver);
}

WinError SetBoostedService(RegistryPort& registry, const std::string& serviceName, bool remove) {
  RegistryKey record(registry);
  if (!remove) {
    const WinError made = OpenOwnRecord(registry, record);
    if (made != err::kSuccess) return made;
    return registry.SetDwordValue(record.Get(), serviceName, 1);
  }
  bool isLink = false;
  const WinError opened = OpenRecord(registry, true, record, &isLink);
  if (IsMissing(opened)) return err::kSuccess;
  if (opened != err::kSuccess) return opened;
  if (isLink) return err::kSuccess;
  const WinError deleted = registry.DeleteValue(record.Get(), serviceName);
  return deleted == err::kFileNotFound ? err::kSuccess : deleted;
}

WinError ClearBoostedServices(RegistryPort& registry) {
  RegistryKey record(registry);
  bool isLink = false;
  const WinError opened = OpenRecord(registry, true, record, &isLink);
  if (IsMissing(opened)) return err::kSuccess;
  if (opened != err::kSuccess) return opened;
  return DeleteTree(registry, record.Get());
}

}  // namespace kestrava

#pragma once
// The criteria that decide which directory entries a search reports. They judge plain data (the
// entry's name, attribute bits, size and file times) and make no file-system calls; the name
// masks and locations act through the target-path list that TFileCriteria builds.
#include <cstdint>
#include <memory>
#include <string>

#include "search/search_ports.h"
#include "search/string_list.h"
#include "search/target_paths.h"

namespace kestrava {

// Date-time values: days since 1899-12-30, the fraction being the time of day, local time.
using TDateTime = double;

TDateTime EncodeDateTime(const LocalTimeFields& fields);
// The UTC file time in local time, milliseconds included; 0 when the system cannot convert it.
TDateTime FileTimeToLocalDateTime(std::uint64_t fileTime,
                                  LocalTimePort& localTime = PlatformLocalTime());
// Value against the two bounds (0 = none): a bound without time of day compares whole days, a
// bound without date compares the time of day on any date, a full bound compares exactly.
bool IsTimeInRange(TDateTime value, TDateTime before, TDateTime after);

class TCustomCriteria {
 public:
  virtual ~TCustomCriteria() = default;
  virtual const char* ClassName() const = 0;
  // Copies the settings of a source of the same class; any other source (or none) raises
  // KestravaError "Cannot assign a <source class> to a <this class>".
  virtual void Assign(const TCustomCriteria* source) = 0;
  virtual void Clear() = 0;

 protected:
  [[noreturn]] void AssignError(const TCustomCriteria* source) const;
};

class TFileCriteria : public TCustomCriteria {
 public:
  TFileCriteria();
  TFileCriteria(const TFileCriteria&) = delete;
  TFileCriteria& operator=(const TFileCriteria&) = delete;

  const char* ClassName() const override { return "TFileCriteria"; }
  void Assign(const TCustomCriteria* source) override;
  void Clear() override;

  // Properties, in their published order.
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& value);
  const std::string& Location() const { return location_; }
  void SetLocation(const std::string& value);
  TStringList& Paths() { return paths_; }  // each change drops the cached target paths
  const TStringList& Paths() const { return paths_; }
  void SetPaths(const TStringList& value) { paths_.Assign(value); }
  bool Subfolders() const { return subfolders_; }
  void SetSubfolders(bool value);
  std::uint16_t MinLevel() const { return minLevel_; }
  void SetMinLevel(std::uint16_t value);
  std::uint16_t MaxLevel() const { return maxLevel_; }
  void SetMaxLevel(std::uint16_t value);
  TStringList& Filters() { return filters_; }
  const TStringList& Filters() const { return filters_; }
  void SetFilters(const TStringList& value) { filters_.Assign(value); }

  // The Filters test of an entry named name in folder (which ends in its separator).
  bool Matches(const std::string& folder, const std::string& name) const;

  // The folders to walk, built on first use and kept until a setting that feeds it changes.
  TTargetPaths& TargetPaths(PathPort& paths = PlatformPaths());
  void InvalidateTargetPaths() { targetPaths_.reset(); }
  bool HasTargetPaths() const { return targetPaths_ != nullptr; }

 private:
  std::string fileName_;
  std::string location_;
  TStringList paths_;
  bool subfolders_ = true;
  std::uint16_t minLevel_ = 0;
  std::uint16_t maxLevel_ = 0;
  TStringList filters_;
  std::unique_ptr<TTargetPaths> targetPaths_;
};

enum TFileAttributeStatus : std::uint8_t {
  fsIgnore = 0,
  fsSet = 1,
  fsUnset = 2,
  fsAnySet = 3,
  fsAnyUnset = 4
};

class TAttributesCriteria : public TCustomCriteria {
 public:
  // Hidden, system and directory entries are not matched by default.
  static constexpr std::uint32_t kDefaultUnsetMask =
      attr::kHidden | attr::kSystem | attr::kDirectory;

  const char* ClassName() const override { return "TAttributesCriteria"; }
  void Assign(const TCustomCriteria* source) override;
  // Every attribute fsIgnore (unlike a new object).
  void Clear() override;

  // Status of attribute bit 2^(index - 1), the shift taken modulo 32.
  TFileAttributeStatus GetStatus(int index) const;
  void SetStatus(int index, TFileAttributeStatus status);

  // Properties, in their published order (the index is the bit position plus one).
  TFileAttributeStatus Readonly() const { return GetStatus(1); }
  void SetReadonly(TFileAttributeStatus s) { SetStatus(1, s); }
  TFileAttributeStatus Hidden() const { return GetStatus(2); }
  void SetHidden(TFileAttributeStatus s) { SetStatus(2, s); }
  TFileAttributeStatus System() const { return GetStatus(3); }
  void SetSystem(TFileAttributeStatus s) { SetStatus(3, s); }
  TFileAttributeStatus Directory() const { return GetStatus(5); }
  void SetDirectory(TFileAttributeStatus s) { SetStatus(5, s); }
  TFileAttributeStatus Archive() const { return GetStatus(6); }
  void SetArchive(TFileAttributeStatus s) { SetStatus(6, s); }
  TFileAttributeStatus Device() const { return GetStatus(7); }
  void SetDevice(TFileAttributeStatus s) { SetStatus(7, s); }
  TFileAttributeStatus Normal() const { return GetStatus(8); }
  void SetNormal(TFileAttributeStatus s) { SetStatus(8, s); }
  TFileAttributeStatus Temporary() const { return GetStatus(9); }
  void SetTemporary(TFileAttributeStatus s) { SetStatus(9, s); }
  TFileAttributeStatus SparseFile() const { return GetStatus(10); }
  void SetSparseFile(TFileAttributeStatus s) { SetStatus(10, s); }
  TFileAttributeStatus ReparsePoint() const { return GetStatus(11); }
  void SetReparsePoint(TFileAttributeStatus s) { SetStatus(11, s); }
  TFileAttributeStatus Compressed() const { return GetStatus(12); }
  void SetCompressed(TFileAttributeStatus s) { SetStatus(12, s); }
  TFileAttributeStatus Offline() const { return GetStatus(13); }
  void SetOffline(TFileAttributeStatus s) { SetStatus(13, s); }
  TFileAttributeStatus NotContentIndexed() const { return GetStatus(14); }
  void SetNotContentIndexed(TFileAttributeStatus s) { SetStatus(14, s); }
  TFileAttributeStatus Encrypted() const { return GetStatus(15); }
  void SetEncrypted(TFileAttributeStatus s) { SetStatus(15, s); }
  TFileAttributeStatus Virtual() const { return GetStatus(17); }
  void SetVirtual(TFileAttributeStatus s) { SetStatus(17, s); }

  std::uint32_t SetMask = 0;
  std::uint32_t UnsetMask = kDefaultUnsetMask;
  std::uint32_t AnySetMask = 0;
  std::uint32_t AnyUnsetMask = 0;

  bool Matches(std::uint32_t attributes) const {
    return (attributes & SetMask) == SetMask && (attributes & UnsetMask) == 0 &&
           (AnySetMask == 0 || (attributes & AnySetMask) != 0) &&
           (AnyUnsetMask == 0 || (attributes & AnyUnsetMask) != AnyUnsetMask);
  }
};

class TDateTimeCriteria : public TCustomCriteria {
 public:
  const char* ClassName() const override { return "TDateTimeCriteria"; }
  void Assign(const TCustomCriteria* source) override;
  void Clear() override;

  // Properties, in their published order; 0 = no bound.
  TDateTime CreatedBefore = 0;
  TDateTime CreatedAfter = 0;
  TDateTime ModifiedBefore = 0;
  TDateTime ModifiedAfter = 0;
  TDateTime AccessedBefore = 0;
  TDateTime AccessedAfter = 0;

  bool HasBounds() const {
    return CreatedBefore != 0 || CreatedAfter != 0 || ModifiedBefore != 0 || ModifiedAfter != 0 ||
           AccessedBefore != 0 || AccessedAfter != 0;
  }
  // Tests the three file times (UTC); a pair of bounds that are both 0 converts nothing.
  bool Matches(std::uint64_t created, std::uint64_t written, std::uint64_t accessed,
               LocalTimePort& localTime = PlatformLocalTime()) const;
};

class TSizeCriteria : public TCustomCriteria {
 public:
  const char* ClassName() const override { return "TSizeCriteria"; }
  void Assign(const TCustomCriteria* source) override;
  void Clear() override;

  std::int64_t Min = 0;  // inclusive; 0 = no bound
  std::int64_t Max = 0;  // inclusive; 0 = no bound

  bool Matches(std::int64_t size) const {
    return !(Min != 0 && size < Min) && !(Max != 0 && size > Max);
  }
};

class TSearchCriteria : public TCustomCriteria {
 public:
  TSearchCriteria() = default;
  TSearchCriteria(const TSearchCriteria&) = delete;
  TSearchCriteria& operator=(const TSearchCriteria&) = delete;

  const char* ClassName() const override { return "TSearchCriteria"; }
  void Assign(const TCustomCriteria* source) override;
  void Clear() override;

  // The four owned parts; the setters copy into them.
  TFileCriteria& Files() { return files_; }
  const TFileCriteria& Files() const { return files_; }
  void SetFiles(const TFileCriteria& value) { files_.Assign(&value); }
  TAttributesCriteria& Attributes() { return attributes_; }
  const TAttributesCriteria& Attributes() const { return attributes_; }
  void SetAttributes(const TAttributesCriteria& value) { attributes_.Assign(&value); }
  TDateTimeCriteria& TimeStamp() { return timeStamp_; }
  const TDateTimeCriteria& TimeStamp() const { return timeStamp_; }
  void SetTimeStamp(const TDateTimeCriteria& value) { timeStamp_.Assign(&value); }
  TSizeCriteria& Size() { return size_; }
  const TSizeCriteria& Size() const { return size_; }
  void SetSize(const TSizeCriteria& value) { size_.Assign(&value); }

  // Attributes, then size, then times, then the filters; the first failing part decides.
  bool Matches(const std::string& folder, const TFindData& entry,
               LocalTimePort& localTime = PlatformLocalTime()) const;

 private:
  TFileCriteria files_;
  TAttributesCriteria attributes_;
  TDateTimeCriteria timeStamp_;
  TSizeCriteria size_;
};

}  // namespace kestrava

#include "search/criteria.h"

#include <cmath>

#include "common/civil_date.h"
#include "common/error.h"
#include "search/text.h"

namespace kestrava {
namespace {

constexpr long long kDaysFrom1899To1970 = 25569;

// Tests one side of a range: compares whole days for a date-only bound, the time of day for a
// time-only bound, and the full value otherwise.
template <typename Compare>
bool WithinBound(TDateTime value, TDateTime bound, Compare compare) {
  if (bound == 0) return true;
  const double boundDays = std::trunc(bound);
  if (bound - boundDays == 0) return compare(std::trunc(value), bound);
  if (boundDays == 0) return compare(value - std::trunc(value), bound);
  return compare(value, bound);
}

}  // namespace

TDateTime EncodeDateTime(const LocalTimeFields& f) {
  const double days =
      static_cast<double>(DaysFromCivil(f.Year, f.Month, f.Day) + kDaysFrom1899To1970);
  const double time =
      (((f.Hour * 60.0 + f.Minute) * 60.0 + f.Second) * 1000.0 + f.Milliseconds) / 86400000.0;
  // Before the epoch the fraction still counts forward from midnight: -1.25 is 29 Dec 1899, 06:00.
  return days >= 0 ? days + time : days - time;
}

TDateTime FileTimeToLocalDateTime(std::uint64_t fileTime, LocalTimePort& localTime) {
  LocalTimeFields fields;
  if (localTime.ToLocalFields(fileTime, &fields) != err::kSuccess) return 0;
  return EncodeDateTime(fields);
}

bool IsTimeInRange(TDateTime value, TDateTime before, TDateTime after) {
  return WithinBound(value, before, [](double v, double b) { return v <= b; }) &&
         WithinBound(value, after, [](double v, double b) { return v >= b; });
}

void TCustomCriteria::AssignError(const TCustomCriteria* source) const {
  const std::string sourceName = source != nullptr ? source->ClassName() : "nil";
  throw KestravaError("Cannot assign a " + sourceName + " to a " + ClassName());
}

// --- TFileCriteria ---

TFileCriteria::TFileCriteria() {
  paths_.OnChange = [this] { InvalidateTargetPaths(); };
}

void TFileCriteria::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  fileName_ = value;
  InvalidateTargetPaths();
}

void TFileCriteria::SetLocation(const std::string& value) {
  if (value == location_) return;
  location_ = value;
  InvalidateTargetPaths();
}

void TFileCriteria::SetSubfolders(bool value) {
  if (value == subfolders_) return;
  subfolders_ = value;
  InvalidateTargetPaths();
}

void TFileCriteria::SetMinLevel(std::uint16_t value) {
  if (value == minLevel_) return;
  minLevel_ = value;
  InvalidateTargetPaths();
}

void TFileCriteria::SetMaxLevel(std::uint16_t value) {
  if (value == maxLevel_) return;
  maxLevel_ = value;
  InvalidateTargetPaths();
}

void TFileCriteria::Assign(const TCustomCriteria* source) {
  const auto* other = dynamic_cast<const TFileCriteria*>(source);
  if (other == nullptr) AssignError(source);
  if (other == this) return;
  SetFileName(other->fileName_);
  SetLocation(other->location_);
  SetPaths(other->paths_);
  SetFilters(other->filters_);
  SetSubfolders(other->subfolders_);
  SetMinLevel(other->minLevel_);
  SetMaxLevel(other->maxLevel_);
}

void TFileCriteria::Clear() {
  SetFileName("");
  SetLocation("");
  paths_.Clear();
  SetSubfolders(true);
  SetMinLevel(0);
  SetMaxLevel(0);
  filters_.Clear();
}

bool TFileCriteria::Matches(const std::string& folder, const std::string& name) const {
  if (filters_.Empty()) return true;
  std::string text = folder + name;
  // Extension-less names get a final "." so that "*." and "*.*" can select them.
  if (name.find('.') == std::string::npos) text += '.';
  for (const std::string& line : filters_) {
    if (!line.empty() && line[0] == '>') {
      if (MatchFilterPattern(text, line.substr(1))) return true;
    } else {
      const std::string pattern = !line.empty() && line[0] == '<' ? line.substr(1) : line;
      if (MatchFilterPattern(text, pattern)) return false;
    }
  }
  return true;
}

TTargetPaths& TFileCriteria::TargetPaths(PathPort& paths) {
  if (targetPaths_ != nullptr) return *targetPaths_;
  auto targets = std::make_unique<TTargetPaths>(paths);
  TStringList masks = SplitToList(fileName_, ';');
  if (masks.Empty()) masks.Add("*.*");
  for (const std::string& location : SplitToList(location_, ';')) {
    targets->AddFolder(location, &masks, subfolders_, minLevel_, maxLevel_);
  }
  for (const std::string& line : paths_) {
    const std::string path = Trim(line);
    if (!path.empty()) targets->AddPath(path, subfolders_, minLevel_, maxLevel_);
  }
  targetPaths_ = std::move(targets);
  return *targetPaths_;
}

// --- TAttributesCriteria ---

void TAttributesCriteria::Assign(const TCustomCriteria* source) {
  const auto* other = dynamic_cast<const TAttributesCriteria*>(source);
  if (other == nullptr) AssignError(source);
  SetMask = other->SetMask;
  UnsetMask = other->UnsetMask;
  AnySetMask = other->AnySetMask;
  AnyUnsetMask = other->AnyUnsetMask;
}

void TAttributesCriteria::Clear() { SetMask = UnsetMask = AnySetMask = AnyUnsetMask = 0; }

namespace {
// Subtracting in unsigned arithmetic wraps modulo 2^32, a multiple of 32, so every index, INT_MIN
// too, gets the shift (index - 1) mod 32 without a signed overflow.
std::uint32_t BitOfIndex(int index) { return 1u << ((static_cast<unsigned>(index) - 1u) % 32u); }
}  // namespace

TFileAttributeStatus TAttributesCriteria::GetStatus(int index) const {
  const std::uint32_t bit = BitOfIndex(index);
  if (SetMask & bit) return fsSet;
  if (UnsetMask & bit) return fsUnset;
  if (AnySetMask & bit) return fsAnySet;
  if (AnyUnsetMask & bit) return fsAnyUnset;
  return fsIgnore;
}

void TAttributesCriteria::SetStatus(int index, TFileAttributeStatus status) {
  const std::uint32_t bit = BitOfIndex(index);
  SetMask &= ~bit;
  UnsetMask &= ~bit;
  AnySetMask &= ~bit;
  AnyUnsetMask &= ~bit;
  switch (status) {
    case fsSet: SetMask |= bit; break;
    case fsUnset: UnsetMask |= bit; break;
    case fsAnySet: AnySetMask |= bit; break;
    case fsAnyUnset: AnyUnsetMask |= bit; break;
    case fsIgnore: break;
  }
}

// --- TDateTimeCriteria ---

void TDateTimeCriteria::Assign(const TCustomCriteria* source) {
  const auto* other = dynamic_cast<const TDateTimeCriteria*>(source);
  if (other == nullptr) AssignError(source);
  CreatedBefore = other->CreatedBefore;
  CreatedAfter = other->CreatedAfter;
  ModifiedBefore = other->ModifiedBefore;
  ModifiedAfter = other->ModifiedAfter;
  AccessedBefore = other->AccessedBefore;
  AccessedAfter = other->AccessedAfter;
}

void TDateTimeCriteria::Clear() {
  CreatedBefore = CreatedAfter = ModifiedBefore = ModifiedAfter = AccessedBefore = AccessedAfter =
      0;
}

bool TDateTimeCriteria::Matches(std::uint64_t created, std::uint64_t written,
                                std::uint64_t accessed, LocalTimePort& localTime) const {
  auto pairPasses = [&localTime](std::uint64_t fileTime, TDateTime before, TDateTime after) {
    if (before == 0 && after == 0) return true;
    return IsTimeInRange(FileTimeToLocalDateTime(fileTime, localTime), before, after);
  };
  return pairPasses(created, CreatedBefore, CreatedAfter) &&
         pairPasses(written, ModifiedBefore, ModifiedAfter) &&
         pairPasses(accessed, AccessedBefore, AccessedAfter);
}

// --- TSizeCriteria ---

void TSizeCriteria::Assign(const TCustomCriteria* source) {
  const auto* other = dynamic_cast<const TSizeCriteria*>(source);
  if (other == nullptr) AssignError(source);
  Min = other->Min;
  Max = other->Max;
}

void TSizeCriteria::Clear() { Min = Max = 0; }

// --- TSearchCriteria ---

void TSearchCriteria::Assign(const TCustomCriteria* source) {
  const auto* other = dynamic_cast<const TSearchCriteria*>(source);
  if (other == nullptr) AssignError(source);
  files_.Assign(&other->files_);
  attributes_.Assign(&other->attributes_);
  timeStamp_.Assign(&other->timeStamp_);
  size_.Assign(&other->size_);
}

void TSearchCriteria::Clear() {
  files_.Clear();
  attributes_.Clear();
  timeStamp_.Clear();
  size_.Clear();
}

bool TSearchCriteria::Matches(const std::string& folder, const TFindData& entry,
                              LocalTimePort& localTime) const {
  return attributes_.Matches(entry.Attributes) && size_.Matches(entry.Size()) &&
         timeStamp_.Matches(entry.CreationTime, entry.LastWriteTime, entry.LastAccessTime,
                            localTime) &&
         files_.Matches(folder, entry.Name);
}

}  // namespace kestrava

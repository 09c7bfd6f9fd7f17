// The host adapters on real temporary folders.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "common/civil_date.h"
#include "search/find_file.h"

namespace kestrava {
namespace {

namespace fs = std::filesystem;

class TempTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestrava-search-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root_ / "ro", fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }
  void Write(const std::string& relative, std::size_t bytes) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << std::string(bytes, 'x');
  }
  std::string Root() const { return root_.string() + "/"; }

  fs::path root_;
};

TEST_F(TempTree, EnumerationMapsTypesModesAndTimes) {
  Write("plain.txt", 10);
  Write(".hidden", 1);
  Write("sub/inner", 0);
  fs::create_directory_symlink(root_ / "sub", root_ / "link");
  Write("ro", 3);
  fs::permissions(root_ / "ro", fs::perms::owner_read);
  const timeval times[2] = {{1700000000, 0}, {1600000000, 500000}};  // access, write
  ASSERT_EQ(utimes((root_ / "plain.txt").c_str(), times), 0);

  DirectoryPort& dir = PlatformDirectory();
  std::map<std::string, TFindData> seen;
  TFindData d;
  DirectoryPort::Handle h = DirectoryPort::kInvalid;
  ASSERT_EQ(dir.FindFirst(Root() + "*", d, &h), err::kSuccess);
  ASSERT_NE(h, DirectoryPort::kInvalid);
  do seen[d.Name] = d;
  while (dir.FindNext(h, d) == err::kSuccess);
  dir.FindClose(h);

  ASSERT_EQ(seen.size(), 7u) << "., .., plain.txt, .hidden, sub, link, ro";
  EXPECT_EQ(seen["."].Attributes & attr::kDirectory, attr::kDirectory);
  EXPECT_EQ(seen["."].Attributes & attr::kHidden, 0u);
  EXPECT_EQ(seen["plain.txt"].Attributes, attr::kNormal);
  EXPECT_EQ(seen["plain.txt"].Size(), 10);
  EXPECT_EQ(seen["plain.txt"].LastWriteTime, (1600000000ULL + 11644473600ULL) * 10000000ULL + 5000000ULL);
  EXPECT_EQ(seen["plain.txt"].LastAccessTime, (1700000000ULL + 11644473600ULL) * 10000000ULL);
  EXPECT_EQ(seen[".hidden"].Attributes, attr::kHidden);
  EXPECT_EQ(seen["sub"].Attributes, attr::kDirectory);
  EXPECT_EQ(seen["sub"].Size(), 0);
  EXPECT_EQ(seen["link"].Attributes, attr::kReparsePoint) << "a link is not a folder to walk";
  EXPECT_EQ(seen["ro"].Attributes, attr::kReadonly);

  DirectoryPort::Handle none = DirectoryPort::kInvalid;
  EXPECT_EQ(dir.FindFirst(Root() + "missing/*", d, &none), err::kPathNotFound);
  EXPECT_EQ(dir.FindFirst(Root() + "*.none", d, &none), err::kFileNotFound);
  EXPECT_EQ(none, DirectoryPort::kInvalid);
  DirectoryPort::Handle masked = DirectoryPort::kInvalid;
  ASSERT_EQ(dir.FindFirst(Root() + "*.txt", d, &masked), err::kSuccess);
  ASSERT_NE(masked, DirectoryPort::kInvalid);
  EXPECT_EQ(d.Name, "plain.txt");
  EXPECT_EQ(dir.FindNext(masked, d), err::kNoMoreFiles);
  dir.FindClose(masked);
}

TEST_F(TempTree, AFolderOnlyListingLeavesOtherEntriesOut) {
  Write("file", 1);
  Write("sub/x", 1);
  fs::create_directory_symlink(root_ / "sub", root_ / "link");
  DirectoryPort& dir = PlatformDirectory();
  std::set<std::string> names;
  TFindData d;
  DirectoryPort::Handle h = DirectoryPort::kInvalid;
  ASSERT_EQ(dir.FindFirst(Root() + "*", d, &h, FindScope::kFoldersOnly), err::kSuccess);
  ASSERT_NE(h, DirectoryPort::kInvalid);
  do {
    EXPECT_TRUE(d.Attributes & attr::kDirectory) << d.Name;
    names.insert(d.Name);
  } while (dir.FindNext(h, d) == err::kSuccess);
  dir.FindClose(h);
  EXPECT_EQ(names, (std::set<std::string>{"sub"}));
  // A folder without subfolders has nothing to list at all.
  DirectoryPort::Handle none = DirectoryPort::kInvalid;
  EXPECT_EQ(dir.FindFirst(Root() + "sub/*", d, &none, FindScope::kFoldersOnly), err::kFileNotFound);
  EXPECT_EQ(none, DirectoryPort::kInvalid);
  Write("sub/deeper/y", 1);
  DirectoryPort::Handle again = DirectoryPort::kInvalid;
  ASSERT_EQ(dir.FindFirst(Root() + "sub/*", d, &again, FindScope::kFoldersOnly), err::kSuccess);
  ASSERT_NE(again, DirectoryPort::kInvalid);
  EXPECT_EQ(d.Name, "deeper");
  dir.FindClose(again);
}

// Two zones with daylight saving and the UTC offsets their rules give, worked out here from the
// rules themselves: both change on the last Sunday of March and of October, Central Europe at
// 01:00 UTC, the zone at UTC-3:30 (summer UTC-2:30) at 02:00 standard time = 05:30 UTC in March
// and at 03:00 summer time = 05:30 UTC in October.
struct ZoneRules {
  const char* tz;
  long standardOffset;
  long summerOffset;
  long changeSecondUtc;  // of the day of the change
};
const ZoneRules kZones[] = {
    {"CET-1CEST,M3.5.0,M10.5.0/3", 3600, 7200, 3600},
    {"XST3:30XDT,M3.5.0/2,M10.5.0/3", -12600, -9000, 19800},
};

long long LastSundayOf(int year, int month) {
  const long long last = DaysFromCivil(year, month + 1, 1) - 1;
  return last - (last + 4) % 7;  // 1970-01-01 was a Thursday
}

long RuleOffset(const ZoneRules& zone, long long utc) {
  const int year = CivilFromDays(utc >= 0 ? utc / 86400 : (utc - 86399) / 86400).year;
  const long long start = LastSundayOf(year, 3) * 86400 + zone.changeSecondUtc;
  const long long end = LastSundayOf(year, 10) * 86400 + zone.changeSecondUtc;
  return utc >= start && utc < end ? zone.summerOffset : zone.standardOffset;
}

// The adapter asks for the offset of now once a second: a new TZ shows from the next second on.
void UseZone(const char* tz) {
  if (tz != nullptr) setenv("TZ", tz, 1); else unsetenv("TZ");
  tzset();
  const time_t start = time(nullptr);
  while (time(nullptr) == start) usleep(20000);
}

// As FileTimeToLocalFileTime does, the adapter shifts every time by the offset in force now, the
// one of winter or of summer alike, on every side of a daylight-saving change.
TEST(PosixLocalTime, ShiftsEveryTimeByTheOffsetInForceNow) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  LocalTimePort& port = PlatformLocalTime();
  auto local = [&port](long long t) {
    const std::uint64_t fileTime = static_cast<std::uint64_t>(t + 11644473600LL) * 10000000ULL + 1234567;
    LocalTimeFields f;
    EXPECT_EQ(port.ToLocalFields(fileTime, &f), err::kSuccess);
    return f;
  };
  for (const ZoneRules& zone : kZones) {
    UseZone(zone.tz);
    const long offset = RuleOffset(zone, time(nullptr));
    const LocalTimeFields january = local(1705320000LL);  // 2024-01-15 12:00 UTC
    const LocalTimeFields july = local(1721044800LL);     // 2024-07-15 12:00 UTC
    EXPECT_EQ(january.Hour * 60 + january.Minute, 12 * 60 + offset / 60) << zone.tz;
    EXPECT_EQ(july.Hour * 60 + july.Minute, 12 * 60 + offset / 60) << zone.tz;
    for (const long long day : {1711843200LL, 1729987200LL}) {  // 2024-03-31, 2024-10-27 00:00 UTC
      for (long long t = day - 86400; t <= day + 86400; t += 397) {
        const LocalTimeFields f = local(t);
        const time_t shifted = static_cast<time_t>(t + offset);
        std::tm tm{};
        gmtime_r(&shifted, &tm);
        EXPECT_EQ(f.Year, tm.tm_year + 1900);
        EXPECT_EQ(f.Month, tm.tm_mon + 1);
        EXPECT_EQ(f.Day, tm.tm_mday);
        EXPECT_EQ(f.Hour, tm.tm_hour) << zone.tz << " " << t;
        EXPECT_EQ(f.Minute, tm.tm_min);
        EXPECT_EQ(f.Second, tm.tm_sec);
        EXPECT_EQ(f.Milliseconds, 123);
      }
    }
  }
  UseZone(old ? saved.c_str() : nullptr);
}

TEST_F(TempTree, FullPathsAreResolvedAgainstTheCurrentDirectory) {
  PathPort& paths = PlatformPaths();
  std::string full;
  ASSERT_EQ(paths.FullPath("/a/b/../c/./d/", &full), err::kSuccess);
  EXPECT_EQ(full, "/a/c/d/");
  ASSERT_EQ(paths.FullPath("/a//b", &full), err::kSuccess);
  EXPECT_EQ(full, "/a/b");
  const fs::path before = fs::current_path();
  fs::current_path(root_);
  ASSERT_EQ(paths.FullPath("x/y", &full), err::kSuccess);
  fs::current_path(before);
  EXPECT_EQ(full, fs::canonical(root_).string() + "/x/y");
}

TEST_F(TempTree, TheEnginesSearchListsEveryFileOnceAndLeavesLinksAlone) {
  Write("a", 1);
  Write(".h/b", 2);
  Write("s/t/c", 3);
  fs::create_directory_symlink(root_, root_ / "s" / "loop");  // would never end if followed
  TFindFile finder;
  finder.Criteria().Files().SetFileName("*");
  finder.Criteria().Files().SetLocation(root_.string() + ";");
  finder.Criteria().Attributes().Clear();
  finder.Criteria().Attributes().SetDirectory(fsAnyUnset);
  std::map<std::string, std::int64_t> found;
  finder.OnFileMatch = [&](TFindFile&, const TFileDetails& d) { found[d.Folder + d.Name] += d.Size; };
  finder.Execute();
  const std::string r = Root();
  EXPECT_EQ(found, (std::map<std::string, std::int64_t>{
                       {r + "a", 1}, {r + ".h/b", 2}, {r + "s/t/c", 3}, {r + "s/loop", 0}}));
}

}  // namespace
}  // namespace kestrava

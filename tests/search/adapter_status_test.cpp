// The platform's own adapters (Win32 under Wine, POSIX on the host) on a failing call: each gives
// the code Windows gives and leaves what the caller handed it as it was.
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "search/search_ports.h"

namespace kestrava {
namespace {

namespace fs = std::filesystem;

// What a caller hands in, filled with values no adapter would write.
struct Outputs {
  TFindData entry;
  DirectoryPort::Handle handle = 77;
  std::string text = "as handed in";
  LocalTimeFields fields{-1, -1, -1, -1, -1, -1, -1};

  Outputs() {
    entry.Attributes = 0xDEADu;
    entry.LastWriteTime = 12345;
    entry.Name = "as handed in";
  }
  bool Untouched() const {
    const Outputs fresh;
    return entry.Attributes == fresh.entry.Attributes &&
           entry.LastWriteTime == fresh.entry.LastWriteTime && entry.Name == fresh.entry.Name &&
           handle == fresh.handle && text == fresh.text && fields.Year == -1 &&
           fields.Month == -1 && fields.Day == -1 && fields.Hour == -1 && fields.Minute == -1 &&
           fields.Second == -1 && fields.Milliseconds == -1;
  }
};

TEST(PlatformAdapters, AFailingCallGivesWindowsCodeAndLeavesTheOutputsAlone) {
  const std::string sep(1, PlatformPaths().Separator());
  const fs::path folder = fs::temp_directory_path() / "kestrava-status-test";
  fs::remove_all(folder);
  ASSERT_TRUE(fs::create_directory(folder));
  std::ofstream(folder / "only.txt") << "x";
  const std::string root = folder.string() + sep;
  DirectoryPort& dir = PlatformDirectory();

  struct Case {
    const char* what;
    std::function<WinError(Outputs&)> call;
    WinError code;
  } cases[] = {
      {"listing a missing folder",
       [&](Outputs& o) { return dir.FindFirst(root + "missing" + sep + "*", o.entry, &o.handle); },
       err::kPathNotFound},
      {"listing a mask nothing matches",
       [&](Outputs& o) { return dir.FindFirst(root + "*.none", o.entry, &o.handle); },
       err::kFileNotFound},
      {"reading past the last entry",
       [&](Outputs& o) {
         TFindData first;
         DirectoryPort::Handle h = DirectoryPort::kInvalid;
         EXPECT_EQ(dir.FindFirst(root + "only.txt", first, &h), err::kSuccess);
         EXPECT_EQ(first.Name, "only.txt");
         const WinError code = dir.FindNext(h, o.entry);
         dir.FindClose(h);
         return code;
       },
       err::kNoMoreFiles},
      {"the network name of a local path",
       [&](Outputs& o) { return PlatformPaths().UniversalName(root + "only.txt", &o.text); },
       err::kNotConnected},
      {"a file time beyond the calendar",
       [&](Outputs& o) { return PlatformLocalTime().ToLocalFields(0xC000000000000000ull, &o.fields); },
       err::kInvalidParameter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outputs outputs;
    EXPECT_EQ(c.call(outputs), c.code);
    EXPECT_TRUE(outputs.Untouched());
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace kestrava

// The finder beside find(1) on one generated tree, and the matchers on hostile input beside glibc
// fnmatch on typical masks. Every figure is measured in this run, side by side; the ratios are
// what to look at (finder / find at most 1.0).
//
// Usage: search_bench [folders-per-level files-per-folder]   (defaults 45 100: 202,500 files)
#include <fnmatch.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/wildcard.h"
#include "search/find_file.h"
#include "search/text.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace kestrava;

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename F>
double Time(F f) {
  const auto start = Clock::now();
  f();
  return Seconds(Clock::now() - start);
}

// Two levels of folders, files in the lower ones: names like a game's data files.
std::size_t MakeTree(const fs::path& root, int perLevel, int filesPerFolder) {
  std::size_t entries = 0;
  const char* extensions[] = {".pak", ".dat", ".exe", ".dll", ".ini", ".txt", ""};
  for (int a = 0; a < perLevel; ++a) {
    const fs::path top = root / ("data" + std::to_string(a));
    fs::create_directory(top);
    ++entries;
    for (int b = 0; b < perLevel; ++b) {
      const fs::path folder = top / ("part" + std::to_string(b));
      fs::create_directory(folder);
      ++entries;
      for (int f = 0; f < filesPerFolder; ++f) {
        std::ofstream(folder / ("asset_" + std::to_string(f) + extensions[f % 7])) << f;
        ++entries;
      }
    }
  }
  return entries;
}

std::size_t RunFinder(const std::string& root) {
  TFindFile finder;
  finder.Criteria().Files().SetFileName("*");
  finder.Criteria().Files().SetLocation(root + ";");
  finder.Criteria().Files().SetSubfolders(true);
  finder.Criteria().Attributes().Clear();
  finder.Criteria().Attributes().SetDirectory(fsAnyUnset);
  std::size_t count = 0;
  std::int64_t bytes = 0;
  finder.OnFileMatch = [&](TFindFile&, const TFileDetails& d) {
    ++count;
    bytes += d.Size;
  };
  finder.Execute();
  return count + static_cast<std::size_t>(bytes & 0);
}

}  // namespace

int main(int argc, char** argv) {
  const int perLevel = argc > 2 ? std::atoi(argv[1]) : 45;
  const int files = argc > 2 ? std::atoi(argv[2]) : 100;
  char pattern[] = "/tmp/kestrava-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const fs::path root = pattern;
  std::printf("machine: %u hardware threads\n", std::thread::hardware_concurrency());

  std::size_t entries = 0;
  const double make = Time([&] { entries = MakeTree(root, perLevel, files); });
  std::printf("tree: %zu entries under %s (made in %.1f s)\n", entries, root.c_str(), make);

  const std::string findCommand = "find '" + root.string() + "' -printf '%s %T@ %p\\n' > /dev/null";
  if (std::system(findCommand.c_str()) != 0) return 1;  // warms the caches for both
  RunFinder(root.string());

  double bestFinder = 1e9, bestFind = 1e9;
  std::size_t reported = 0;
  for (int round = 0; round < 5; ++round) {
    bestFind = std::min(bestFind, Time([&] { (void)std::system(findCommand.c_str()); }));
    bestFinder = std::min(bestFinder, Time([&] { reported = RunFinder(root.string()); }));
  }
  std::printf("finder: %zu files reported, best of 5 %.3f s\n", reported, bestFinder);
  std::printf("find:   best of 5 %.3f s\n", bestFind);
  std::printf("ratio finder/find: %.2f (target <= 1.0)\n", bestFinder / bestFind);

  // Matchers. Hostile: the definitions' recursion would take exponential time here.
  const std::string run(10000, 'a');
  const char* hostile = "*a*a*a*a*a*a*a*a*b";
  int sink = 0;
  const int hostileRounds = 20;
  const double wildcardHostile = Time([&] {
    for (int i = 0; i < hostileRounds; ++i) sink += WildcardMatch(run.c_str(), hostile);
  }) / hostileRounds;
  const double filterHostile = Time([&] {
    for (int i = 0; i < hostileRounds; ++i) sink += MatchFilterPattern(run, hostile);
  }) / hostileRounds;

  const std::vector<std::string> names = {"asset_12.pak", "Game.exe", "readme", "d3d9.dll",
                                          "settings.ini", "save_001.sav", "x.txt", "intro.bik"};
  const std::vector<std::string> masks = {"*.exe", "*.*", "save_???.sav", "*a*e*", "d3d?.dll"};
  const int typicalRounds = 200000;
  auto perCall = [&](auto match) {
    return Time([&] {
             for (int i = 0; i < typicalRounds; ++i) {
               for (const auto& m : masks) sink += match(names[i % names.size()], m);
             }
           }) /
           (typicalRounds * masks.size());
  };
  const double fnmatchTypical = perCall([](const std::string& n, const std::string& m) {
    return fnmatch(m.c_str(), n.c_str(), 0) == 0;
  });
  const double wildcardTypical = perCall([](const std::string& n, const std::string& m) {
    return MatchesWildcard(n, m);
  });
  const double filterTypical = perCall([](const std::string& n, const std::string& m) {
    return MatchFilterPattern(n, m);
  });
  std::printf("fnmatch, typical masks:          %8.0f ns per call\n", fnmatchTypical * 1e9);
  std::printf("WildcardMatch, typical masks:    %8.0f ns per call (ratio to fnmatch %.2f)\n",
              wildcardTypical * 1e9, wildcardTypical / fnmatchTypical);
  std::printf("MatchFilterPattern, typical:     %8.0f ns per call (ratio to fnmatch %.2f)\n",
              filterTypical * 1e9, filterTypical / fnmatchTypical);
  std::printf("WildcardMatch, %s on %zu x 'a':      %8.0f us per call (ratio to fnmatch typical %.0f)\n",
              hostile, run.size(), wildcardHostile * 1e6, wildcardHostile / fnmatchTypical);
  std::printf("MatchFilterPattern, same input:  %8.0f us per call (ratio to fnmatch typical %.0f)\n",
              filterHostile * 1e6, filterHostile / fnmatchTypical);

  const double clean = Time([&] { fs::remove_all(root); });
  std::printf("(tree removed in %.1f s; checksum %d)\n", clean, sink & 1);
  return 0;
}

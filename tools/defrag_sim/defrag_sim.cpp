// defrag_sim: runs the defragmentation engine, with the real file finder, on a simulated volume
// read from a text file (tests/sim/volume_file.h) and prints what happened, one line each, in the
// order it happened, so that a volume a property test left behind can be replayed and read:
//
//   log <debug line>             every debug-output line as written ("Tarnwell:..."; CR and LF
//                                inside a line printed as \r and \n)
//   progress <path>              every OnProgress
//   skip <path> <0|1> <size>     every OnSkipFile (1: a file)
//   result true|false|exception <message>
//   preview <name> <value>       with --preview, instead of a run: the survey a preview of a boost
//                                makes, nothing moved (items, fragmented, fragmented-clusters,
//                                free-clusters, largest-free-run), after its result line
//   <the volume after the run, in the input format>
//   check content=<ok|changed> shared=<clusters owned twice> bitmap=<ok|wrong>
//
// Usage: defrag_sim VOLUME FOLDER [--fail-move N] [--abort-at-event N] [--preview]. A malformed
// volume or bad arguments: a message on stderr and exit code 2.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "common/debug_log.h"
#include "common/wide.h"
#include "defrag/fast_defrag_engine.h"
#include "tests/sim/simulated_volume.h"
#include "tests/sim/volume_file.h"

namespace {

using namespace kestrava;

constexpr int kUsageExit = 2;

struct Options {
  std::string volumeFile;
  std::string folder;
  std::uint64_t failMove = 0;      // 0: no move fails
  std::uint64_t abortAtEvent = 0;  // 0: no abort
  bool preview = false;            // survey the folder instead of defragmenting it
};

void PrintUsage() {
  std::cerr << "usage: defrag_sim VOLUME FOLDER [--fail-move N] [--abort-at-event N] "
               "[--preview]\n"
               "  VOLUME  a simulated volume as text (tests/sim/volume_file.h)\n"
               "  FOLDER  the folder to defragment, e.g. C:\\Games\n"
               "  --fail-move N       the Nth move call fails with error 5 (N from 1)\n"
               "  --abort-at-event N  the Nth progress or skip event sets abort (N from 1)\n"
               "  --preview           survey the folder as a preview does, moving nothing\n";
}

// A whole decimal number from 1 up that fits 64 bits.
bool ParsePositive(const std::string& text, std::uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return *value > 0;
}

bool ParseArguments(int argc, char** argv, Options* options) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--preview") {
      options->preview = true;
    } else if (arg == "--fail-move" || arg == "--abort-at-event") {
      if (i + 1 >= argc) return false;
      std::uint64_t* target = arg == "--fail-move" ? &options->failMove : &options->abortAtEvent;
      if (!ParsePositive(argv[++i], target)) return false;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return false;
    } else if (positional == 0) {
      options->volumeFile = arg;
      ++positional;
    } else if (positional == 1) {
      options->folder = arg;
      ++positional;
    } else {
      return false;
    }
  }
  return positional == 2 && !options->folder.empty();
}

// One output line must stay one line: CR and LF become the two characters \r and \n.
std::string OneLine(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

// Prints each debug line at once, so that it lands among the events in the order of the run.
class PrintingDebugOutput final : public DebugOutputPort {
 public:
  PrintingDebugOutput() : previous_(SetDebugOutput(this)) {}
  ~PrintingDebugOutput() override { SetDebugOutput(previous_); }
  PrintingDebugOutput(const PrintingDebugOutput&) = delete;
  PrintingDebugOutput& operator=(const PrintingDebugOutput&) = delete;
  void Write(const std::string& line) override { std::cout << "log " << OneLine(line) << "\n"; }

 private:
  DebugOutputPort* previous_;
};

int Run(const Options& options) {
  sim::SimulatedVolume volume = sim::LoadVolumeFile(options.volumeFile);
  volume.FailMoveAt(options.failMove);

  DefragPorts ports;
  ports.volume = &volume;
  ports.search.directory = &volume;
  ports.search.paths = &volume;
  TFastDefragEngine engine(ports);

  std::uint64_t events = 0;
  auto countEvent = [&](bool& abort) {
    if (++events == options.abortAtEvent) abort = true;
  };
  engine.OnProgress = [&](DefragEngine&, bool& abort, const std::wstring& name) {
    std::cout << "progress " << OneLine(WideToAnsi(name)) << "\n";
    countEvent(abort);
  };
  engine.OnSkipFile = [&](DefragEngine&, const std::wstring& name, bool& abort, bool isFile,
                          std::int64_t size) {
    std::cout << "skip " << OneLine(WideToAnsi(name)) << " " << (isFile ? 1 : 0) << " " << size
              << "\n";
    countEvent(abort);
  };

  {
    PrintingDebugOutput output;
    try {
      FolderSurvey survey;
      const bool result = options.preview ? engine.SurveyFolder(options.folder, false, survey)
                                          : engine.DefragFolder(options.folder, false);
      std::cout << "result " << (result ? "true" : "false") << "\n";
      if (options.preview && result) {
        std::cout << "preview items " << survey.items << "\n"
                  << "preview fragmented " << survey.fragmented << "\n"
                  << "preview fragmented-clusters " << survey.fragmentedClusters << "\n"
                  << "preview free-clusters " << survey.freeClusters << "\n"
                  << "preview largest-free-run " << survey.largestFreeRun << "\n";
      }
    } catch (const std::exception& e) {
      std::cout << "result exception " << OneLine(e.what()) << "\n";
    }
  }

  std::cout << sim::VolumeText(volume);
  const sim::CheckResult check = volume.Check();
  std::cout << "check content=" << (check.contentOk ? "ok" : "changed")
            << " shared=" << check.sharedClusters << " bitmap=" << (check.bitmapOk ? "ok" : "wrong")
            << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    PrintUsage();
    return kUsageExit;
  }
  try {
    return Run(options);
  } catch (const sim::VolumeFileError& e) {
    std::cerr << "defrag_sim: " << options.volumeFile << ": " << e.what() << "\n";
    return kUsageExit;
  }
}

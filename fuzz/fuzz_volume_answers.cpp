// The folder run, with its real file finder, on a small folder and a volume whose answers come
// from the input (fuzz/volume_answers.h). No crash, no read outside a buffer, no handle left open,
// every event about an item of the folder, and every loop bounded: an abort is obeyed, and the
// volume counts the calls.
//
// Input: cluster size, flags, the event to abort at, repeats, the volume's size, the folder
// listing, then answer templates to the end (each a tag byte: open outcome, bitmap window, extent
// map, move outcome or, with the tag's top bit, where the MFT zone lies).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/debug_log.h"
#include "common/error.h"
#include "defrag/fast_defrag_engine.h"
#include "fuzz/volume_answers.h"
#include "tests/doubles/memory_file_system.h"

using namespace kestrava;
using namespace kestrava::fuzzing;

namespace {

class Discard final : public DebugOutputPort {
 public:
  void Write(const std::string&) override {}
};

constexpr const char* kRoot = "C:\\G";
// A user who has watched this many events presses Abort; past kEventCeiling the abort was
// ignored.
constexpr long kAbortEvents = 20000;
constexpr long kEventCeiling = 1000000;

std::uint32_t ClusterSizeOf(std::uint8_t selector, InputBytes& in, WinError& error) {
  static constexpr std::uint32_t kSizes[] = {4096, 512, 1024, 2048, 65536, 2097152};
  error = 0;
  if (selector % 8 == 6) return in.U32();
  if (selector % 8 == 7) error = err::kInvalidParameter;
  return kSizes[selector % 8 % 6];
}

// Up to eight files and folders under the root, with the attributes the engine cares about.
void ReadListing(InputBytes& in, testing::MemoryFileSystem& fs) {
  static constexpr const char* kExtensions[] = {"",     ".txt", ".doc", ".log",
                                                ".pak", ".TXT", ".d",   ".log.bak"};
  static constexpr std::uint32_t kAttributeBits[] = {
      attr::kDirectory, attr::kCompressed, attr::kSparseFile, attr::kEncrypted,
      attr::kHidden,    attr::kSystem,     attr::kReadonly,   attr::kReparsePoint};
  std::vector<std::string> folders{kRoot};
  fs.AddFolder(kRoot);
  const int count = in.Byte() % 9;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t place = in.Byte();
    const std::uint8_t bits = in.Byte();
    const std::int64_t size = std::int64_t{in.Byte()} * 1000;
    std::uint32_t attributes = 0;
    for (int b = 0; b < 8; ++b) {
      if (bits & 1 << b) attributes |= kAttributeBits[b];
    }
    const std::string& parent = folders[place % folders.size()];
    const bool isFolder = (attributes & attr::kDirectory) != 0;
    const std::string path =
        parent + (isFolder ? "\\d" : "\\f") + std::to_string(i) + kExtensions[place >> 3 & 7];
    if (isFolder) {
      fs.AddFolder(path, attributes);
      folders.push_back(path);
      if (place & 0x40) fs.Deny(path);
    } else {
      fs.AddFile(path, size, attributes | attr::kArchive);
    }
  }
}

void ReadAnswers(InputBytes& in, FuzzVolume& volume) {
  while (!in.Empty()) {
    const std::uint8_t tag = in.Byte();
    switch (tag % 4) {
      case 0: volume.opens.answers.push_back(ErrorOf(tag >> 2)); break;
      case 1: volume.bitmaps.answers.emplace_back().Read(tag, in); break;
      case 2: volume.extents.answers.emplace_back().Read(tag, in); break;
      default:
        if (tag & 0x80) {
          volume.volumeData.answers.emplace_back().Read(tag, in);
        } else {
          volume.moves.answers.push_back(ErrorOf(tag >> 2));
        }
        break;
    }
  }
}

}  // namespace

// The engine's debug lines are dropped, unless KESTRAVA_DEBUG_STDERR asks the host's own output
// for them (to see what the engine made of an input that fails).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static Discard discard;
  if (std::getenv("KESTRAVA_DEBUG_STDERR") == nullptr) SetDebugOutput(&discard);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputBytes in(data, size);
  FuzzVolume volume;
  volume.clusterSize = ClusterSizeOf(in.Byte(), in, volume.clusterSizeError);
  const std::uint8_t flags = in.Byte();
  const bool filesOnly = flags & 1;
  const long abortAt = in.U16();
  // How often the last template of the kinds the flags name is repeated: a few times, or, rarely,
  // forever (repeats cost time: an endless "more data" takes the engine's limit of calls).
  const std::uint8_t repeat = in.Byte();
  const long repeats = repeat == 0xFF ? AnswerQueue<WinError>::kForever : repeat % 32;
  volume.bitmaps.repeats = flags & 2 ? repeats : 0;
  volume.extents.repeats = flags & 4 ? repeats : 0;
  volume.moves.repeats = flags & 8 ? repeats : 0;
  volume.opens.repeats = flags & 16 ? repeats : 0;
  // Up to 4 bitmap windows (the scan of each costs more than all else); the last value, a volume
  // that never ends.
  const std::uint8_t volumeSize = in.Byte();
  volume.endless = volumeSize == 0xFF;
  volume.clusters = (std::int64_t{volumeSize} + 1) * 512;

  testing::MemoryFileSystem fs;
  testing::FixedOffsetTime localTime;
  InlineThreads threads;
  ReadListing(in, fs);
  ReadAnswers(in, volume);

  DefragPorts ports;
  ports.volume = &volume;
  ports.search.directory = &fs;
  ports.search.paths = &fs;
  ports.search.localTime = &localTime;
  ports.search.threads = &threads;
  long events = 0;
  auto event = [&](bool& abort, const std::wstring& name) {
    ++events;
    Check(events <= kEventCeiling);
    Check(name.rfind(L"C:\\G\\", 0) == 0 && name.size() > 5);
    if (events == abortAt || events >= kAbortEvents) abort = true;
  };
  {
    TFastDefragEngine engine(ports);
    engine.OnProgress = [&](DefragEngine&, bool& abort, const std::wstring& name) {
      event(abort, name);
    };
    engine.OnSkipFile = [&](DefragEngine&, const std::wstring& name, bool& abort, bool,
                            std::int64_t) { event(abort, name); };
    try {
      engine.DefragFolder(kRoot, filesOnly);
    } catch (const KestravaError&) {
      // The volume could not be opened or its cluster size read: raised by design.
    }
  }
  Check(volume.OpenHandles() == 0);
  Check(fs.openHandles == 0);
  return 0;
}

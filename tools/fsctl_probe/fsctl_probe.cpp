// fsctl_probe: asks the running system how it answers the volume calls of the defragmentation
// engine, through the engine's own Win32 adapter (PlatformVolumeDevice), and prints one fact per
// line. A measuring tool: what Windows and Wine answer is written down in docs/wine-volumes.md.
//
//   fsctl_probe [-lcn N] [-lock LABEL=PATH] [LABEL=PATH ...]
//
// Lines ("key value ..."; codes are Win32 error codes, 0 = success):
//   os MAJOR.MINOR.BUILD wow64 0|1 acp CODEPAGE (the narrow paths' code page)
//   volume-open NAME code C untouched 0|1      NAME: c ("\\.\C:"), q (a missing drive Q:), and
//                                              the first character of a user's odd path: unc
//                                              ("\\server\share"), space (" C:\x"), digit ("1:\")
//   cluster-size ROOT code C bytes N
//   volume-bitmap from LCN out LENGTH code C bytes B [starting-lcn X bitmap-size Y used-bits U]
//   lock LABEL code C                          an exclusive open held while LABEL is probed
//   item LABEL folder 0|1
//   item LABEL open-inspect code C
//   item LABEL retrieval TAG code C bytes B [extent-count N starting-vcn S parsed P]
//   item LABEL extent TAG I next-vcn V lcn L
//   item LABEL open-move code C
//   item LABEL move-file TARGET code C         TARGET: volume (the volume handle) or item
//
// The retrieval TAGs: out65536 and out32 from VCN 0, out32-next from the last NextVcn after a
// 234, and the malformed calls the engine must never rely on: in4 (input shorter than a VCN),
// out16 (output shorter than the head), vcn-1 (negative), vcn-past (far past the end).
//
// -lcn N: the StartingLcn of the move attempts (default 100000); one cluster from VCN 0.
// Exit code 0, or 2 on a usage error.
#include <windows.h>
#include <winioctl.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "win32/redirection_win.h"
#include "defrag/volume_port.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

// The engine builds these structures as bytes; the offsets are those of Windows' own structures.
constexpr std::size_t kMoveHandle = 0, kMoveStartingVcn = 8, kMoveStartingLcn = 16,
                      kMoveClusterCount = 24, kMoveLength = 32;
static_assert(offsetof(MOVE_FILE_DATA, FileHandle) == kMoveHandle &&
                  offsetof(MOVE_FILE_DATA, StartingVcn) == kMoveStartingVcn &&
                  offsetof(MOVE_FILE_DATA, StartingLcn) == kMoveStartingLcn &&
                  offsetof(MOVE_FILE_DATA, ClusterCount) == kMoveClusterCount &&
                  sizeof(MOVE_FILE_DATA) == kMoveLength,
              "MOVE_FILE_DATA as Windows lays it out");
static_assert(offsetof(RETRIEVAL_POINTERS_BUFFER, StartingVcn) == 8 &&
                  offsetof(RETRIEVAL_POINTERS_BUFFER, Extents) == 16 &&
                  sizeof(RETRIEVAL_POINTERS_BUFFER::Extents[0]) == 16,
              "RETRIEVAL_POINTERS_BUFFER as Windows lays it out");
static_assert(offsetof(VOLUME_BITMAP_BUFFER, BitmapSize) == 8 &&
                  offsetof(VOLUME_BITMAP_BUFFER, Buffer) == 16,
              "VOLUME_BITMAP_BUFFER as Windows lays it out");

void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);  // Windows block-buffers a redirected stdout
}

std::int64_t Int64At(const std::vector<unsigned char>& bytes, std::size_t offset) {
  std::int64_t value = 0;
  std::memcpy(&value, &bytes[offset], sizeof value);
  return value;
}

std::string Narrow(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string result(length > 0 ? length : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0], length, nullptr, nullptr);
  result.resize(std::strlen(result.c_str()));
  return result;
}

struct Item {
  std::string label;
  std::wstring path;
  bool lock = false;
};

void ProbeVolumeOpen(VolumeDevicePort& port, const char* name, const std::string& path) {
  constexpr VolumeDevicePort::Handle kSentinel = 0x5A5A;
  VolumeDevicePort::Handle handle = kSentinel;
  const WinError code = port.OpenVolume(path, &handle);
  Line("volume-open %s code %lu untouched %d", name, static_cast<unsigned long>(code),
       handle == kSentinel ? 1 : 0);
  if (code == 0 && handle != kSentinel) port.Close(handle);
}

void ProbeClusterSize(VolumeDevicePort& port, const char* root) {
  std::uint32_t bytes = 0;
  const WinError code = port.ClusterSize(root, &bytes);
  Line("cluster-size %s code %lu bytes %lu", root, static_cast<unsigned long>(code),
       static_cast<unsigned long>(bytes));
}

void ProbeBitmap(VolumeDevicePort& port, VolumeDevicePort::Handle volume, std::int64_t fromLcn,
                 std::uint32_t outLength) {
  std::vector<unsigned char> out(outLength > 0 ? outLength : 1);
  std::uint32_t returned = 0xFFFFFFFF;
  const WinError code = port.Control(volume, fsctl::kGetVolumeBitmap, &fromLcn, sizeof fromLcn,
                                     out.data(), outLength, &returned);
  std::string line = "volume-bitmap from " + std::to_string(fromLcn) + " out " +
                     std::to_string(outLength) + " code " + std::to_string(code) + " bytes " +
                     (returned == 0xFFFFFFFF ? std::string("unset") : std::to_string(returned));
  if (returned != 0xFFFFFFFF && returned >= 16 && returned <= outLength) {
    const std::int64_t bitmapSize = Int64At(out, 8);
    std::uint64_t used = 0;
    for (std::uint32_t i = 16; i < returned; ++i) {
      for (unsigned char b = out[i]; b; b &= b - 1) ++used;
    }
    line += " starting-lcn " + std::to_string(Int64At(out, 0)) + " bitmap-size " +
            std::to_string(bitmapSize) + " used-bits " + std::to_string(used);
  }
  Line("%s", line.c_str());
}

// Returns the code; *lastNextVcn is the NextVcn of the last extent parsed (unchanged if none).
WinError ProbeRetrieval(VolumeDevicePort& port, VolumeDevicePort::Handle item,
                        const std::string& label, const char* tag, std::int64_t startingVcn,
                        std::uint32_t inLength, std::uint32_t outLength,
                        std::int64_t* lastNextVcn) {
  std::vector<unsigned char> out(outLength > 0 ? outLength : 1);
  std::uint32_t returned = 0xFFFFFFFF;
  const WinError code = port.Control(item, fsctl::kGetRetrievalPointers, &startingVcn, inLength,
                                     out.data(), outLength, &returned);
  std::string line = "item " + label + " retrieval " + tag + " code " + std::to_string(code) +
                     " bytes " +
                     (returned == 0xFFFFFFFF ? std::string("unset") : std::to_string(returned));
  if (returned == 0xFFFFFFFF || returned < 16 || returned > outLength) {
    Line("%s", line.c_str());
    return code;
  }
  DWORD extentCount = 0;
  std::memcpy(&extentCount, &out[0], sizeof extentCount);
  const std::uint32_t fits = (returned - 16) / 16;
  const std::uint32_t parsed = extentCount < fits ? extentCount : fits;
  line += " extent-count " + std::to_string(extentCount) + " starting-vcn " +
          std::to_string(Int64At(out, 8)) + " parsed " + std::to_string(parsed);
  Line("%s", line.c_str());
  for (std::uint32_t i = 0; i < parsed; ++i) {
    const std::int64_t nextVcn = Int64At(out, 16 + 16 * i);
    Line("item %s extent %s %lu next-vcn %lld lcn %lld", label.c_str(), tag,
         static_cast<unsigned long>(i), static_cast<long long>(nextVcn),
         static_cast<long long>(Int64At(out, 24 + 16 * i)));
    *lastNextVcn = nextVcn;
  }
  return code;
}

void ProbeMove(VolumeDevicePort& port, VolumeDevicePort::Handle target, const char* targetName,
               VolumeDevicePort::Handle item, const std::string& label, std::int64_t lcn) {
  unsigned char data[kMoveLength] = {};
  const HANDLE handle = reinterpret_cast<HANDLE>(item);
  const std::int64_t vcn = 0;
  const DWORD clusters = 1;
  std::memcpy(data + kMoveHandle, &handle, sizeof handle);
  std::memcpy(data + kMoveStartingVcn, &vcn, sizeof vcn);
  std::memcpy(data + kMoveStartingLcn, &lcn, sizeof lcn);
  std::memcpy(data + kMoveClusterCount, &clusters, sizeof clusters);
  std::uint32_t returned = 0;
  const WinError code =
      port.Control(target, fsctl::kMoveFile, data, sizeof data, nullptr, 0, &returned);
  Line("item %s move-file %s code %lu", label.c_str(), targetName,
       static_cast<unsigned long>(code));
}

void ProbeItem(VolumeDevicePort& port, VolumeDevicePort::Handle volume, const Item& item,
               std::int64_t lcn) {
  const char* label = item.label.c_str();
  UniqueFileHandle lock;
  if (item.lock) {
    // No sharing at all: every open that asks for data access must now fail with 32.
    lock.Reset(CreateFileW(item.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Line("lock %s code %lu", label, lock ? 0ul : static_cast<unsigned long>(GetLastError()));
  }
  const DWORD attributes = GetFileAttributesW(item.path.c_str());
  const bool folder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  Line("item %s folder %d", label, folder ? 1 : 0);

  {
    DeviceHandle inspect(port);
    const WinError code = port.OpenItemToInspect(Narrow(item.path), folder, inspect.Put());
    Line("item %s open-inspect code %lu", label, static_cast<unsigned long>(code));
    if (code == 0) {
      std::int64_t last = 0;
      ProbeRetrieval(port, inspect.Get(), item.label, "out65536", 0, 8, 65536, &last);
      last = -1;
      if (ProbeRetrieval(port, inspect.Get(), item.label, "out32", 0, 8, 32, &last) ==
              err::kMoreData &&
          last >= 0) {
        ProbeRetrieval(port, inspect.Get(), item.label, "out32-next", last, 8, 32, &last);
      }
      ProbeRetrieval(port, inspect.Get(), item.label, "in4", 0, 4, 65536, &last);
      ProbeRetrieval(port, inspect.Get(), item.label, "out16", 0, 8, 16, &last);
      ProbeRetrieval(port, inspect.Get(), item.label, "vcn-1", -1, 8, 65536, &last);
      ProbeRetrieval(port, inspect.Get(), item.label, "vcn-past", std::int64_t{1} << 40, 8, 65536,
                     &last);
    }
  }

  DeviceHandle move(port);
  const WinError code = port.OpenItemToMove(item.path, folder, ItemAccess::kAttributes, move.Put());
  Line("item %s open-move code %lu", label, static_cast<unsigned long>(code));
  if (code != 0) return;
  if (volume != 0) ProbeMove(port, volume, "volume", move.Get(), item.label, lcn);
  ProbeMove(port, move.Get(), "item", move.Get(), item.label, lcn);
}

bool ParseItem(const wchar_t* argument, bool lock, Item* item) {
  const wchar_t* equals = std::wcschr(argument, L'=');
  if (equals == nullptr || equals == argument || equals[1] == 0) return false;
  item->label = Narrow(std::wstring(argument, equals));
  item->path = equals + 1;
  item->lock = lock;
  return true;
}

int Run(int argc, wchar_t** argv) {
  std::int64_t lcn = 100000;
  std::vector<Item> items;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    Item item;
    if (argument == L"-lcn" && i + 1 < argc) {
      lcn = _wtoi64(argv[++i]);
    } else if (argument == L"-lock" && i + 1 < argc && ParseItem(argv[i + 1], true, &item)) {
      ++i;
      items.push_back(item);
    } else if (ParseItem(argv[i], false, &item)) {
      items.push_back(item);
    } else {
      std::fprintf(stderr, "usage: fsctl_probe [-lcn N] [-lock LABEL=PATH] [LABEL=PATH ...]\n");
      return 2;
    }
  }

  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  Line("os %lu.%lu.%lu wow64 %d acp %u", version.dwMajorVersion, version.dwMinorVersion,
       version.dwBuildNumber, IsWow64 ? 1 : 0, GetACP());

  VolumeDevicePort& port = PlatformVolumeDevice();
  ProbeVolumeOpen(port, "c", "\\\\.\\C:");
  ProbeVolumeOpen(port, "q", "\\\\.\\Q:");
  ProbeVolumeOpen(port, "unc", "\\\\.\\\\:");
  ProbeVolumeOpen(port, "space", "\\\\.\\ :");
  ProbeVolumeOpen(port, "digit", "\\\\.\\1:");
  ProbeClusterSize(port, "C:\\");
  ProbeClusterSize(port, "Q:\\");

  DeviceHandle volume(port);
  if (port.OpenVolume("\\\\.\\C:", volume.Put()) == 0) {
    ProbeBitmap(port, volume.Get(), 0, 4112);
    ProbeBitmap(port, volume.Get(), 0, 8);
    ProbeBitmap(port, volume.Get(), std::int64_t{1} << 40, 4112);
  }
  for (const Item& item : items) ProbeItem(port, volume.Get(), item, lcn);
  return 0;
}

}  // namespace
}  // namespace kestrava

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  const int rc = kestrava::Run(argc, argv);
  LocalFree(argv);
  return rc;
}

#pragma once
// The operating-system facts the file search needs, each behind a narrow port: directory
// enumeration, path expansion, local time, and the threads and hidden window of a threaded search.
// The Windows build answers them with Win32 calls (search_ports_win.cpp), the host build with POSIX
// calls (search_ports_posix.cpp); tests substitute in-memory doubles.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/thread.h"
#include "common/win_error.h"

namespace kestrava {

// Win32 file-attribute bits, used unchanged as masks.
namespace attr {
inline constexpr std::uint32_t kReadonly = 0x1;
inline constexpr std::uint32_t kHidden = 0x2;
inline constexpr std::uint32_t kSystem = 0x4;
inline constexpr std::uint32_t kDirectory = 0x10;
inline constexpr std::uint32_t kArchive = 0x20;
inline constexpr std::uint32_t kDevice = 0x40;
inline constexpr std::uint32_t kNormal = 0x80;
inline constexpr std::uint32_t kTemporary = 0x100;
inline constexpr std::uint32_t kSparseFile = 0x200;
inline constexpr std::uint32_t kReparsePoint = 0x400;
inline constexpr std::uint32_t kCompressed = 0x800;
inline constexpr std::uint32_t kOffline = 0x1000;
inline constexpr std::uint32_t kNotContentIndexed = 0x2000;
inline constexpr std::uint32_t kEncrypted = 0x4000;
inline constexpr std::uint32_t kVirtual = 0x10000;
}  // namespace attr

// One directory entry as the enumeration returns it (WIN32_FIND_DATAA without the reserved
// fields). Times are FILETIMEs: 100-ns ticks since 1601-01-01 UTC.
struct TFindData {
  std::uint32_t Attributes = 0;
  std::uint64_t CreationTime = 0;
  std::uint64_t LastAccessTime = 0;
  std::uint64_t LastWriteTime = 0;
  std::uint32_t SizeHigh = 0;
  std::uint32_t SizeLow = 0;
  std::string Name;

  std::int64_t Size() const {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(SizeHigh) << 32) | SizeLow);
  }
};

// What the caller of FindFirst will look at (FindFirstFileEx's search operation).
enum class FindScope {
  kAllEntries,
  kFoldersOnly,  // only subfolders matter: the port may leave out other entries, "." and ".."
};

// FindFirstFile / FindNextFile / FindClose, nothing more. Like every port, a failing call returns
// its Win32 code and leaves the caller's entry and handle as they were.
class DirectoryPort {
 public:
  using Handle = std::uintptr_t;
  static constexpr Handle kInvalid = 0;

  virtual ~DirectoryPort() = default;
  // Opens the enumeration of pattern (a folder followed by a name mask, "C:\Games\*"), sets
  // *handle and fills data with its first entry. kFileNotFound when nothing matches the mask,
  // kPathNotFound when the folder is missing, kAccessDenied when it may not be listed.
  virtual WinError FindFirst(const std::string& pattern, TFindData& data, Handle* handle,
                             FindScope scope = FindScope::kAllEntries) = 0;
  // The next entry; kNoMoreFiles after the last.
  virtual WinError FindNext(Handle handle, TFindData& data) = 0;
  virtual void FindClose(Handle handle) = 0;
};

// Path syntax and path facts of the file system.
class PathPort {
 public:
  virtual ~PathPort() = default;
  // The separator between folder names: a backslash on Windows, a slash on the host.
  virtual char Separator() const = 0;
  // True for the characters after which a path's last part (a file name) begins.
  virtual bool IsNameDelimiter(char c) const = 0;
  // GetFullPathName: the full form of a path, a relative one resolved against the current
  // directory. *full is set only on success.
  virtual WinError FullPath(const std::string& path, std::string* full) = 0;
  // WNetGetUniversalName: the UNC form of a path on a mapped network drive ("Z:\x" ->
  // "\\server\share\x"). kNotConnected for a drive that is not mapped; *unc is set only on
  // success.
  virtual WinError UniversalName(const std::string& path, std::string* unc) = 0;
};

// Calendar fields of a local time (SYSTEMTIME without the day of the week).
struct LocalTimeFields {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

class LocalTimePort {
 public:
  virtual ~LocalTimePort() = default;
  // FileTimeToLocalFileTime + FileTimeToSystemTime with the current time-zone rules.
  // kInvalidParameter for a time the system calendar cannot show (2^63 ticks and later); *fields
  // is set only on success.
  virtual WinError ToLocalFields(std::uint64_t fileTime, LocalTimeFields* fields) = 0;
};

// A thread running one search body; destroying it waits for the body to end.
class WorkerThread {
 public:
  virtual ~WorkerThread() = default;
  // Waits up to milliseconds for the body to end; true once it has.
  virtual bool WaitFor(std::uint32_t milliseconds) = 0;
};

// The hidden window that brings the end of a threaded search back to the thread that created it
// (a HandOff, common/hand_off.h). Destroying it discards a notice that has not been handled yet.
class OwnerChannel {
 public:
  virtual ~OwnerChannel() = default;
  // Callable from any thread: posts the "search ended" notice (message 1025 on Windows).
  virtual void PostSearchEnded() = 0;
  // True when called in the thread that created the channel.
  virtual bool InOwnerThread() const = 0;
};

class ThreadPort {
 public:
  virtual ~ThreadPort() = default;
  // Creates the channel in the calling thread; onSearchEnded runs in that thread when it handles
  // a posted notice (its message loop, or PumpOneMessage, must run for that).
  virtual std::unique_ptr<OwnerChannel> CreateChannel(std::function<void()> onSearchEnded) = 0;
  // Starts body on a new thread with the given priority. Throws KestravaError when the thread
  // cannot be created.
  virtual std::unique_ptr<WorkerThread> StartThread(std::function<void()> body,
                                                    TThreadPriority priority) = 0;
  // Removes one waiting message of the calling thread's queue (any window, any message), translates
  // and dispatches it. False when none was waiting.
  virtual bool PumpOneMessage() = 0;
  // Gives the rest of the time slice to another ready thread.
  virtual void YieldThread() = 0;
  // Shows an error that escaped a search thread or a notice handler, where no caller can get it.
  virtual void ReportError(const std::string& message) = 0;
};

// The system's own adapters, shared by every finder (they keep no per-search state).
DirectoryPort& PlatformDirectory();
PathPort& PlatformPaths();
LocalTimePort& PlatformLocalTime();
ThreadPort& PlatformThreads();  // the program's threads and hand-offs (common/thread.h, hand_off.h)

// How the platform shows an error nobody can catch: a message box on Windows, standard error on
// the host.
void ShowSearchError(const std::string& message);

// The ports one finder works through.
struct SearchPorts {
  DirectoryPort* directory = &PlatformDirectory();
  PathPort* paths = &PlatformPaths();
  LocalTimePort* localTime = &PlatformLocalTime();
  ThreadPort* threads = &PlatformThreads();
};

}  // namespace kestrava

// The host's answers to the search ports, so that the finder runs natively on Linux: directories
// through opendir/readdir/fstatat, local time through localtime_r, a search's error on standard
// error.
//
// Attributes are mapped from the POSIX file type and mode: a folder gets the directory bit, a
// symbolic link the reparse-point bit (and never the directory bit: links are not followed, so a
// link cycle cannot trap the walk), a character or block device the device bit, a name starting
// with "." the hidden bit, a mode without the owner's write permission the read-only bit, and an
// entry with none of these the normal bit. Sizes are those of regular files; the creation time is
// the status-change time, the closest POSIX has.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <vector>

#include "common/civil_date.h"
#include "common/paths.h"
#include "common/wildcard.h"
#include "search/search_ports.h"

namespace kestrava {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;

std::uint64_t ToFileTime(const timespec& t) {
  const std::int64_t ticks =
      (static_cast<std::int64_t>(t.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond +
      t.tv_nsec / 100;
  return ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
}

std::uint32_t AttributesOf(const struct stat& st, const char* name) {
  std::uint32_t a = 0;
  if (S_ISDIR(st.st_mode)) a |= attr::kDirectory;
  if (S_ISLNK(st.st_mode)) a |= attr::kReparsePoint;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) a |= attr::kDevice;
  const bool dots = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
  if (name[0] == '.' && !dots) a |= attr::kHidden;
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) a |= attr::kReadonly;
  if (a == 0) a |= attr::kNormal;
  return a;
}

// The Win32 code nearest to an errno value of a failed call; `otherwise` for the rest.
WinError FromErrno(int error, WinError otherwise) {
  switch (error) {
    case EACCES:
    case EPERM: return err::kAccessDenied;
    case ENOENT:
    case ENOTDIR: return err::kPathNotFound;
    case ENOMEM: return err::kNotEnoughMemory;
    default: return otherwise;
  }
}

// One open folder: its descriptor and a buffer of raw directory records (getdents64 rather than
// readdir: opendir costs an extra status call per folder, which shows on trees of many folders).
struct OpenListing {
  int fd = -1;
  std::string mask;
  bool matchAll = true;
  bool foldersOnly = false;
  std::vector<std::uint64_t> buffer = std::vector<std::uint64_t>(4096);  // 32 KiB, 8-byte aligned
  std::size_t position = 0;
  std::size_t filled = 0;

  WinError readError = err::kSuccess;  // why the last NextRecord found none, when not the end

  // The next raw record, or null at the end or when the folder cannot be read further.
  const dirent64* NextRecord() {
    if (position >= filled) {
      const ssize_t n = getdents64(fd, buffer.data(), buffer.size() * sizeof(std::uint64_t));
      // A read error the codes have no word for ends the listing as its end would.
      if (n < 0) readError = FromErrno(errno, err::kNoMoreFiles);
      if (n <= 0) return nullptr;
      position = 0;
      filled = static_cast<std::size_t>(n);
    }
    const auto* record =
        reinterpret_cast<const dirent64*>(reinterpret_cast<const char*>(buffer.data()) + position);
    position += record->d_reclen;
    return record;
  }
};

bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

class PosixDirectory final : public DirectoryPort {
 public:
  WinError FindFirst(const std::string& pattern, TFindData& data, Handle* handle,
                     FindScope scope) override {
    const std::size_t slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    auto listing = std::make_unique<OpenListing>();
    listing->mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    listing->matchAll = listing->mask.find_first_not_of('*') == std::string::npos;
    listing->foldersOnly = scope == FindScope::kFoldersOnly;
    listing->fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing->fd < 0) return FromErrno(errno, err::kPathNotFound);
    WinError result = err::kFileNotFound;
    if (!(listing->foldersOnly && HasNoSubfolders(listing->fd))) {
      result = ReadEntry(*listing, data);
      if (result == err::kNoMoreFiles) result = err::kFileNotFound;  // as FindFirstFile says it
    }
    if (result != err::kSuccess) {
      close(listing->fd);
      return result;
    }
    *handle = reinterpret_cast<Handle>(listing.release());
    return err::kSuccess;
  }

  WinError FindNext(Handle handle, TFindData& data) override {
    if (handle == kInvalid) return err::kInvalidHandle;
    return ReadEntry(*reinterpret_cast<OpenListing*>(handle), data);
  }

  void FindClose(Handle handle) override {
    if (handle == kInvalid) return;
    std::unique_ptr<OpenListing> listing(reinterpret_cast<OpenListing*>(handle));
    close(listing->fd);
  }

 private:
  // On file systems that count a folder's subfolders in its link count (2 + subfolders), a count
  // of 2 answers a folder-only listing without reading the folder, as find(1) does for leaves.
  static bool HasNoSubfolders(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_nlink != 2) return false;
    struct statfs fsInfo;
    if (fstatfs(fd, &fsInfo) != 0) return false;
    switch (static_cast<unsigned long>(fsInfo.f_type)) {
      case 0xEF53:      // ext2, ext3, ext4
      case 0x58465342:  // XFS
      case 0x01021994:  // tmpfs
        return true;
      default: return false;
    }
  }

  // kNoMoreFiles after the last entry.
  static WinError ReadEntry(OpenListing& listing, TFindData& data) {
    while (const dirent64* d = listing.NextRecord()) {
      // The record already tells most entries' types: when only subfolders matter, the others
      // (and "." and "..") need no status call.
      if (listing.foldersOnly &&
          ((d->d_type != DT_DIR && d->d_type != DT_UNKNOWN) || IsDots(d->d_name))) {
        continue;
      }
      if (!listing.matchAll && !MatchesWildcard(d->d_name, listing.mask)) continue;
      struct stat st;
      // An entry that vanished between the two calls is no longer there to report.
      if (fstatat(listing.fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (listing.foldersOnly && !S_ISDIR(st.st_mode)) continue;
      data.Attributes = AttributesOf(st, d->d_name);
      data.CreationTime = ToFileTime(st.st_ctim);
      data.LastWriteTime = ToFileTime(st.st_mtim);
      data.LastAccessTime = ToFileTime(st.st_atim);
      const std::uint64_t size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
      data.SizeHigh = static_cast<std::uint32_t>(size >> 32);
      data.SizeLow = static_cast<std::uint32_t>(size);
      data.Name.assign(d->d_name);
      return err::kSuccess;
    }
    return listing.readError != err::kSuccess ? listing.readError : err::kNoMoreFiles;
  }
};

class PosixPaths final : public PathPort {
 public:
  char Separator() const override { return '/'; }
  bool IsNameDelimiter(char c) const override { return c == '/'; }

  // Like GetFullPathName, purely textual: joins a relative path to the current directory and
  // resolves "." and ".." without looking at the file system. A final separator is kept.
  WinError FullPath(const std::string& path, std::string* full) override {
    std::string joined = path;
    if (path.empty() || path[0] != '/') {
      std::vector<char> cwd(4096);
      while (getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE) return FromErrno(errno, err::kPathNotFound);
        cwd.resize(cwd.size() * 2);
      }
      joined = std::string(cwd.data()) + "/" + path;
    }
    const std::vector<std::string> parts = CollapsePathParts(joined, '/');
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    if (result.empty() || joined.back() == '/') result += "/";
    *full = result;
    return err::kSuccess;
  }

  // The host has no mapped network drives.
  WinError UniversalName(const std::string&, std::string*) override { return err::kNotConnected; }
};

long long FloorDiv(long long a, long long b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Local time as FileTimeToLocalFileTime gives it: every time shifted by the UTC offset in force
// now, not the one in force at its own date (in Central Europe in winter a July time shows one
// hour earlier than it did in July, as on Windows). The offset is asked of the C library once a
// second per thread (localtime_r is slow and serialised), so a change of TZ shows by the next
// second.
class PosixLocalTime final : public LocalTimePort {
 public:
  WinError ToLocalFields(std::uint64_t fileTime, LocalTimeFields* f) override {
    // FileTimeToSystemTime's limit: the tick count of a file time is a signed 64-bit number.
    if (fileTime > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
      return err::kInvalidParameter;
    }
    const long long ticks = static_cast<long long>(fileTime);
    const long long seconds = FloorDiv(ticks, kTicksPerSecond) - kSecondsFrom1601To1970;
    long offset = 0;
    // localtime_r of the present moment does not fail in practice; if it did, say so.
    if (!OffsetNow(&offset)) return err::kInvalidParameter;
    const long long local = seconds + offset;
    const long long days = FloorDiv(local, 86400);
    const long long daySeconds = local - days * 86400;
    const CivilDate date = CivilFromDays(days);
    f->Year = date.year;
    f->Month = date.month;
    f->Day = date.day;
    f->Hour = static_cast<int>(daySeconds / 3600);
    f->Minute = static_cast<int>(daySeconds / 60 % 60);
    f->Second = static_cast<int>(daySeconds % 60);
    f->Milliseconds =
        static_cast<int>((ticks - FloorDiv(ticks, kTicksPerSecond) * kTicksPerSecond) / 10000);
    return err::kSuccess;
  }

 private:
  static bool OffsetNow(long* offset) {
    struct Cache {
      std::time_t second = -1;
      long offset = 0;
    };
    thread_local Cache cache;
    const std::time_t now = std::time(nullptr);
    if (now != cache.second) {
      std::tm tm{};
      if (localtime_r(&now, &tm) == nullptr) return false;
      cache.second = now;
      cache.offset = tm.tm_gmtoff;
    }
    *offset = cache.offset;
    return true;
  }
};

}  // namespace

DirectoryPort& PlatformDirectory() {
  static PosixDirectory port;
  return port;
}
PathPort& PlatformPaths() {
  static PosixPaths port;
  return port;
}
LocalTimePort& PlatformLocalTime() {
  static PosixLocalTime port;
  return port;
}
void ShowSearchError(const std::string& message) {
  std::fprintf(stderr, "Error: %s\n", message.c_str());
}

}  // namespace kestrava

// The file operations on Windows: wide file calls on UTF-8 paths (either separator).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path_separator.h"
#include "platform/win32/wide.h"

namespace ovik::platform {

namespace {

// Long enough for every appender ahead in the queue; a holder that takes longer is stuck.
constexpr DWORD kAppendPatienceMs = 1000;

// The byte that appenders lock to take turns: far past any real end, so readers and the appends
// themselves never meet the lock (Windows locks are mandatory for the range they cover).
constexpr DWORD kTurnOffsetLow = 0xFFFFFFFE;
constexpr DWORD kTurnOffsetHigh = 0x7FFFFFFF;

void set_errno_from_last_error() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
  }
}

std::int64_t file_time_value(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// A C runtime descriptor that owns the file handle it was made from (write_some writes through it).
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::_close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  HANDLE handle() const { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd_)); }
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::_close(fd) == 0;
  }

 private:
  int fd_;
};

// Append access only: every write lands at the end of the file, whoever else writes.
int open_for_append(const std::wstring& path, bool& readable) {
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // A link in the file's place is opened as itself and refused below, never followed.
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  readable = true;
  HANDLE h =
      ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    kShare, nullptr, OPEN_ALWAYS, kFlags, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    readable = false;
    h = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShare, nullptr,
                      OPEN_ALWAYS, kFlags, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
  if (fd < 0) ::CloseHandle(h);
  return fd;
}

// The appenders' turn on one open file, taken with short pauses between tries so that a stopped
// holder cannot hang the caller: not held when it could not be had within the patience (the line
// then goes out without it). Given back explicitly, as the system frees a closed file's locks late.
class Turn {
 public:
  explicit Turn(HANDLE h) : h_(h) {
    const ULONGLONG since = ::GetTickCount64();
    DWORD pause = 1;
    for (;;) {
      OVERLAPPED at = place();
      if (::LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        held_ = true;
        return;
      }
      if (::GetLastError() != ERROR_LOCK_VIOLATION || ::GetTickCount64() - since >= kAppendPatienceMs) return;
      ::Sleep(pause);
      pause = std::min<DWORD>(pause * 2, 20);
    }
  }
  ~Turn() { give_back(); }
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;
  void give_back() {
    if (!held_) return;
    OVERLAPPED at = place();
    ::UnlockFileEx(h_, 0, 1, 0, &at);
    held_ = false;
  }

 private:
  static OVERLAPPED place() {
    OVERLAPPED at{};
    at.Offset = kTurnOffsetLow;
    at.OffsetHigh = kTurnOffsetHigh;
    return at;
  }
  HANDLE h_;
  bool held_ = false;
};

// A file that ends inside a line holds a fragment; the next entry must not be glued to it.
std::string_view break_before_next_entry(HANDLE h, std::int64_t size) {
  if (size == 0) return {};
  char last = '\n';
  DWORD got = 0;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(size - 1);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(size - 1) >> 32);
  if (!::ReadFile(h, &last, 1, &got, &at) || got != 1 || last == '\n') return {};
  return last == '\r' ? std::string_view("\n") : std::string_view("\r\n");
}

}  // namespace

bool FileSystem::exists(const std::string& path) {
  return !path.empty() && ::GetFileAttributesW(win32::wide_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileSystem::create_directory(const std::string& path) {
  if (path.empty()) return false;
  const std::wstring wide = win32::wide_path(path);
  if (::CreateDirectoryW(wide.c_str(), nullptr)) return true;
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

ssize_t FileSystem::write_some(int fd, const char* data, std::size_t size) {
  const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30));
  return ::_write(fd, data, chunk);
}

bool FileSystem::append_line(const std::string& path, std::string_view bytes) {
  const std::wstring wide = win32::wide_path(path);
  if (wide.empty() || wide.back() == L'\\') return false;
  for (bool reopened = false;; reopened = true) {
    bool readable = true;
    Descriptor file(open_for_append(wide, readable));
    if (file.get() < 0) return false;
    const HANDLE h = file.handle();
    Turn turn(h);
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      errno = EINVAL;
      return false;
    }
    // Deleted between the open and the turn (a purge in another process): the line belongs in the
    // file that has the name now.
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard) &&
        standard.DeletePending && !reopened)
      continue;
    const std::int64_t size = (static_cast<std::int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    std::string joined;
    if (readable) {
      const std::string_view line_break = break_before_next_entry(h, size);
      if (!line_break.empty()) {
        joined.reserve(line_break.size() + bytes.size());
        joined.append(line_break).append(bytes);
        bytes = joined;
      }
    }
    // A fragment left by a failed write cannot be cut off again (append access cannot truncate);
    // the next entry starts on a line of its own instead.
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write_some(file.get(), bytes.data() + done, bytes.size() - done);
      if (n <= 0) {
        if (n == 0 || errno == 0) errno = EIO;
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    turn.give_back();
    return file.close();
  }
}

std::optional<FolderStamp> FileSystem::folder_stamp(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  Handle h(::CreateFileW(win32::wide_path(folder).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandle(h.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      !::GetFileInformationByHandleEx(h.get(), FileBasicInfo, &basic, sizeof basic))
    return std::nullopt;
  FolderStamp stamp;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  // File times count 100 ns; the stamp counts nanoseconds since 1970 as on Linux.
  stamp.mtime_ns = (basic.LastWriteTime.QuadPart - kFileTimeOfUnixEpoch) * 100;
  stamp.ctime_ns = (basic.ChangeTime.QuadPart - kFileTimeOfUnixEpoch) * 100;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const std::int64_t now_ns = (file_time_value(now) - kFileTimeOfUnixEpoch) * 100;
  stamp.settled = std::max(stamp.mtime_ns, stamp.ctime_ns) <= now_ns - 2'000'000'000;
  return stamp;
}

std::optional<std::vector<std::string>> FileSystem::list_files(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  std::wstring pattern = win32::wide_path(folder);
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry{};
  const HANDLE found =
      ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
  if (found == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return std::vector<std::string>{};  // an empty folder
    return std::nullopt;
  }
  std::vector<std::string> names;
  bool ok = true;
  for (;;) {
    const bool hidden = entry.cFileName[0] == L'.';
    if (!hidden && (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0)
      names.push_back(win32::to_utf8(entry.cFileName));
    if (!::FindNextFileW(found, &entry)) {
      ok = ::GetLastError() == ERROR_NO_MORE_FILES;
      break;
    }
  }
  ::FindClose(found);
  if (!ok) return std::nullopt;
  std::sort(names.begin(), names.end());
  return names;
}

bool FileSystem::remove_file(const std::string& path) {
  return !path.empty() && ::DeleteFileW(win32::wide_path(path).c_str());
}

std::optional<std::int64_t> FileSystem::last_write_time_unix(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() || !::GetFileAttributesExW(win32::wide_path(path).c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  const std::int64_t t = file_time_value(data.ftLastWriteTime) - kFileTimeOfUnixEpoch;
  // Whole seconds, rounded down also before 1970.
  return t >= 0 ? t / 10'000'000 : -((-t + 9'999'999) / 10'000'000);
}

char path_separator() { return '\\'; }

std::string native_path(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool breaks_file_name(char c) { return std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos; }

template <>
FileSystem& Facility<FileSystem>::real() {
  static FileSystem instance;
  return instance;
}

}  // namespace ovik::platform

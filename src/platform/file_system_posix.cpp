#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/file_calls.h"
#include "platform/path_separator.h"
#include "platform/posix/file_locks.h"

namespace ovik::platform {

namespace {

// Long enough for every appender ahead in the queue; a holder that takes longer is stuck.
constexpr std::chrono::milliseconds kAppendPatience{1000};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void release() { fd_ = -1; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now so that a failing close (a full disk on a network file system) is seen.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

struct DirClose {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// "a/b/" names the folder "a/b"; a trailing "/" would make the kernel follow a final link.
std::string without_trailing_slashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string parent_of(const std::string& folder) {
  const std::size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

// A descriptor of `folder` for the *at() calls (O_PATH), or -1. A folder that is a symbolic link
// is followed only as may_follow_link allows: an administrator may point log/ at another disk,
// while a link that another user planted is refused.
int open_folder(const std::string& given) {
  const std::string folder = without_trailing_slashes(given);
  if (folder.empty()) return -1;
  const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0 || (errno != ENOTDIR && errno != ELOOP)) return fd;
  struct stat link {};
  if (::lstat(folder.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return -1;
  if (!may_follow_link(folder, link.st_uid)) return -1;
  return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// A file that ends inside a line holds a fragment; the next entry must not be glued to it.
// Returns the line break to put first ("" when the file of `size` bytes ends a line or is empty).
std::string_view break_before_next_entry(int fd, off_t size) {
  char last = '\n';
  if (size == 0 || ::pread(fd, &last, 1, size - 1) != 1 || last == '\n') return {};
  return last == '\r' ? std::string_view("\n") : std::string_view("\r\n");
}

}  // namespace

bool may_follow_link(const std::string& link, uid_t owner) {
  if (owner == 0 || owner == ::geteuid()) return true;
  struct stat holder {};
  return ::stat(parent_of(without_trailing_slashes(link)).c_str(), &holder) == 0 && holder.st_uid == owner;
}

LockResult lock_exclusive(int fd, std::chrono::milliseconds patience,
                          const std::function<bool()>& progressed) {
  auto now_ms = [] {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1'000'000;
  };
  long long since = now_ms();
  long pause_ns = 50'000;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockResult::locked;
    if (errno != EWOULDBLOCK && errno != EINTR) return LockResult::unsupported;
    if (progressed && progressed()) {
      since = now_ms();
    } else if (now_ms() - since >= patience.count()) {
      return LockResult::busy;
    }
    const timespec pause{0, pause_ns};
    ::nanosleep(&pause, nullptr);
    pause_ns = std::min(pause_ns * 2, 2'000'000L);
  }
}

bool FileSystem::exists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

bool FileSystem::create_directory(const std::string& path) {
  if (path.empty()) return false;
  if (file_calls().mkdir(path.c_str(), 0777) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

ssize_t FileSystem::write_some(int fd, const char* data, std::size_t size) {
  return file_calls().write(fd, data, size);
}

namespace {

// Opens `path` for appending as append_line requires (a vetted folder, never through a link, never
// blocking on a FIFO); -1 on failure. `readable` tells whether the file's end can be looked at.
int open_for_append(const std::string& path, bool& readable) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return -1;
  Descriptor folder(open_folder(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash)));
  if (folder.get() < 0) return -1;

  // O_NONBLOCK: a FIFO planted in the file's place must not hang the caller; it is refused later.
  // The umask decides the mode, as for any file the user makes: a store group sharing a setgid
  // folder with umask 002 needs its members to append to each other's day files.
  constexpr int kFlags = O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  readable = true;
  int fd = file_calls().openat(folder.get(), name.c_str(), O_RDWR | kFlags, 0666);
  if (fd < 0 && errno == EACCES) {
    // A file this user may append to but not read: no look at its end, the line goes out as is.
    readable = false;
    fd = file_calls().openat(folder.get(), name.c_str(), O_WRONLY | kFlags, 0666);
  }
  return fd;
}

}  // namespace

bool FileSystem::append_line(const std::string& path, std::string_view bytes) {
  for (bool reopened = false;; reopened = true) {
    bool readable = true;
    Descriptor file(open_for_append(path, readable));
    if (file.get() < 0) return false;
    const int fd = file.get();
    const bool locked = lock_exclusive(fd, kAppendPatience) == LockResult::locked;
    // Taken under the lock, the file's end is where this entry begins: every other appender waits.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    // Deleted between the open and the lock (a purge in another process): the line belongs in the
    // file that has the name now. Closing lets the lock go.
    if (info.st_nlink == 0 && !reopened) continue;
    std::string joined;
    if (readable) {
      const std::string_view line_break = break_before_next_entry(fd, info.st_size);
      if (!line_break.empty()) {
        joined.reserve(line_break.size() + bytes.size());
        joined.append(line_break).append(bytes);
        bytes = joined;
      }
    }

    const off_t start = info.st_size;
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write_some(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int error = errno;
        // Cut our fragment off again, but only where it provably is the file's end: nothing was
        // written before, between or after our pieces (a writer that ignores the lock, say).
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        struct stat now {};
        if (done > 0 && locked && end == start + static_cast<off_t>(done) && ::fstat(fd, &now) == 0 &&
            now.st_size == end) {
          [[maybe_unused]] const int ignored = file_calls().ftruncate(fd, start);
        }
        errno = error;
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    // A failing close (a full disk on a network file system) is seen; it lets the lock go too.
    return file.close();
  }
}

std::optional<FolderStamp> FileSystem::folder_stamp(const std::string& folder) {
  struct stat info {};
  if (folder.empty() || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  FolderStamp stamp;
  stamp.device = static_cast<std::uint64_t>(info.st_dev);
  stamp.inode = static_cast<std::uint64_t>(info.st_ino);
  stamp.mtime_ns = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
  stamp.ctime_ns = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t now_ns = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  stamp.settled = std::max(stamp.mtime_ns, stamp.ctime_ns) <= now_ns - 2'000'000'000;
  return stamp;
}

std::optional<std::vector<std::string>> FileSystem::list_files(const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  Descriptor path(open_folder(folder));
  if (path.get() < 0) return std::nullopt;
  Descriptor listing(::openat(path.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.get() < 0) return std::nullopt;
  std::unique_ptr<DIR, DirClose> dir(::fdopendir(listing.get()));
  if (!dir) return std::nullopt;
  listing.release();  // the DIR owns it now
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return std::nullopt;
      break;
    }
    if (entry->d_name[0] == '.') continue;
    bool regular = entry->d_type == DT_REG;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      regular = ::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
    }
    if (regular) names.emplace_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool FileSystem::remove_file(const std::string& path) {
  return !path.empty() && file_calls().unlink(path.c_str()) == 0;
}

std::optional<std::int64_t> FileSystem::last_write_time_unix(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::int64_t>(info.st_mtim.tv_sec);
}

char path_separator() { return '/'; }

std::string native_path(std::string path) { return path; }

bool breaks_file_name(char c) { return c == '/'; }

template <>
FileSystem& Facility<FileSystem>::real() {
  static FileSystem instance;
  return instance;
}

}  // namespace ovik::platform

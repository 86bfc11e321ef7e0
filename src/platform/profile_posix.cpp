// The profile file functions on Linux: the in-memory rules (profile.cpp) on files read whole and
// replaced in one step.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/file_calls.h"
#include "platform/file_system.h"
#include "platform/posix/file_locks.h"
#include "platform/profile.h"

namespace ovik::platform {

namespace {

// The end of the byte run at `from`: the first `c` from there, or the size.
std::size_t find_byte(std::string_view s, char c, std::size_t from) {
  if (from >= s.size()) return s.size();
  const void* p = std::memchr(s.data() + from, c, s.size() - from);
  return p == nullptr ? s.size() : static_cast<std::size_t>(static_cast<const char*>(p) - s.data());
}

// A writer holds the lock from read to rename, fsync included; ten seconds in which no writer got
// anything done means the holder is stuck.
constexpr std::chrono::milliseconds kWritePatience{10'000};
// Each retry means another writer replaced the file meanwhile, so this bounds only a live lock.
constexpr int kWriteAttempts = 1000;

// ---- files ----

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) file_calls().close(fd_);
    fd_ = fd;
  }
  // close() reports delayed write errors, which a caller that is about to rename must see.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || file_calls().close(fd) == 0;
  }

 private:
  int fd_;
};

// Reads the whole of an open regular file from its start. O_NONBLOCK on the open keeps a FIFO in
// the file's place from hanging the caller; the caller refuses anything but a regular file.
bool read_all(int fd, std::string& out, const struct stat& st) {
  out.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;  // shrank since fstat
    got += static_cast<std::size_t>(n);
  }
  out.resize(got);
  return true;
}

// The lookup path, which runs at every settings read: one open and, for any file that fits the
// buffer, one read. A read that comes back short is the end of a regular file, so only a full buffer
// needs fstat, to learn how much more there is or to refuse a device that never ends. (The write path
// checks the file's type first, because it writes back what it read.)
std::string_view read_for_lookup(const std::string& path, std::string& buffer) {
  constexpr std::size_t kInitial = std::size_t{1} << 16;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return {};
  if (buffer.size() < kInitial) buffer.resize(kInitial);
  std::size_t got = 0;
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer.data() + got, buffer.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    got += static_cast<std::size_t>(n);
    if (got < buffer.size()) break;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    const std::size_t wanted = static_cast<std::size_t>(st.st_size) + 1;
    buffer.resize(wanted > 2 * buffer.size() ? wanted : 2 * buffer.size());
  }
  return std::string_view(buffer.data(), got);
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = file_calls().write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string temp_name(const std::string& folder, const std::string& base) {
  static std::atomic<unsigned> counter{0};
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return folder + "/." + base + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(ts.tv_nsec);
}

struct Place {
  std::string folder;
  std::string base;
};

Place place_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The folder will not take a new entry, although the file in it may still be writable.
bool folder_refuses(int error) { return error == EACCES || error == EPERM; }

bool pwrite_all(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        file_calls().pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Rewrites the file where it stands, keeping its inode and so its owner, group, mode and links.
// Readers may see it half-written for a moment, which is why this is only the fallback. Space is
// reserved first where the file system can, so a full disk fails before anything is overwritten;
// a step that fails all the same puts the old content back, so a failure never leaves a mix of old
// and new. A shorter new content goes out padded with blanks to the old length before the file is
// cut, so a crash between the two leaves the new settings followed by blanks, which read as nothing.
bool rewrite_in_place(const std::string& path, std::string_view content, std::string_view old_content,
                      const struct stat& old) {
  UniqueFd fd(file_calls().open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || st.st_dev != old.st_dev || st.st_ino != old.st_ino) return false;
  if (static_cast<off_t>(content.size()) > st.st_size &&
      ::fallocate(fd.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(content.size())) != 0 &&
      (errno == ENOSPC || errno == EDQUOT)) {
    return false;
  }
  std::string padded;
  std::string_view first = content;
  if (content.size() < old_content.size()) {
    padded.reserve(old_content.size());
    padded.append(content).append(old_content.size() - content.size(), ' ');
    first = padded;
  }
  if (!pwrite_all(fd.get(), first) ||
      file_calls().ftruncate(fd.get(), static_cast<off_t>(content.size())) != 0 ||
      file_calls().fsync(fd.get()) != 0) {
    // Overwriting what the old content held needs no new space, so this works on a full disk too.
    if (pwrite_all(fd.get(), old_content)) {
      file_calls().ftruncate(fd.get(), static_cast<off_t>(old_content.size()));
      file_calls().fsync(fd.get());
    }
    return false;
  }
  // fsync has made the new content durable: a failing close tells nothing more about it.
  fd.close();
  return true;
}

// identity_lost: a new file could not be made the old one's like (its group, its extended
// attributes), so replacing would change who may do what with the settings.
enum class Outcome { done, failed, refused_by_folder, identity_lost, exists };

// The names of a file's extended attributes; none when they cannot be listed. A file system without
// them lists nothing.
std::optional<std::vector<std::string>> xattr_names(int fd) {
  for (int attempt = 0; attempt < 4; ++attempt) {  // the list may grow between the two calls
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0)
      return errno == ENOTSUP ? std::optional<std::vector<std::string>>(std::in_place) : std::nullopt;
    std::string list(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return std::nullopt;
    std::vector<std::string> names;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      const std::size_t end = find_byte(list, '\0', at);
      if (end > at) names.emplace_back(list, at, end - at);
      at = end + 1;
    }
    return names;
  }
  return std::nullopt;
}

std::optional<std::string> xattr_value(int fd, const std::string& name) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return std::nullopt;
    value.resize(static_cast<std::size_t>(got));
    return value;
  }
  return std::nullopt;
}

// Gives `to` exactly the extended attributes of `from`: its ACL (or none, where the folder's default
// ACL gave the new file one), its security labels, its user attributes. False when one cannot be
// read, set or removed (another user's ACL, a label only the administrator may set).
bool copy_xattrs(int from, int to) {
  const std::optional<std::vector<std::string>> wanted = xattr_names(from);
  const std::optional<std::vector<std::string>> present = xattr_names(to);
  if (!wanted || !present) return false;
  for (const std::string& name : *present) {
    if (std::find(wanted->begin(), wanted->end(), name) == wanted->end() &&
        ::fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) {
      return false;
    }
  }
  for (const std::string& name : *wanted) {
    const std::optional<std::string> value = xattr_value(from, name);
    if (!value) return false;
    // A label the new file already has needs no permission to set.
    if (xattr_value(to, name) == value) continue;
    if (::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0) return false;
  }
  return true;
}

// Writes `content` to a new file beside `path` and moves it into place, so readers see either the old
// file or the new one. `old` carries the replaced file's mode, owner and group, and `old_fd` is open
// on it for its extended attributes; `old` is null for a new file (which then gets 0666 less the
// umask, like any created file, and must not replace a file that another writer created meanwhile:
// that answers `exists`).
Outcome replace_file(const std::string& path, std::string_view content, const struct stat* old, int old_fd) {
  const Place place = place_of(path);
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
    temp = temp_name(place.folder, place.base);
    fd.reset(file_calls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
    if (fd.get() < 0 && errno != EEXIST)
      return folder_refuses(errno) ? Outcome::refused_by_folder : Outcome::failed;
  }
  if (fd.get() < 0) return Outcome::failed;
  auto give_up = [&](Outcome outcome) {
    file_calls().unlink(temp.c_str());
    return outcome;
  };

  if (old != nullptr) {
    // Only root may give a file away; a member of the file's group can still hand it the group, and a
    // settings file shared by a group must keep it or the next member is locked out.
    if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid()) &&
        ::fchown(fd.get(), old->st_uid, old->st_gid) != 0 &&
        ::fchown(fd.get(), static_cast<uid_t>(-1), old->st_gid) != 0) {
      return give_up(Outcome::identity_lost);
    }
    // An ACL's mask shows as the mode's group bits: the mode alone, without the ACL, would hand the
    // owning group what the ACL gave one named user. The ACL goes first, so that the mode set after
    // it leaves the mask as it was.
    if (!copy_xattrs(old_fd, fd.get())) return give_up(Outcome::identity_lost);
    if (::fchmod(fd.get(), old->st_mode & 07777) != 0) return give_up(Outcome::failed);
  }
  bool ok = write_all(fd.get(), content) && file_calls().fsync(fd.get()) == 0;
  ok = fd.close() && ok;
  if (!ok) return give_up(Outcome::failed);

  if (old != nullptr) {
    // A sticky shared folder lets a member create files but not replace another user's.
    if (file_calls().rename(temp.c_str(), path.c_str()) != 0) {
      return give_up(folder_refuses(errno) ? Outcome::refused_by_folder : Outcome::failed);
    }
  } else if (file_calls().renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return give_up(Outcome::exists);
    if (errno != EINVAL && errno != ENOSYS) return give_up(Outcome::failed);
    // No RENAME_NOREPLACE here (NFS among others): link(2) refuses an existing name just as well.
    if (file_calls().link(temp.c_str(), path.c_str()) != 0) {
      if (errno == EEXIST) return give_up(Outcome::exists);
      if (file_calls().rename(temp.c_str(), path.c_str()) != 0) return give_up(Outcome::failed);
    } else {
      file_calls().unlink(temp.c_str());
    }
  }
  // Make the rename itself durable; the data is already safe, so a failure here changes nothing.
  UniqueFd dir(file_calls().open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) file_calls().fsync(dir.get());
  return Outcome::done;
}

CharScheme file_scheme() { return narrow_scheme(); }

// The file a write changes: `path` itself, or, where `path` is a symbolic link, the end of its chain
// of links (written through rather than replaced by a plain file). Each link is followed only when
// may_follow_link allows it. None for a refused, dangling or endless chain.
std::optional<std::string> write_target(const std::string& path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit on a chain of links
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0) {
      if (hops == 0) return at;  // a missing file is created; other errors show at the open
      return std::nullopt;
    }
    if (!S_ISLNK(st.st_mode)) return at;
    if (!may_follow_link(at, st.st_uid)) return std::nullopt;
    std::error_code error;
    const std::string to = std::filesystem::read_symlink(at, error).native();
    if (error || to.empty()) return std::nullopt;
    if (to.front() == '/') {
      at = to;
    } else {
      const std::string folder = place_of(at).folder;
      at = folder == "/" ? "/" + to : folder + "/" + to;
    }
  }
  return std::nullopt;
}

}  // namespace

std::size_t get_private_profile_string(const char* section, const char* key, const char* default_value,
                                       char* buffer, std::size_t size, const std::string& path) {
  if (buffer == nullptr || size == 0) return 0;
  // Settings are read at every lookup; reusing the buffer spares an allocation per call. A buffer
  // grown for a big file is not kept.
  thread_local std::string file_buffer;
  const std::string_view content = path.empty() ? std::string_view() : read_for_lookup(path, file_buffer);
  const std::size_t n =
      get_profile_string_from_memory(content, section, key, default_value, buffer, size, file_scheme());
  if (file_buffer.size() > (std::size_t{1} << 16)) std::string().swap(file_buffer);
  return n;
}

int write_private_profile_string(const char* section, const char* key, const char* value,
                                 const std::string& path) {
  if (path.empty()) return 0;
  const std::optional<std::string> resolved = write_target(path);
  if (!resolved) return 0;
  const std::string& target = *resolved;

  // Writers in several processes are serialized from read to replace by an flock on the file they
  // read. The replacement is a new file, so a writer that waited checks, once it holds the lock, that
  // the name still leads to the file it locked, and otherwise starts again on the new one. Readers
  // never lock: they see the old file or the new one.
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    // A link put in the file's place since the chain was checked is not followed.
    UniqueFd fd(file_calls().open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    if (fd.get() < 0) {
      if (errno != ENOENT) return 0;
      const std::optional<std::string> next =
          write_profile_string_in_memory("", section, key, value, file_scheme());
      if (!next) return 0;
      if (next->empty()) return 1;  // nothing to delete in a missing file
      const Outcome created = replace_file(target, *next, nullptr, -1);
      if (created == Outcome::exists) continue;  // another writer was first: change its file
      return created == Outcome::done ? 1 : 0;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    // Every finished write gives the name a new file or a new time; while that goes on, the writers
    // ahead are alive and worth waiting for.
    struct stat seen = st;
    const auto progressed = [&] {
      struct stat now {};
      if (::stat(target.c_str(), &now) != 0) return true;
      const bool changed = now.st_ino != seen.st_ino || now.st_mtim.tv_sec != seen.st_mtim.tv_sec ||
                           now.st_mtim.tv_nsec != seen.st_mtim.tv_nsec || now.st_size != seen.st_size;
      seen = now;
      return changed;
    };
    const LockResult lock = lock_exclusive(fd.get(), kWritePatience, progressed);
    if (lock == LockResult::busy) return 0;
    if (::fstat(fd.get(), &st) != 0 || st.st_size < 0) return 0;  // as the previous writer left it
    struct stat named {};
    if (lock == LockResult::locked &&
        (::stat(target.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino)) {
      continue;
    }

    std::string old;
    if (!read_all(fd.get(), old, st)) return 0;
    // The rename would replace a write-protected file as easily as any other; honour the protection.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return 0;
    const std::optional<std::string> next =
        write_profile_string_in_memory(old, section, key, value, file_scheme());
    if (!next) return 0;
    if (*next == old) return 1;  // nothing to change

    // A file with a second name stays one file only when rewritten where it stands: a new file
    // would take one of the names, and the other would keep the old settings.
    const Outcome replaced =
        st.st_nlink > 1 ? Outcome::identity_lost : replace_file(target, *next, &st, fd.get());
    if (replaced == Outcome::done) return 1;
    // Where the folder takes no new file, or the new file could not be made the old one's like, the
    // file itself is rewritten: still writable, it keeps everything it had.
    if (replaced == Outcome::refused_by_folder || replaced == Outcome::identity_lost) {
      return rewrite_in_place(target, *next, old, st) ? 1 : 0;
    }
    return 0;
  }
  return 0;
}

}  // namespace ovik::platform

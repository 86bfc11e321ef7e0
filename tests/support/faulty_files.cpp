#include "support/faulty_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ovik::testing {

const char* FaultyFiles::name(Op op) {
  switch (op) {
    case Op::open:
      return "open";
    case Op::write:
      return "write";
    case Op::truncate:
      return "truncate";
    case Op::fsync:
      return "fsync";
    case Op::close:
      return "close";
    case Op::rename:
      return "rename";
    case Op::remove:
      return "remove";
    case Op::mkdir:
      return "mkdir";
  }
  return "?";
}

void FaultyFiles::reset() {
  counts_ = {};
  plans_.clear();
  full_ = false;
  struck_ = 0;
}

void FaultyFiles::fail(Op op, int nth, int error) { plans_.push_back({Mode::fail, op, nth, error}); }

void FaultyFiles::fill_disk(int nth_write, std::size_t room, int failures) {
  plans_.push_back({Mode::full, Op::write, nth_write, ENOSPC});
  room_ = room;
  failures_left_ = failures;
}

void FaultyFiles::free_space() { full_ = false; }

void FaultyFiles::crash(Op op, int nth) { plans_.push_back({Mode::crash, op, nth, 0}); }

int FaultyFiles::strike(Op op) {
  const int count = ++counts_[static_cast<std::size_t>(op)];
  for (const Plan& plan : plans_) {
    if (plan.op != op || plan.nth != count) continue;
    ++struck_;
    switch (plan.mode) {
      case Mode::crash:
        ::_exit(kCrashed);
      case Mode::fail:
        return plan.error;
      case Mode::full:
        full_ = true;
        break;
    }
  }
  return 0;
}

std::optional<std::size_t> FaultyFiles::room_for(int fd, std::size_t size, std::optional<off_t> offset) {
  if (!full_) return size;
  // Overwriting bytes the file already holds needs no new space; only what grows it counts.
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  off_t at = 0;
  if (offset) {
    at = *offset;
  } else {
    at = (::fcntl(fd, F_GETFL) & O_APPEND) != 0 ? st.st_size : ::lseek(fd, 0, SEEK_CUR);
  }
  const std::size_t inside = at < st.st_size ? std::min(size, static_cast<std::size_t>(st.st_size - at)) : 0;
  const std::size_t growing = std::min(size - inside, room_);
  if (inside + growing == 0 && size > 0) {
    if (failures_left_ > 0 && --failures_left_ == 0) full_ = false;
    return std::nullopt;
  }
  room_ -= growing;
  return inside + growing;
}

int FaultyFiles::open(const char* path, int flags, mode_t mode) {
  if (const int error = strike(Op::open)) return errno = error, -1;
  return FileCalls::open(path, flags, mode);
}

int FaultyFiles::openat(int folder, const char* name, int flags, mode_t mode) {
  if (const int error = strike(Op::open)) return errno = error, -1;
  return FileCalls::openat(folder, name, flags, mode);
}

ssize_t FaultyFiles::write(int fd, const void* data, std::size_t size) {
  if (const int error = strike(Op::write)) return errno = error, -1;
  const std::optional<std::size_t> room = room_for(fd, size, std::nullopt);
  if (!room) return errno = ENOSPC, -1;
  return FileCalls::write(fd, data, *room);
}

ssize_t FaultyFiles::pwrite(int fd, const void* data, std::size_t size, off_t offset) {
  if (const int error = strike(Op::write)) return errno = error, -1;
  const std::optional<std::size_t> room = room_for(fd, size, offset);
  if (!room) return errno = ENOSPC, -1;
  return FileCalls::pwrite(fd, data, *room, offset);
}

int FaultyFiles::ftruncate(int fd, off_t length) {
  if (const int error = strike(Op::truncate)) return errno = error, -1;
  return FileCalls::ftruncate(fd, length);
}

int FaultyFiles::fsync(int fd) {
  if (const int error = strike(Op::fsync)) return errno = error, -1;
  return FileCalls::fsync(fd);
}

int FaultyFiles::close(int fd) {
  // close(2) releases the descriptor even when it reports an error.
  const int error = strike(Op::close);
  const int rc = FileCalls::close(fd);
  if (error) return errno = error, -1;
  return rc;
}

int FaultyFiles::rename(const char* from, const char* to) {
  if (const int error = strike(Op::rename)) return errno = error, -1;
  return FileCalls::rename(from, to);
}

int FaultyFiles::renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
  if (const int error = strike(Op::rename)) return errno = error, -1;
  return FileCalls::renameat2(from_folder, from, to_folder, to, flags);
}

int FaultyFiles::link(const char* from, const char* to) {
  if (const int error = strike(Op::rename)) return errno = error, -1;
  return FileCalls::link(from, to);
}

int FaultyFiles::unlink(const char* path) {
  if (const int error = strike(Op::remove)) return errno = error, -1;
  return FileCalls::unlink(path);
}

int FaultyFiles::mkdir(const char* path, mode_t mode) {
  if (const int error = strike(Op::mkdir)) return errno = error, -1;
  return FileCalls::mkdir(path, mode);
}

}  // namespace ovik::testing

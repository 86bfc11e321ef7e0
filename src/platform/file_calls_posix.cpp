#include "platform/file_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ovik::platform {

int FileCalls::open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FileCalls::openat(int folder, const char* name, int flags, mode_t mode) {
  return ::openat(folder, name, flags, mode);
}
ssize_t FileCalls::write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
ssize_t FileCalls::pwrite(int fd, const void* data, std::size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
int FileCalls::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int FileCalls::fsync(int fd) { return ::fsync(fd); }
int FileCalls::close(int fd) { return ::close(fd); }
int FileCalls::rename(const char* from, const char* to) { return ::rename(from, to); }
int FileCalls::renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
  return ::renameat2(from_folder, from, to_folder, to, flags);
}
int FileCalls::link(const char* from, const char* to) { return ::link(from, to); }
int FileCalls::unlink(const char* path) { return ::unlink(path); }
int FileCalls::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }

template <>
FileCalls& Facility<FileCalls>::real() {
  static FileCalls instance;
  return instance;
}

}  // namespace ovik::platform

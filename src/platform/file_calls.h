// The system calls by which the settings writer and the log and trace appenders create, write,
// rename and remove files, as a facility (see facility.h). The real members are the calls
// themselves, with their own results and errno; a test installs a fake that fails the n-th of
// them, as a full disk, a lost permission or an I/O error would at that very step.
//
// Only the steps that change files pass through here; reads and lookups (stat, read, flock) stay
// direct calls. A fake's close must still release the descriptor, as close(2) always does.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "platform/facility.h"

namespace ovik::platform {

class FileCalls {
 public:
  virtual ~FileCalls() = default;

  virtual int open(const char* path, int flags, mode_t mode = 0);
  virtual int openat(int folder, const char* name, int flags, mode_t mode = 0);
  virtual ssize_t write(int fd, const void* data, std::size_t size);
  virtual ssize_t pwrite(int fd, const void* data, std::size_t size, off_t offset);
  virtual int ftruncate(int fd, off_t length);
  virtual int fsync(int fd);
  virtual int close(int fd);
  virtual int rename(const char* from, const char* to);
  virtual int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags);
  virtual int link(const char* from, const char* to);
  virtual int unlink(const char* path);
  virtual int mkdir(const char* path, mode_t mode);
};

template <>
FileCalls& Facility<FileCalls>::real();

inline FileCalls& file_calls() { return Facility<FileCalls>::get(); }

}  // namespace ovik::platform

// A file system that fails on cue. Installed for its life, it counts every call that changes a
// file (see platform/file_calls.h) by kind and makes the planned one fail: with an errno, as a disk
// that fills up (part of a write lands, the rest and every later write fail with ENOSPC), or by
// ending the process there, as a crash or a power cut would (use that in a forked child).
//
// A sweep runs an operation once to count its calls, then once per call with that call failing.
#pragma once

#include <array>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <vector>

#include "platform/file_calls.h"

namespace ovik::testing {

class FaultyFiles final : public platform::FileCalls {
 public:
  // Kinds of call, as a fault plan names them. A rename covers renameat2 and link, which put a
  // new file in place just the same; a remove is unlink.
  enum class Op { open, write, truncate, fsync, close, rename, remove, mkdir };
  static constexpr std::array kOps = {Op::open,  Op::write,  Op::truncate, Op::fsync,
                                      Op::close, Op::rename, Op::remove,   Op::mkdir};
  static const char* name(Op op);

  // The process's exit status after a planned crash.
  static constexpr int kCrashed = 86;

  // Forgets the counts and every planned fault; nothing fails afterwards. Calls are counted from
  // here, and the plans below add up.
  void reset();
  // The n-th call (from 1) of `op` fails with `error`, once.
  void fail(Op op, int nth, int error = EIO);
  // From the n-th write on, `room` more bytes fit on the disk: a write that asks for more lands
  // what fits (a short write), and every write after that fails with ENOSPC until free_space(),
  // or, with `failures` given, until that many writes have failed. Bytes that overwrite what a
  // file already holds always land, as they take no new space.
  void fill_disk(int nth_write, std::size_t room, int failures = -1);
  void free_space();
  // The process ends with kCrashed just before the n-th call of `op`.
  void crash(Op op, int nth);

  // Calls of `op` since the last reset.
  int calls(Op op) const { return counts_[static_cast<std::size_t>(op)]; }
  // How many planned faults have happened.
  int struck() const { return struck_; }

  int open(const char* path, int flags, mode_t mode) override;
  int openat(int folder, const char* name, int flags, mode_t mode) override;
  ssize_t write(int fd, const void* data, std::size_t size) override;
  ssize_t pwrite(int fd, const void* data, std::size_t size, off_t offset) override;
  int ftruncate(int fd, off_t length) override;
  int fsync(int fd) override;
  int close(int fd) override;
  int rename(const char* from, const char* to) override;
  int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) override;
  int link(const char* from, const char* to) override;
  int unlink(const char* path) override;
  int mkdir(const char* path, mode_t mode) override;

 private:
  enum class Mode { fail, crash, full };
  struct Plan {
    Mode mode;
    Op op;
    int nth;
    int error;
  };
  // Counts the call; the errno it must fail with, or 0 when it goes through.
  int strike(Op op);
  // For a write of `size` bytes at `offset` (or where the descriptor stands): how many may land;
  // none when the disk is full.
  std::optional<std::size_t> room_for(int fd, std::size_t size, std::optional<off_t> offset);

  std::array<int, kOps.size()> counts_{};
  std::vector<Plan> plans_;
  std::size_t room_ = 0;
  int failures_left_ = -1;  // of a full disk; -1 until free_space()
  bool full_ = false;
  int struck_ = 0;
  platform::ScopedFake<platform::FileCalls> guard_{*this};
};

}  // namespace ovik::testing

// Link and lock rules that the Linux file code (file system, profile writer) shares.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace ovik::platform {

// Whether the symbolic link at `link`, which belongs to `owner`, may be followed: only when it
// belongs to root, to this user or to the owner of the folder that holds it (the rule of the
// kernel's protected_symlinks, in every folder), so that a link another user planted in a folder
// open to a group cannot steer a privileged program's writes to a file of its choosing.
bool may_follow_link(const std::string& link, uid_t owner);

// The outcome of waiting for an exclusive flock on a descriptor.
enum class LockResult {
  locked,
  busy,         // another holder kept it for all of `patience`
  unsupported,  // the file system cannot lock (ENOLCK and the like)
};

// Takes flock(LOCK_EX) on `fd`, retrying with short pauses: a holder that was stopped while holding
// it must not hang the caller. Gives up after `patience` without progress, where `progressed`, asked
// between attempts, tells whether the holders got anything done since it was last asked (a busy file
// may keep a waiter longer than a stuck one). The lock goes with the descriptor.
LockResult lock_exclusive(int fd, std::chrono::milliseconds patience,
                          const std::function<bool()>& progressed = nullptr);

}  // namespace ovik::platform

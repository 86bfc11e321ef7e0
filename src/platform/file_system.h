// The few file operations of the log, trace and settings code, as a facility (see facility.h)
// so that tests can inject faults. Every virtual member of the base class is the real Linux
// implementation (file_system_posix.cpp; file_system_win32.cpp on Windows); a fake overrides
// only what it changes.
//
// Paths are narrow byte strings as the file system takes them. No member throws: a failure is
// the false, empty or missing result documented for it, and leaves nothing open behind.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/facility.h"

namespace ovik::platform {

// What tells one state of a folder's list of names from another: the folder itself (device and
// inode) and the times of its last change of entries (mtime) and of its own attributes (ctime),
// to the nanosecond. Creating, deleting or renaming an entry moves the mtime.
struct FolderStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  // Whether both times lie well (two seconds) behind the system clock. A file system stamps with a
  // coarse clock (a kernel tick, a file server's clock), so two changes within one tick can leave
  // the same times; once they are settled, the next change is sure to move them.
  bool settled = false;
  bool same_as(const FolderStamp& other) const {
    return device == other.device && inode == other.inode && mtime_ns == other.mtime_ns &&
           ctime_ns == other.ctime_ns;
  }
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Whether any entry (file, folder, link, even a dangling one) has this name.
  virtual bool exists(const std::string& path);
  // Creates the last level of `path` only (mode 0777 less the umask). True when a folder of
  // that name exists afterwards, also when another process created it first.
  virtual bool create_directory(const std::string& path);
  // Appends `bytes` exactly as given (the caller includes the line's end) with one write(2) on
  // a descriptor opened O_APPEND, so whole lines from several processes never interleave. The
  // file is created with mode 0666 less the umask when missing. False on any failure.
  //
  // The file is never reached through a symbolic link, and must be a regular file. Its folder may
  // be a link only when the link belongs to root, to this user or to the owner of the folder that
  // holds it, so a link planted by another user cannot steer a privileged program's lines.
  //
  // No entry joins a fragment: appenders take the file's flock while they write; one that fails
  // part-way (a full disk) cuts its own fragment off again when nothing followed it, and an entry
  // that finds the file ending inside a line (a fragment nobody could remove, say of a killed
  // process) starts on a line of its own. The lock is waited for about a second at most; past
  // that the line goes out without it.
  //
  // The file is opened and closed within the call: a file renamed or deleted since the last line
  // (rotation, a purge) or a folder made anew is taken by its name, a forked child shares no
  // offset with its parent, and no descriptor is held between lines. A file deleted between the
  // open and the lock is opened once more. After a failure errno says why (ENOENT: no such folder).
  virtual bool append_line(const std::string& path, std::string_view bytes);
  // The names (not paths) of the regular files in `folder`, links to regular files included,
  // without folders, other kinds of entry and hidden names (beginning with "."), in byte order.
  // None when the folder cannot be listed, or is a symbolic link that append_line would refuse
  // (so a purge never deletes in a planted link's target).
  virtual std::optional<std::vector<std::string>> list_files(const std::string& folder);
  // The stamp of the folder (a link followed); none when it cannot be read.
  virtual std::optional<FolderStamp> folder_stamp(const std::string& folder);
  // Removes one file (or link); false when it cannot.
  virtual bool remove_file(const std::string& path);
  // The last modification time in whole seconds since 1970-01-01 UTC; none when unreadable.
  virtual std::optional<std::int64_t> last_write_time_unix(const std::string& path);


 protected:
  // The write(2) of append_line, the seam for fault injection: a fake may write short or fail
  // (errno set) to play a full disk.
  virtual ssize_t write_some(int fd, const char* data, std::size_t size);
};

}  // namespace ovik::platform

// Profile (INI) files: reading and writing single values the way the Windows profile functions do,
// on text in the narrow code page (convert with codepage.h).
//
// Contract:
// - Nothing is cached: every call reads the file once, so changes made by other programs are seen at
//   the next call. Nothing throws.
// - Reading never fails: an unreadable file (missing, a folder, no permission, an endless device)
//   reads as an empty one, so the caller gets its default. A FIFO is never waited on. Any bytes are accepted;
//   a NUL byte ends the meaningful part of its line.
// - Writing replaces the file in one step (temporary file beside it, fsync, rename), keeping the old
//   file's permission bits, group (and, where allowed, its owner) and extended attributes, its ACL
//   among them; on failure the old file is untouched and no temporary file is left behind. Where the
//   folder takes no new file (no write permission, or a sticky folder and another user's file), the
//   new file could not keep the group or the attributes, or the file has a second hard link, a
//   writable file is rewritten in place instead. The folder is never created.
// - A symbolic link is written through, link after link, each only when it belongs to root, the
//   writer or the owner of the folder holding it; any other link fails the write.
// - Writers in several processes are serialized from read to replace (an flock on the file read,
//   given up, failing the write, after 10 seconds in which no writer got anything done), so no update
//   is lost. Readers take no lock.
// - Names are compared without regard to ASCII letter case and to blanks around them. In double-byte
//   code pages (CP932) bytes inside a character are never taken for "]" or folded as letters.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace ovik::platform {

// Copies the value of `key` in `section` (or, when missing, `default_value` without its trailing
// spaces; null acts as "") into `buffer`, cut to size - 1 bytes without splitting a character, and
// NUL-terminates it. Returns the bytes copied, not counting the NUL.
// A null `section` lists every section name, a null `key` every key name of the section: each name is
// NUL-terminated and one more NUL ends the list; the result counts every byte but that last NUL. A list
// that does not fit is cut, ends in two NULs and returns size - 2. A key list of an empty or missing
// section gives the default instead. size 0 returns 0 and writes nothing.
std::size_t get_private_profile_string(const char* section, const char* key, const char* default_value,
                                       char* buffer, std::size_t size, const std::string& path);

// Sets `key` in `section` to `value`, creating the file, section or key when missing. A null value
// deletes the key; a null key deletes the section (every section of that name) with its lines.
// Returns nonzero on success, 0 on failure: missing folder, unreadable, write-protected or non-regular
// file, a failed write, or names and values that could not be read back as written (a CR or LF anywhere, "]"
// in the section name, "=" in the key name, a key name beginning with "[" or ";").
int write_private_profile_string(const char* section, const char* key, const char* value,
                                 const std::string& path);

// The same rules on file content held in memory; the file functions are built on these (tests and
// fuzzing use them directly).
std::size_t get_profile_string_from_memory(std::string_view content, const char* section, const char* key,
                                           const char* default_value, char* buffer, std::size_t size,
                                           CharScheme scheme);

// The new content after the write, or nullopt when the arguments are refused.
std::optional<std::string> write_profile_string_in_memory(std::string_view content, const char* section,
                                                          const char* key, const char* value,
                                                          CharScheme scheme);

}  // namespace ovik::platform

#include "platform/profile.h"

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

namespace ovik::platform {

namespace {

// A writer holds the lock from read to rename, fsync included; ten seconds in which no writer got
// anything done means the holder is stuck.
constexpr std::chrono::milliseconds kWritePatience{10'000};
// Each retry means another writer replaced the file meanwhile, so this bounds only a live lock.
constexpr int kWriteAttempts = 1000;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// A NUL ends the meaningful part of a line: names and values never hold one.
std::string_view cut_at_nul(std::string_view s) {
  const void* p = std::memchr(s.data(), '\0', s.size());
  return p == nullptr ? s : s.substr(0, static_cast<std::size_t>(static_cast<const char*>(p) - s.data()));
}

std::size_t find_byte(std::string_view s, char c, std::size_t from) {
  if (from >= s.size()) return s.size();
  const void* p = std::memchr(s.data() + from, c, s.size() - from);
  return p == nullptr ? s.size() : static_cast<std::size_t>(static_cast<const char*>(p) - s.data());
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Both names already trimmed. Letters are folded only where they stand as characters of their own.
bool names_equal(std::string_view a, std::string_view b, CharScheme scheme) {
  if (a.size() != b.size()) return false;
  if (!hides_ascii(scheme)) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] != b[i] && ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    }
    return true;
  }
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t n = narrow_char_length(a, i, scheme);
    if (n == 1) {
      if (a[i] != b[i] && ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    } else if (a.compare(i, n, b, i, n) != 0) {
      return false;
    }
    i += n;
  }
  return true;
}

// `s` starts just after "["; the name ends at the first "]" that is a character of its own.
std::string_view header_name(std::string_view s, CharScheme scheme) {
  s = cut_at_nul(s);
  std::size_t end = 0;
  if (!hides_ascii(scheme)) {
    end = find_byte(s, ']', 0);
  } else {
    while (end < s.size() && s[end] != ']') end += narrow_char_length(s, end, scheme);
    if (end > s.size()) end = s.size();
  }
  return trim(s.substr(0, end));
}

// The name of the header whose "[" stands just before text[pos], read in place: up to its "]", or
// to the end of its line or a NUL when it has none, the way header_name reads the line's text. CR,
// LF and NUL are never trail bytes, so stepping by characters meets them as characters of their own.
std::string_view header_name_at(std::string_view text, std::size_t pos, CharScheme scheme) {
  std::size_t end = pos;
  if (!hides_ascii(scheme)) {
    while (end < text.size()) {
      const char c = text[end];
      if (c == ']' || c == '\0' || c == '\r' || c == '\n') break;
      ++end;
    }
  } else {
    while (end < text.size()) {
      const char c = text[end];
      if (c == ']' || c == '\0' || c == '\r' || c == '\n') break;
      end += narrow_char_length(text, end, scheme);
    }
    if (end > text.size()) end = text.size();
  }
  return trim(text.substr(pos, end - pos));
}

// For code pages whose bytes are characters of their own or never look like ASCII: where the name
// standing at text[pos] after blanks ends, with the blanks after it, when that name begins with
// `want` (case aside); npos when it does not. Compared in place, last byte first, since names that
// differ mostly differ in a number at their end.
std::size_t after_name(std::string_view text, std::size_t pos, std::string_view want) {
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  const std::size_t n = want.size();
  if (text.size() - pos < n) return std::string_view::npos;
  if (n > 0 && ascii_upper(text[pos + n - 1]) != ascii_upper(want[n - 1])) return std::string_view::npos;
  for (std::size_t i = 0; i < n; ++i)
    if (text[pos + i] != want[i] && ascii_upper(text[pos + i]) != ascii_upper(want[i])) return std::string_view::npos;
  pos += n;
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  return pos;
}

std::string_view unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

struct Line {
  std::size_t begin = 0;
  std::size_t content_end = 0;  // before the line break
  std::size_t end = 0;          // after the line break
  bool has_break() const { return end != content_end; }
};

// Splits text into lines at CR LF, LF or CR. The next CR and LF are each searched once and reused,
// so CR-only and LF-only files both cost one pass.
class LineReader {
 public:
  explicit LineReader(std::string_view text)
      : text_(text),
        pos_(text.substr(0, kBom.size()) == kBom ? kBom.size() : 0),
        next_lf_(find_byte(text, '\n', pos_)),
        next_cr_(find_byte(text, '\r', pos_)) {}

  std::size_t start() const { return text_.substr(0, kBom.size()) == kBom ? kBom.size() : 0; }

  // Moves forward to `pos`, which must begin a line.
  void seek(std::size_t pos) { pos_ = pos; }

  bool next(Line& line) {
    if (pos_ >= text_.size()) return false;
    if (next_lf_ < pos_) next_lf_ = find_byte(text_, '\n', pos_);
    if (next_cr_ < pos_) next_cr_ = find_byte(text_, '\r', pos_);
    line.begin = pos_;
    line.content_end = next_lf_ < next_cr_ ? next_lf_ : next_cr_;
    if (line.content_end == text_.size()) {
      line.end = text_.size();
    } else if (text_[line.content_end] == '\r' && line.content_end + 1 < text_.size() &&
               text_[line.content_end + 1] == '\n') {
      line.end = line.content_end + 2;
    } else {
      line.end = line.content_end + 1;
    }
    pos_ = line.end;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_;
  std::size_t next_lf_;
  std::size_t next_cr_;
};

enum class Kind { blank, comment, header, key, other };

struct Parsed {
  Kind kind = Kind::blank;
  std::string_view name;   // header or key name, trimmed; a view into the text
  std::string_view value;  // key lines: trimmed and unquoted
};

Parsed parse_line(std::string_view text, CharScheme scheme) {
  Parsed p;
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) ++i;
  if (i == text.size() || text[i] == '\0') return p;
  if (text[i] == ';') {
    p.kind = Kind::comment;
  } else if (text[i] == '[') {
    p.kind = Kind::header;
    p.name = header_name(text.substr(i + 1), scheme);
  } else {
    text = cut_at_nul(text);
    // "=" is below every trail byte range, so a plain byte search is safe in every code page.
    const std::size_t eq = find_byte(text, '=', i);
    if (eq == text.size()) {
      p.kind = Kind::other;
    } else {
      p.kind = Kind::key;
      p.name = trim(text.substr(i, eq - i));
      p.value = unquoted(trim(text.substr(eq + 1)));
    }
  }
  return p;
}

std::string_view line_text(std::string_view content, const Line& line) {
  return content.substr(line.begin, line.content_end - line.begin);
}

std::size_t copy_value(std::string_view value, char* buffer, std::size_t size, CharScheme scheme) {
  const std::size_t n = narrow_cut(value, size - 1, scheme);
  if (n > 0) std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

std::size_t copy_default(const char* default_value, char* buffer, std::size_t size, CharScheme scheme) {
  std::string_view d = default_value == nullptr ? std::string_view() : std::string_view(default_value);
  while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
  return copy_value(d, buffer, size, scheme);
}

// Names each followed by NUL, then one more NUL. A list that does not fit is cut (mid-name if need
// be) and closed with two NULs, answering size - 2, as the Windows functions do.
std::size_t copy_list(const std::vector<std::string_view>& names, char* buffer, std::size_t size) {
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::size_t pos = 0;
  for (std::string_view name : names) {
    if (pos + name.size() + 1 > size - 1) {
      // The previous name may already reach size - 2; its NUL then doubles as the first closing one.
      const std::size_t room = pos < size - 2 ? size - 2 - pos : 0;
      if (room > 0) std::memcpy(buffer + pos, name.data(), room < name.size() ? room : name.size());
      buffer[size - 2] = '\0';
      buffer[size - 1] = '\0';
      return size - 2;
    }
    std::memcpy(buffer + pos, name.data(), name.size());
    pos += name.size();
    buffer[pos++] = '\0';
  }
  buffer[pos] = '\0';
  if (pos == 0) buffer[1] = '\0';
  return pos;
}

std::vector<std::string_view> section_names(std::string_view content, CharScheme scheme) {
  std::vector<std::string_view> names;
  LineReader lines(content);
  Line line;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header && !p.name.empty()) names.push_back(p.name);
  }
  return names;
}

std::vector<std::string_view> key_names(std::string_view content, std::string_view section,
                                        CharScheme scheme) {
  std::vector<std::string_view> names;
  LineReader lines(content);
  Line line;
  bool in_section = false;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header) {
      if (in_section) break;
      in_section = names_equal(p.name, section, scheme);
    } else if (in_section && p.kind == Kind::key && !p.name.empty()) {
      names.push_back(p.name);
    }
  }
  return names;
}

bool has_line_break(const char* s) { return s != nullptr && std::strpbrk(s, "\r\n") != nullptr; }

// Where a write lands: the first matching section, its first matching key and its last key line.
struct Target {
  std::optional<Line> header;
  std::optional<Line> key;
  std::string_view key_name;  // as spelled in the file
  std::optional<Line> last_key;
};

Target locate(std::string_view content, std::string_view section, std::string_view key, CharScheme scheme) {
  Target t;
  LineReader lines(content);
  Line line;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header) {
      if (t.header) break;
      if (names_equal(p.name, section, scheme)) t.header = line;
    } else if (t.header && p.kind == Kind::key) {
      t.last_key = line;
      if (!t.key && names_equal(p.name, key, scheme)) {
        t.key = line;
        t.key_name = p.name;
      }
    }
  }
  return t;
}

std::string without_sections(std::string_view content, std::string_view section, CharScheme scheme) {
  std::string out;
  out.reserve(content.size());
  LineReader lines(content);
  out.append(content.substr(0, lines.start()));
  Line line;
  bool dropping = false;
  while (lines.next(line)) {
    const Parsed p = parse_line(line_text(content, line), scheme);
    if (p.kind == Kind::header) dropping = names_equal(p.name, section, scheme);
    if (!dropping) out.append(content.substr(line.begin, line.end - line.begin));
  }
  return out;
}

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

std::size_t get_profile_string_from_memory(std::string_view content, const char* section, const char* key,
                                           const char* default_value, char* buffer, std::size_t size,
                                           CharScheme scheme) {
  if (buffer == nullptr || size == 0) return 0;
  if (section == nullptr) return copy_list(section_names(content, scheme), buffer, size);
  const std::string_view want_section = trim(section);
  if (key == nullptr) {
    const std::vector<std::string_view> names = key_names(content, want_section, scheme);
    if (names.empty()) return copy_default(default_value, buffer, size, scheme);
    return copy_list(names, buffer, size);
  }
  const std::string_view want_key = trim(key);

  // The hot path. Outside the wanted section only headers matter: each "[" that begins a line (after
  // blanks) has its name read up to "]" and compared, without splitting the text into lines. Inside
  // the section the lines are taken one by one, and the scan stops at the key or at the end of the
  // first matching section.
  // A section name holding "]", CR, LF or NUL, or a key name holding "=" or NUL, can match nothing.
  static constexpr std::string_view kHeaderEnds{"]\0\r\n", 4};
  static constexpr std::string_view kKeyEnds{"=\0", 2};
  const bool direct = !hides_ascii(scheme);
  if (direct && (want_section.find_first_of(kHeaderEnds) != std::string_view::npos ||
                 want_key.find_first_of(kKeyEnds) != std::string_view::npos)) {
    return copy_default(default_value, buffer, size, scheme);
  }
  const std::size_t start = content.substr(0, kBom.size()) == kBom ? kBom.size() : 0;
  std::size_t from = start;
  std::size_t header = content.size();
  while (from < content.size()) {
    const std::size_t p = find_byte(content, '[', from);
    if (p == content.size()) break;
    from = p + 1;
    std::size_t q = p;
    while (q > start && is_blank(content[q - 1])) --q;
    if (q != start && content[q - 1] != '\n' && content[q - 1] != '\r') continue;
    bool match = false;
    if (direct) {
      // The name ends at "]", a line break, a NUL or the end of the text; `want` holds none of them.
      const std::size_t end = after_name(content, p + 1, want_section);
      match = end == content.size() || (end != std::string_view::npos && kHeaderEnds.find(content[end]) !=
                                                                             std::string_view::npos);
    } else {
      match = names_equal(header_name_at(content, p + 1, scheme), want_section, scheme);
    }
    if (match) {
      header = q;
      break;
    }
  }
  if (header == content.size()) return copy_default(default_value, buffer, size, scheme);

  LineReader lines(content);
  lines.seek(header);
  Line line;
  lines.next(line);  // the header itself
  while (lines.next(line)) {
    const std::string_view text = line_text(content, line);
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i == text.size()) continue;
    if (text[i] == '[') break;
    if (text[i] == ';') continue;
    if (direct) {
      // The key's name, blanks, then the line's first "=" (`want` holds neither "=" nor NUL).
      const std::size_t eq = after_name(text, i, want_key);
      if (eq == std::string_view::npos || eq == text.size() || text[eq] != '=') continue;
      return copy_value(unquoted(trim(cut_at_nul(text.substr(eq + 1)))), buffer, size, scheme);
    }
    // A NUL ends the line's meaning, so a key line has its "=" before any NUL. Both are below every
    // trail byte range, so a plain byte scan is safe in every code page.
    std::size_t eq = i;
    while (eq < text.size() && text[eq] != '=' && text[eq] != '\0') ++eq;
    if (eq == text.size() || text[eq] != '=') continue;
    if (names_equal(trim(text.substr(i, eq - i)), want_key, scheme)) {
      return copy_value(unquoted(trim(cut_at_nul(text.substr(eq + 1)))), buffer, size, scheme);
    }
  }
  return copy_default(default_value, buffer, size, scheme);
}

std::optional<std::string> write_profile_string_in_memory(std::string_view content, const char* section,
                                                          const char* key, const char* value,
                                                          CharScheme scheme) {
  if (section == nullptr) {
    // The Windows call with everything null only flushes its cache; there is none here.
    if (key == nullptr && value == nullptr) return std::string(content);
    return std::nullopt;
  }
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) return std::nullopt;

  // Refuse names that would not read back as themselves, rather than write a file that hides them.
  const std::string_view sec = trim(section);
  const std::string header = "[" + std::string(sec) + "]";
  const Parsed parsed_header = parse_line(header, scheme);
  if (parsed_header.kind != Kind::header || parsed_header.name != sec) return std::nullopt;

  if (key == nullptr) return without_sections(content, sec, scheme);

  const std::string_view k = trim(key);
  const std::string key_prefix = std::string(k) + "=";
  const Parsed parsed_key = parse_line(key_prefix, scheme);
  if (parsed_key.kind != Kind::key || parsed_key.name != k) return std::nullopt;

  const Target t = locate(content, sec, k, scheme);
  std::string out;
  out.reserve(content.size() + header.size() + key_prefix.size() + (value ? std::strlen(value) : 0) + 8);

  if (value == nullptr) {
    if (!t.key) return std::string(content);
    out.append(content.substr(0, t.key->begin));
    out.append(content.substr(t.key->end));
    return out;
  }

  if (t.key) {
    // Keep the line's indentation and key spelling; only what follows the name is rewritten.
    const std::size_t name_end =
        static_cast<std::size_t>(t.key_name.data() - content.data()) + t.key_name.size();
    out.append(content.substr(0, name_end));
    out.push_back('=');
    out.append(value);
    out.append(t.key->has_break() ? content.substr(t.key->content_end, t.key->end - t.key->content_end)
                                  : kCrLf);
    out.append(content.substr(t.key->end));
    return out;
  }

  if (t.header) {
    const Line& anchor = t.last_key ? *t.last_key : *t.header;
    out.append(content.substr(0, anchor.end));
    if (!anchor.has_break()) out.append(kCrLf);
    out.append(key_prefix).append(value).append(kCrLf);
    out.append(content.substr(anchor.end));
    return out;
  }

  out.append(content);
  const std::size_t start = LineReader(content).start();
  if (content.size() > start && content.back() != '\n' && content.back() != '\r') out.append(kCrLf);
  out.append(header).append(kCrLf);
  out.append(key_prefix).append(value).append(kCrLf);
  return out;
}

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

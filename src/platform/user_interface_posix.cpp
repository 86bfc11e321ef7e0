#include "platform/user_interface_native.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include "platform/user_interface.h"

namespace ovik::platform::native {

namespace {

void write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report to; the notice is best effort
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::int32_t message_box(const std::string& text, const std::string& title, std::int32_t) {
  const std::string line = message_box_line(text, title);
  write_all(STDERR_FILENO, line);
  // No openlog: the identity and options of the system log belong to the host program.
  ::syslog(LOG_USER | LOG_WARNING, "%.*s", static_cast<int>(line.size() - 1), line.c_str());
  return kMessageBoxOk;
}

std::uint32_t focused_window_process_id() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace ovik::platform::native

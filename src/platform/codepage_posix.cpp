// The narrow code page on Linux: the user's locale codeset, converted with iconv.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/codepage_detail.h"

namespace ovik::platform {

namespace {

using codepage_detail::kUtf8;
using codepage_detail::names_shift_jis;
using codepage_detail::normalized;
using codepage_detail::sanitized_utf8;

class IconvHandle {
 public:
  IconvHandle(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~IconvHandle() {
    if (valid()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// iconv_open loads and parses gconv tables, far more than one INI value costs to convert, so each
// thread keeps the converters it has opened. A failed open is cached too, to fail fast next time.
IconvHandle& converter(std::string_view to, std::string_view from) {
  struct Entry {
    std::string to, from;
    std::unique_ptr<IconvHandle> handle;
  };
  thread_local std::vector<Entry> cache;
  for (Entry& e : cache) {
    if (e.to == to && e.from == from) return *e.handle;
  }
  Entry e{std::string(to), std::string(from), nullptr};
  e.handle = std::make_unique<IconvHandle>(e.to, e.from);
  cache.push_back(std::move(e));
  return *cache.back().handle;
}

// Runs iconv over `input`, putting "?" (converted into the target) for each character it cannot
// take; `source` tells how far to skip over such a character.
std::string convert(std::string_view input, IconvHandle& cd, CharScheme source) {
  std::string out;
  out.reserve(input.size() + input.size() / 2 + 8);
  iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);

  char chunk[1024];
  auto run = [&](const char* data, std::size_t length, std::size_t& consumed) -> int {
    char* in = const_cast<char*>(data);  // iconv's signature is not const-correct; it only reads
    std::size_t in_left = length;
    int error = 0;
    for (;;) {
      char* out_ptr = chunk;
      std::size_t out_left = sizeof chunk;
      std::size_t r = data == nullptr ? iconv(cd.get(), nullptr, nullptr, &out_ptr, &out_left)
                                      : iconv(cd.get(), &in, &in_left, &out_ptr, &out_left);
      error = r == static_cast<std::size_t>(-1) ? errno : 0;
      out.append(chunk, static_cast<std::size_t>(out_ptr - chunk));
      if (error != E2BIG) break;
    }
    consumed = length - in_left;
    return error;
  };

  auto put_replacement = [&] {
    std::size_t ignored = 0;
    if (run("?", 1, ignored) != 0) out.push_back('?');
  };

  std::size_t pos = 0;
  while (pos < input.size()) {
    std::size_t consumed = 0;
    int error = run(input.data() + pos, input.size() - pos, consumed);
    pos += consumed;
    if (error == 0) break;
    put_replacement();
    if (error == EINVAL) break;  // a sequence cut off at the end of the input
    if (pos < input.size()) pos += narrow_char_length(input, pos, source);
  }
  std::size_t ignored = 0;
  run(nullptr, 0, ignored);  // return a stateful target to its initial shift state
  return out;
}

// What iconv is asked for.
std::string_view iconv_codeset(std::string_view codeset) {
  return names_shift_jis(normalized(codeset)) ? std::string_view("CP932") : codeset;
}

}  // namespace

std::string codeset_for_locale(const char* locale_name) {
  locale_t loc = newlocale(LC_CTYPE_MASK, locale_name, static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr)) return std::string(kUtf8);
  const char* name = nl_langinfo_l(CODESET, loc);
  std::string codeset = name != nullptr ? name : "";
  freelocale(loc);
  // The C/POSIX locale is what servers and CI run under; their files are UTF-8 in practice.
  if (codeset.empty() || normalized(codeset) == "ANSIX3.41968" || normalized(codeset) == "ASCII") {
    return std::string(kUtf8);
  }
  return codeset;
}

namespace {
const std::string& process_codeset() {
  static const std::string codeset = codeset_for_locale("");
  return codeset;
}
}  // namespace

std::string narrow_codeset() { return process_codeset(); }

CharScheme narrow_scheme() {
  static const CharScheme scheme = char_scheme(process_codeset());
  return scheme;
}

std::string to_narrow(std::string_view utf8, std::string_view codeset) {
  if (char_scheme(codeset) == CharScheme::utf8) return sanitized_utf8(utf8);
  IconvHandle& cd = converter(iconv_codeset(codeset), kUtf8);
  // An unknown codeset cannot be honoured; valid UTF-8 is the least surprising stand-in.
  if (!cd.valid()) return sanitized_utf8(utf8);
  return convert(utf8, cd, CharScheme::utf8);
}

std::string from_narrow(std::string_view bytes, std::string_view codeset) {
  const CharScheme scheme = char_scheme(codeset);
  if (scheme == CharScheme::utf8) return sanitized_utf8(bytes);
  IconvHandle& cd = converter(kUtf8, iconv_codeset(codeset));
  if (!cd.valid()) return sanitized_utf8(bytes);
  return convert(bytes, cd, scheme);
}

std::string to_narrow(std::string_view utf8) {
  if (narrow_scheme() == CharScheme::utf8) return sanitized_utf8(utf8);
  return to_narrow(utf8, process_codeset());
}

std::string from_narrow(std::string_view bytes) {
  if (narrow_scheme() == CharScheme::utf8) return sanitized_utf8(bytes);
  return from_narrow(bytes, process_codeset());
}

}  // namespace ovik::platform

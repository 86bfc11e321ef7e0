// Fixed 128-bit identifiers of the type library, its classes, interfaces and enumerations.
// They are written as literals in the sources and never change between builds: client
// programs compiled against the type library depend on them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ovik {

struct Guid {
  std::array<std::uint8_t, 16> bytes{};

  // Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", with or without braces.
  static constexpr std::optional<Guid> parse(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    Guid g;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        if (text[i] != '-') return std::nullopt;
        ++i;
        continue;
      }
      int hi = hex(text[i]), lo = hex(text[i + 1]);
      if (hi < 0 || lo < 0) return std::nullopt;
      g.bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
      i += 2;
    }
    return g;
  }

  // For literals in the sources: a malformed literal fails to compile where it is constant-evaluated.
  static consteval Guid of(std::string_view text) {
    auto g = parse(text);
    if (!g) throw "malformed GUID literal";
    return *g;
  }

  std::string to_string() const {  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = "{";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
      out += kDigits[bytes[i] >> 4];
      out += kDigits[bytes[i] & 15];
    }
    return out + "}";
  }

  bool is_null() const { return *this == Guid{}; }
  friend constexpr bool operator==(const Guid&, const Guid&) = default;
  friend constexpr auto operator<=>(const Guid&, const Guid&) = default;

 private:
  static constexpr int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
};

}  // namespace ovik

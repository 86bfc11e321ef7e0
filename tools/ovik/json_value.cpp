#include "json_value.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "ovik/error.h"
#include "ovik/type_info.h"
#include "platform/locale_rules.h"

namespace ovik::host {

namespace {

// "-1234.5678" with "." as the separator, exact, up to four decimals.
bool parse_fixed_currency(const std::string& text, Currency& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  __int128 value = 0;
  int digits = 0, decimals = -1;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (c < '0' || c > '9') return false;
    if (decimals >= 4) return false;
    value = value * 10 + (c - '0');
    ++digits;
    if (decimals >= 0) ++decimals;
    if (value > (static_cast<__int128>(1) << 64)) return false;
  }
  if (digits == 0) return false;
  for (int d = decimals < 0 ? 0 : decimals; d < 4; ++d) value *= 10;
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int64_t>::max() || value < std::numeric_limits<std::int64_t>::min())
    return false;
  out.scaled = static_cast<std::int64_t>(value);
  return true;
}

std::string fixed_currency_text(Currency c) {
  std::int64_t v = c.scaled;
  bool negative = v < 0;
  unsigned long long magnitude = negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  std::string out = std::to_string(magnitude / 10000);
  unsigned long long fraction = magnitude % 10000;
  if (fraction != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04llu", fraction);
    std::string f = buf;
    while (!f.empty() && f.back() == '0') f.pop_back();
    out += "." + f;
  }
  return negative ? "-" + out : out;
}

bool parse_iso_date(const std::string& text, DateTime& out) {
  platform::CivilDateTime c;
  int n = 0;
  char sep = 0;
  int read = std::sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%d%n", &c.year, &c.month, &c.day, &sep, &c.hour, &c.minute,
                         &c.second, &n);
  if (read == 7 && (sep == ' ' || sep == 'T') && static_cast<std::size_t>(n) == text.size()) {
  } else {
    c.hour = c.minute = c.second = 0;
    read = std::sscanf(text.c_str(), "%d-%d-%d%n", &c.year, &c.month, &c.day, &n);
    if (read != 3 || static_cast<std::size_t>(n) != text.size()) return false;
  }
  double ole = 0;
  if (!platform::ole_from_civil(c, ole)) return false;
  out.days = ole;
  return true;
}

std::string iso_date_text(DateTime d) {
  platform::CivilDateTime c = platform::civil_from_ole(d.days);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
  return buf;
}

}  // namespace

Variant variant_from_json(const Json& value, const NameLookup& lookup) {
  switch (value.type()) {
    case Json::value_t::null: return Variant(Null{});
    case Json::value_t::boolean: return Variant(value.get<bool>());
    case Json::value_t::string: return Variant(value.get<std::string>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: {
      if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max())
        return Variant(value.get<double>());
      std::int64_t n = value.get<std::int64_t>();
      if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(n));
      return Variant(n);
    }
    case Json::value_t::number_float: return Variant(value.get<double>());
    case Json::value_t::object: {
      if (value.size() == 1) {
        if (auto it = value.find("empty"); it != value.end() && it->is_boolean() && it->get<bool>()) return Variant();
        if (auto it = value.find("currency"); it != value.end()) {
          Currency c;
          std::string text = it->is_string() ? it->get<std::string>() : it->dump();
          if (!parse_fixed_currency(text, c)) raise_runtime_error(err::kTypeMismatch, "currency " + text);
          return Variant(c);
        }
        if (auto it = value.find("date"); it != value.end() && it->is_string()) {
          DateTime d;
          if (!parse_iso_date(it->get<std::string>(), d))
            raise_runtime_error(err::kTypeMismatch, "date " + it->get<std::string>());
          return Variant(d);
        }
        if (auto it = value.find("ref"); it != value.end() && it->is_string()) {
          Ref<IDispatch> object = lookup ? lookup(it->get<std::string>()) : Ref<IDispatch>();
          if (!object) raise_runtime_error(err::kInvalidArgument, "no object named " + it->get<std::string>());
          return Variant(object);
        }
        if (auto it = value.find("object"); it != value.end() && it->is_null()) return Variant::nothing();
      }
      raise_runtime_error(err::kTypeMismatch, "value " + value.dump());
    }
    default: raise_runtime_error(err::kTypeMismatch, "value " + value.dump());
  }
}

Json json_from_variant(const Variant& value) {
  switch (value.type()) {
    case VarType::Empty: return Json{{"empty", true}};
    case VarType::Null: return nullptr;
    case VarType::Boolean: return *value.get_if<bool>();
    case VarType::Byte: return *value.get_if<std::uint8_t>();
    case VarType::Integer: return *value.get_if<std::int16_t>();
    case VarType::Long: return *value.get_if<std::int32_t>();
    case VarType::LongLong: return *value.get_if<std::int64_t>();
    case VarType::Single: return static_cast<double>(*value.get_if<float>());
    case VarType::Double: return *value.get_if<double>();
    case VarType::Currency: return Json{{"currency", fixed_currency_text(*value.get_if<Currency>())}};
    case VarType::Date: return Json{{"date", iso_date_text(*value.get_if<DateTime>())}};
    case VarType::String: {
      // Invalid UTF-8 must not break the answer line: nlohmann refuses to dump it.
      const std::string& s = *value.get_if<std::string>();
      return Json(s);
    }
    case VarType::Object: {
      const Ref<IDispatch>& object = *value.get_if<Ref<IDispatch>>();
      if (!object) return Json{{"object", nullptr}};
      return Json{{"object", object->GetTypeInfo().class_name}};
    }
    case VarType::Variant: break;
  }
  return nullptr;
}

}  // namespace ovik::host

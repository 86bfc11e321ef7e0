// The tagged value of the dispatch interface: empty, null, Boolean, numbers, currency, date-time,
// text or an object. Conversions follow the platform runtime: text and numbers by the user's
// locale rules, halves rounded to even when a number becomes an integer, Null refused where a
// value is needed (error 94), a value that cannot be converted refused with error 13 and one out
// of range with error 6.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "ovik/export.h"
#include "ovik/unknown.h"

namespace ovik {

// Type codes as the dispatch interface reports them.
enum class VarType : std::uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,  // 16-bit
  Long = 3,     // 32-bit
  Single = 4,
  Double = 5,
  Currency = 6,
  Date = 7,
  String = 8,
  Object = 9,
  Boolean = 11,
  Variant = 12,
  Byte = 17,
  LongLong = 20,
};

OVIK_API const char* var_type_name(VarType type) noexcept;  // "String", "Long", ...

// A 64-bit integer scaled by 10,000: four exact decimal places.
struct Currency {
  std::int64_t scaled = 0;
  friend bool operator==(Currency, Currency) = default;
};

// Days since 1899-12-30; the fraction is the time of day.
struct DateTime {
  double days = 0;
  friend bool operator==(DateTime, DateTime) = default;
};

struct Null {
  friend bool operator==(Null, Null) = default;
};

class OVIK_API Variant {
 public:
  Variant() noexcept = default;
  Variant(Null) : v_(Null{}) {}
  Variant(bool b) : v_(b) {}
  Variant(std::uint8_t n) : v_(n) {}
  Variant(std::int16_t n) : v_(n) {}
  Variant(std::int32_t n) : v_(n) {}
  Variant(std::int64_t n) : v_(n) {}
  Variant(float d) : v_(d) {}
  Variant(double d) : v_(d) {}
  Variant(Currency c) : v_(c) {}
  Variant(DateTime d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(Ref<IDispatch> object) : v_(std::move(object)) {}
  template <class T>
    requires std::is_base_of_v<IDispatch, T>
  Variant(const Ref<T>& object) : v_(Ref<IDispatch>(object)) {}

  static Variant nothing() { return Variant(Ref<IDispatch>()); }

  VarType type() const noexcept;
  bool is_empty() const noexcept { return v_.index() == 0; }
  bool is_null() const noexcept { return std::holds_alternative<Null>(v_); }
  bool is_object() const noexcept { return std::holds_alternative<Ref<IDispatch>>(v_); }
  bool is_string() const noexcept { return std::holds_alternative<std::string>(v_); }
  bool is_numeric() const noexcept;  // Byte .. LongLong, Currency, Boolean excluded

  // Conversions as the runtime makes them; they throw RaisedError (13, 6 or 94).
  bool to_bool() const;
  std::uint8_t to_byte() const;
  std::int16_t to_i16() const;
  std::int32_t to_i32() const;
  std::int64_t to_i64() const;
  double to_double() const;
  Currency to_currency() const;
  DateTime to_date() const;
  std::string to_string() const;  // the runtime's text form; Empty gives ""
  Ref<IDispatch> to_object() const;  // Nothing for an empty object reference; 13 for a non-object

  // Direct access without conversion (nullptr when the value holds another type).
  template <class T>
  const T* get_if() const noexcept {
    return std::get_if<T>(&v_);
  }

  // The same type and value (objects: the same object). Not the runtime's "=" operator.
  friend bool operator==(const Variant& a, const Variant& b) { return a.v_ == b.v_; }

 private:
  std::variant<std::monostate, Null, bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float,
               double, Currency, DateTime, std::string, Ref<IDispatch>>
      v_;
};

// Converts a value to the type a member's parameter or result has; used by the dispatch layer.
OVIK_API Variant change_type(const Variant& value, VarType type);

}  // namespace ovik

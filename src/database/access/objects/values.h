// Field descriptions and values of the data-access objects: how a driver column becomes a field
// (type code, size, attributes), how a driver value becomes the Variant a client reads, how a
// Variant a client writes becomes a driver value of the field's type, and the compact column
// store that holds the rows of an in-memory recordset.
//
// Value mapping (driver value -> Variant), fixed here so every caller sees the same types:
//   integers   -> Long when the value fits 32 bits; LongLong otherwise and always for bigint (20)
//                 columns, so a column's values share one type; Integer for smallint (2), Byte for
//                 unsigned tinyint (17)
//   double     -> Double (Single for type 4)
//   exact numbers (Decimal) -> Currency when the value has at most four significant decimals and
//                 fits its range; otherwise Double (the nearest binary value), so a large or very
//                 fine number is never refused on read
//   text       -> String
//   binary     -> String holding the raw bytes (not text: no conversion is applied)
//   date, time, timestamp -> Date (OLE day count; a time alone lies on day zero, fractions of a
//                 second are dropped). A date outside the years 100..9999, which a Date cannot
//                 hold, is read as its ISO text "yyyy-mm-dd hh:mm:ss" rather than refused.
//   Boolean    -> Boolean, NULL -> Null.
// Writing converts with the runtime's own rules and raises them: 13 for a value of the wrong
// kind, 6 for one outside the field type's range, 94 never (Null and Empty store SQL NULL).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "database/access/driver.h"
#include "ovik/variant.h"

namespace ovik::access {

struct FieldDef {
  std::string name;
  std::int32_t type = 0;
  std::int32_t defined_size = 0;
  std::int32_t attributes = 0;
  std::int32_t precision = 0;
  std::int32_t scale = 0;
  // Where a database field writes back; empty for expressions and in-memory fields.
  std::string base_table;
  std::string base_column;
  bool key = false;
};

// The field a driver column becomes; `updatable` adds adFldUpdatable.
FieldDef field_from_column(const ColumnInfo& column, bool updatable);
// A field appended by a client (Fields.Append).
FieldDef appended_field(std::string name, std::int32_t type, std::int32_t defined_size,
                        std::int32_t attributes);

bool is_text_type(std::int32_t type);
bool is_long_type(std::int32_t type);

Variant to_variant(const Value& value, std::int32_t type);
// Raises 13 or 6 (and 3001-style size errors through RaisedError) when `value` does not fit.
Value from_variant(const Variant& value, const FieldDef& field);

// Rows of an in-memory recordset, column by column: integers, reals and texts sit in plain
// vectors of their own type (a row of an integer, a text and a real costs little more than a
// struct of the three), any other value in a vector of driver values. A column changes to the
// general form the first time it meets a value of another kind.
class ColumnStore {
 public:
  std::size_t size() const { return nulls_.size(); }
  void reserve(std::size_t rows);
  void push(const Value& value);
  void set(std::size_t row, const Value& value);
  bool is_null(std::size_t row) const { return nulls_[row]; }
  Value get(std::size_t row) const;
  Variant variant(std::size_t row, std::int32_t type) const;

 private:
  enum class Kind : std::uint8_t { kUnset, kInteger, kReal, kText, kGeneral };
  static Kind kind_of(const Value& value);
  void become(Kind kind);
  void store(std::size_t row, const Value& value);

  Kind kind_ = Kind::kUnset;
  std::vector<bool> nulls_;
  std::vector<std::int64_t> integers_;
  std::vector<double> reals_;
  std::vector<std::string> texts_;
  std::vector<Value> general_;
};

}  // namespace ovik::access

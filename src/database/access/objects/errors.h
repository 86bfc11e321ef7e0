// Error and Errors objects of the data-access layer, and the numbers its failures carry.
//
// Numbers. A failure that a driver reported carries an HRESULT-style number chosen from its
// SQLSTATE class, the same for every driver:
//   23xxx (constraint violated)               -2147217873 (0x80040E2F)
//   42S02 (no such table), 42P01              -2147217865 (0x80040E37)
//   42xxx, 37000 (syntax or access)           -2147217900 (0x80040E14)
//   HYT00, HYT01 (time-out)                   -2147217871 (0x80040E31)
//   IM002 (provider or data source unknown)   -2146824582 (0x800A0E7A)
//   anything else (08xxx included)            -2147467259 (0x80004005, the provider's general failure)
// Failures of the objects themselves carry the small classic numbers below (3704 closed object,
// 3021 no current row, ...); a row that an update by key no longer finds gives -2147217864.
// Every raised description is the first Error's Description; the source is kSource, or
// "ovik.access." + the provider name for a driver's diagnostics.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "database/access/driver.h"
#include "ovik/data_access.h"
#include "ovik/export.h"
#include "ovik/object.h"

namespace ovik::access {

inline constexpr const char* kSource = "ovik.access";

inline constexpr std::int32_t kProviderError = -2147467259;
inline constexpr std::int32_t kIntegrityViolation = -2147217873;
inline constexpr std::int32_t kNoSuchTable = -2147217865;
inline constexpr std::int32_t kErrorsInCommand = -2147217900;
inline constexpr std::int32_t kTimeoutExpired = -2147217871;
inline constexpr std::int32_t kProviderNotFound = -2146824582;
inline constexpr std::int32_t kRowNotFound = -2147217864;
inline constexpr std::int32_t kMultipleStepError = -2147217887;
inline constexpr std::int32_t kCannotFetchBackward = -2147217884;

inline constexpr std::int32_t kBadArguments = 3001;
inline constexpr std::int32_t kNoCurrentRecord = 3021;
inline constexpr std::int32_t kNotAllowedInContext = 3219;
inline constexpr std::int32_t kReadOnlyRecordset = 3251;
inline constexpr std::int32_t kItemNotFound = 3265;
inline constexpr std::int32_t kObjectClosed = 3704;
inline constexpr std::int32_t kObjectOpen = 3705;
inline constexpr std::int32_t kConnectionUnusable = 3709;

// The descriptions that go with the layer's own refusals above.
inline constexpr const char* kClosedText = "Operation is not allowed when the object is closed.";
inline constexpr const char* kConnectionUnusableText =
    "The connection cannot be used to perform this operation. It is either closed or invalid in this context.";

std::int32_t number_for_sqlstate(std::string_view sqlstate);

struct ErrorRecord {
  std::int32_t number = 0;
  std::string description;
  std::string sqlstate;
  std::int32_t native = 0;
  std::string source;
};

std::vector<ErrorRecord> records_of(const std::vector<Diagnostic>& diagnostics, const std::string& source);

class ErrorImpl final : public Object<ErrorImpl, Error> {
 public:
  OVIK_API static const TypeInfo& type_info();
  explicit ErrorImpl(ErrorRecord record) : record_(std::move(record)) {}
  std::int32_t get_Number() override { return record_.number; }
  std::string get_Description() override { return record_.description; }
  std::string get_SQLState() override { return record_.sqlstate; }
  std::int32_t get_NativeError() override { return record_.native; }
  std::string get_Source() override { return record_.source; }
  const ErrorRecord& record() const { return record_; }

 private:
  ErrorRecord record_;
};

class ErrorsImpl final : public Object<ErrorsImpl, Errors> {
 public:
  static const TypeInfo& type_info();
  std::int32_t get_Count() override { return static_cast<std::int32_t>(items_.size()); }
  Ref<Error> get_Item(Variant Index) override;
  void Clear() override { items_.clear(); }

  // Replaces the contents; returns the first new Error (Nothing when `records` is empty).
  Ref<Error> fill(const std::vector<ErrorRecord>& records);

 private:
  std::vector<Ref<Error>> items_;
};

// The raised form of an Error.
[[noreturn]] void raise_record(const ErrorRecord& record);

}  // namespace ovik::access

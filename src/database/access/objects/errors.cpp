#include "database/access/objects/errors.h"

#include "ovik/describe.h"
#include "ovik/error.h"

namespace ovik::access {

std::int32_t number_for_sqlstate(std::string_view state) {
  if (state == "42S02" || state == "42P01") return kNoSuchTable;
  if (state.starts_with("23")) return kIntegrityViolation;
  if (state.starts_with("42") || state == "37000") return kErrorsInCommand;
  if (state == "HYT00" || state == "HYT01") return kTimeoutExpired;
  if (state == "IM002") return kProviderNotFound;
  return kProviderError;
}

std::vector<ErrorRecord> records_of(const std::vector<Diagnostic>& diagnostics, const std::string& source) {
  std::vector<ErrorRecord> records;
  records.reserve(diagnostics.size());
  for (const auto& d : diagnostics)
    records.push_back(ErrorRecord{number_for_sqlstate(d.sqlstate), d.message, d.sqlstate, d.native, source});
  if (records.empty())
    records.push_back(ErrorRecord{kProviderError, "Unspecified provider error.", "HY000", 0, source});
  return records;
}

const TypeInfo& ErrorImpl::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<Error>("Error", Error::IID, Instancing::Internal, 0);
    t.library = "ADODB";
    Describe<Error>(t)
        .get("Number", &Error::get_Number)
        .get("Description", &Error::get_Description)
        .as_default()
        .get("SQLState", &Error::get_SQLState)
        .get("NativeError", &Error::get_NativeError)
        .get("Source", &Error::get_Source);
    return t;
  }();
  return info;
}

const TypeInfo& ErrorsImpl::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<Errors>("Errors", Errors::IID, Instancing::Internal, 0);
    t.library = "ADODB";
    Describe<Errors>(t)
        .get("Count", &Errors::get_Count)
        .get("Item", &Errors::get_Item, {"Index"})
        .as_default()
        .method("Clear", &Errors::Clear);
    return t;
  }();
  return info;
}

Ref<Error> ErrorsImpl::get_Item(Variant Index) {
  const std::int32_t i = Index.to_i32();
  if (i < 0 || static_cast<std::size_t>(i) >= items_.size()) raise_runtime_error(err::kInvalidArgument);
  return items_[static_cast<std::size_t>(i)];
}

Ref<Error> ErrorsImpl::fill(const std::vector<ErrorRecord>& records) {
  items_.clear();
  for (const auto& r : records) items_.push_back(Ref<Error>(make_object<ErrorImpl>(r)));
  return items_.empty() ? Ref<Error>() : items_.front();
}

void raise_record(const ErrorRecord& record) {
  throw RaisedError(record.number, record.source, record.description);
}

}  // namespace ovik::access

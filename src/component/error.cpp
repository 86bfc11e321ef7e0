#include "ovik/error.h"

namespace ovik {

namespace err {
const char* runtime_description(std::int32_t number) noexcept {
  switch (number) {
    case kInvalidArgument: return "Invalid procedure call or argument";
    case kOverflow: return "Overflow";
    case kTypeMismatch: return "Type mismatch";
    case kFileNotFound: return "File not found";
    case kObjectNotSet: return "Object variable or With block variable not set";
    case kInvalidUseOfNull: return "Invalid use of Null";
    case kCannotCreateObject: return "ActiveX component can't create object";
    case kMemberNotSupported: return "Object doesn't support this property or method";
    case kWrongArgumentCount: return "Wrong number of arguments or invalid property assignment";
    default: return "";
  }
}
}  // namespace err

// The runtime names the project as the source of its own errors.
static constexpr const char* kRuntimeSource = "OvikEnvironment";

void raise_runtime_error(std::int32_t number) {
  throw RaisedError(number, kRuntimeSource, err::runtime_description(number));
}

void raise_runtime_error(std::int32_t number, std::string detail) {
  std::string text = err::runtime_description(number);
  if (!detail.empty()) text += text.empty() ? detail : ": " + detail;
  throw RaisedError(number, kRuntimeSource, std::move(text));
}

}  // namespace ovik

// The raised error: the one way a failing member hands its failure to its caller, early-bound
// (as this exception) and late-bound (the dispatch layer passes the same triple on).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "ovik/export.h"

namespace ovik {

class OVIK_API RaisedError : public std::runtime_error {
 public:
  RaisedError(std::int32_t number, std::string source, std::string description)
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)) {}

  std::int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  const std::string& description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
};

// Numbers of the platform runtime's own errors, with its own texts.
namespace err {
inline constexpr std::int32_t kInvalidArgument = 5;   // invalid procedure call or argument
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kObjectNotSet = 91;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
inline constexpr std::int32_t kCannotCreateObject = 429;
inline constexpr std::int32_t kMemberNotSupported = 438;
inline constexpr std::int32_t kWrongArgumentCount = 450;
inline constexpr std::int32_t kFileNotFound = 53;

// The text the runtime gives its own numbers ("" for any other number).
OVIK_API const char* runtime_description(std::int32_t number) noexcept;
}  // namespace err

// Raises one of the runtime's own errors, with its standard text and the library as source.
[[noreturn]] OVIK_API void raise_runtime_error(std::int32_t number);
[[noreturn]] OVIK_API void raise_runtime_error(std::int32_t number, std::string detail);

}  // namespace ovik

// Fuzzes the `ovik script` request parser and the JSON value conversion: any line must give a
// request or a raised error, never a crash. Requests are not executed (they could write files).
// scripts/fuzz.sh lets inputs grow to hundreds of kilobytes, enough to exhaust the stack where
// something recurses once per level of nesting.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ovik/error.h"
#include "script_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  try {
    ovik::host::Request request = ovik::host::parse_request(line);
    auto lookup = [](const std::string&) { return ovik::Ref<ovik::IDispatch>(); };
    auto convert = [&](const ovik::host::Json& value) {
      try {
        ovik::Variant v = ovik::host::variant_from_json(value, lookup);
        (void)ovik::host::json_from_variant(v).dump(-1, ' ', false, ovik::host::Json::error_handler_t::replace);
      } catch (const ovik::RaisedError&) {
      }
    };
    for (const auto& arg : request.args) convert(arg);
    if (request.value) convert(*request.value);
  } catch (const ovik::RaisedError&) {
  }
  return 0;
}

// Fuzzes the `ovik script` request parser and the JSON value conversion: any line must give a
// request or a raised error, never a crash. Requests are not executed (they could write files).
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
    for (const auto& arg : request.args) {
      try {
        ovik::Variant v = ovik::host::variant_from_json(arg, lookup);
        (void)ovik::host::json_from_variant(v).dump(-1, ' ', false, ovik::host::Json::error_handler_t::replace);
      } catch (const ovik::RaisedError&) {
      }
    }
  } catch (const ovik::RaisedError&) {
  }
  return 0;
}

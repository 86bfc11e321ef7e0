#include "database/access/odbc/server_drivers.h"

namespace ovik::access {

std::span<const std::string_view> sql_server_drivers() {
  static constexpr std::string_view kDrivers[] = {"FreeTDS"};
  return kDrivers;
}

std::string_view access_driver() { return "MDBTools"; }

}  // namespace ovik::access

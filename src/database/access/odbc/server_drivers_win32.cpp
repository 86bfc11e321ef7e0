#include "database/access/odbc/server_drivers.h"

namespace ovik::access {

// The current drivers first; "SQL Server" is the one every Windows installation carries.
std::span<const std::string_view> sql_server_drivers() {
  static constexpr std::string_view kDrivers[] = {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server",
                                                  "SQL Server Native Client", "SQL Server"};
  return kDrivers;
}

// "Microsoft Access Driver (*.mdb)" or "(*.mdb, *.accdb)", whichever is installed.
std::string_view access_driver() { return "Microsoft Access Driver"; }

}  // namespace ovik::access

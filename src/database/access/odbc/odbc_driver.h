// The driver for every server database, over unixODBC's wide-character calls (text crosses the
// driver manager as UTF-16, so any text survives whatever the process locale is).
//
// The Provider item decides the ODBC connection string (odbc_connection_string):
//   SQLOLEDB          Driver={FreeTDS}; Data Source "host", "host\instance" or "host,port" gives
//                     Server (and Port); Initial Catalog -> Database; User ID/Password -> UID/PWD;
//                     TDS_Version=7.4 unless the string gives one.
//   MSDASQL (or none) Data Source -> DSN; User ID/Password/Initial Catalog -> UID/PWD/DATABASE;
//                     a "Driver=" or "DSN=" item or "Extended Properties" (a whole ODBC string)
//                     is used as given.
//   OraOLEDB.Oracle, MSDAORA   the installed ODBC driver whose name begins with "Oracle";
//   Microsoft.Jet.OLEDB        the installed "MDBTools" driver; Data Source -> DBQ.
//   SQLite            where ODBC serves it (Windows): the installed driver whose name begins with
//                     "SQLite3"; Data Source -> Database.
// Items that are not OLE DB's own are passed on to the ODBC driver unchanged.
//
// OpenOptions::timeout_seconds is SQL_ATTR_LOGIN_TIMEOUT; ExecuteOptions::timeout_seconds is
// SQL_ATTR_QUERY_TIMEOUT. Diagnostics are every record of SQLGetDiagRecW, in order, with the
// trailing line break some drivers add removed.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "database/access/driver.h"
#include "ovik/export.h"

namespace ovik::access {

std::unique_ptr<Driver> make_odbc_driver();

// The ODBC connection string for connection, given the names of the installed ODBC drivers.
// Throws DriverError (IM002) when the provider's ODBC driver is not among them.
std::string odbc_connection_string(const ConnectionString& connection,
                                   std::span<const std::string> installed_drivers);

// A value as ODBC connection strings need it: in braces, "}" doubled, when it holds ";", "{",
// "}" or "=", or begins or ends with a blank.
std::string odbc_quote(std::string_view value);

struct DataSource {
  std::string name;    // the DSN, as MSDASQL's Data Source names it
  std::string driver;  // the description of its driver
};
// The data sources the driver manager shows this process (user and system DSNs), in its order;
// empty when there are none or the driver manager cannot list them.
OVIK_API std::vector<DataSource> odbc_data_sources();

}  // namespace ovik::access

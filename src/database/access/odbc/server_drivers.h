// The ODBC drivers that serve the server providers on this platform: FreeTDS and MDBTools on
// Linux, the system's own drivers on Windows. Chosen by the build (server_drivers_*.cpp).
#pragma once

#include <span>
#include <string_view>

namespace ovik::access {

// SQL Server drivers by driver-name prefix, most preferred first; the last one is the driver a
// "not installed" message names.
std::span<const std::string_view> sql_server_drivers();
// The Access driver's name prefix.
std::string_view access_driver();

}  // namespace ovik::access

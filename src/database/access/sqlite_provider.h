// The driver of the SQLite provider: the embedded engine on Linux (sqlite_provider_posix.cpp), the
// SQLite ODBC driver on Windows (sqlite_provider_win32.cpp), where the engine is not built in.
#pragma once

#include <memory>

#include "database/access/driver.h"

namespace ovik::access {

std::unique_ptr<Driver> make_sqlite_provider_driver();

// Whether the connection string asks for a missing database file to be created (the item
// kCreateIfMissing: True/Yes/1 or False/No/0/empty; anything else is refused with 08001).
bool create_if_missing(const ConnectionString& connection);

}  // namespace ovik::access

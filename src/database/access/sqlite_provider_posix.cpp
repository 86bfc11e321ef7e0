#include "database/access/sqlite/sqlite_driver.h"
#include "database/access/sqlite_provider.h"

namespace ovik::access {

std::unique_ptr<Driver> make_sqlite_provider_driver() { return make_sqlite_driver(); }

}  // namespace ovik::access

#include "database/access/sqlite_provider.h"

#include <string>

#include "database/access/sqlite/sqlite_driver.h"
#include "platform/ascii.h"

namespace ovik::access {

bool create_if_missing(const ConnectionString& connection) {
  const auto value = connection.find(kCreateIfMissing);
  if (!value) return false;
  for (const char* yes : {"true", "yes", "1"})
    if (platform::ascii_iequals(*value, yes)) return true;
  for (const char* no : {"false", "no", "0", ""})
    if (platform::ascii_iequals(*value, no)) return false;
  throw DriverError("08001", 0,
                    std::string(kCreateIfMissing) + " must be True or False, not \"" + *value + "\"");
}

}  // namespace ovik::access

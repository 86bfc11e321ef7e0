#include "database/access/driver.h"

#include "database/access/odbc/odbc_driver.h"
#include "database/access/sqlite_provider.h"

namespace ovik::access {
namespace {

std::string summary(const std::vector<Diagnostic>& diagnostics) {
  if (diagnostics.empty()) return "data-access failure without diagnostics";
  const auto& first = diagnostics.front();
  return "[" + first.sqlstate + "] " + first.message;
}

}  // namespace

DriverError::DriverError(std::vector<Diagnostic> diagnostics)
    : std::runtime_error(summary(diagnostics)), diagnostics_(std::move(diagnostics)) {}

DriverError::DriverError(std::string sqlstate, std::int32_t native, std::string message)
    : DriverError(std::vector<Diagnostic>{{std::move(sqlstate), native, std::move(message)}}) {}

std::unique_ptr<Driver> make_driver(const ConnectionString& connection) {
  const auto resolved = resolve_data_link(connection);
  const auto provider = resolved.get("Provider");
  switch (classify_provider(provider)) {
    case ProviderKind::kSqlite:
      return make_sqlite_provider_driver();
    case ProviderKind::kSqlServer:
    case ProviderKind::kOdbc:
    case ProviderKind::kOracle:
    case ProviderKind::kAccess:
      return make_odbc_driver();
    case ProviderKind::kUnknown:
      break;
  }
  throw DriverError("IM002", 0,
                    "Provider \"" + provider +
                        "\" is not known; use SQLite, SQLOLEDB, MSDASQL, OraOLEDB.Oracle, MSDAORA or "
                        "Microsoft.Jet.OLEDB.4.0");
}

std::unique_ptr<Driver> open_driver(const ConnectionString& connection, const OpenOptions& options,
                                    std::vector<Diagnostic>* info) {
  const auto resolved = resolve_data_link(connection);
  auto driver = make_driver(resolved);
  auto warnings = driver->open(resolved, options);
  if (info != nullptr) *info = std::move(warnings);
  return driver;
}

}  // namespace ovik::access

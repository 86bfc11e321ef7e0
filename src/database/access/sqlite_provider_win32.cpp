// The SQLite provider on Windows: SQLite files through the SQLite ODBC driver, found and named as
// the embedded driver finds them on Linux (relative paths from the application folder, a missing
// file an error unless Create If Missing asks for it).
#include <windows.h>

#include <string>

#include "database/access/odbc/odbc_driver.h"
#include "database/access/sqlite/sqlite_driver.h"
#include "database/access/sqlite_provider.h"
#include "platform/ascii.h"
#include "platform/file_system.h"
#include "platform/module_info.h"
#include "platform/win32/wide.h"

namespace ovik::access {

namespace {

constexpr std::string_view kMemory = ":memory:";

// "C:\...", "C:...", "\..." and "\\server\..." (either separator) are the caller's own.
bool names_its_place(std::string_view source) {
  return source.front() == '\\' || source.front() == '/' || (source.size() >= 2 && source[1] == ':');
}

std::string database_path(const std::string& source, std::string library_folder) {
  if (source == kMemory || names_its_place(source)) return source;
  if (library_folder.empty()) {
    throw DriverError(
        "08001", 0,
        "The application folder is unknown, so the relative Data Source \"" + source + "\" names no file");
  }
  if (library_folder.back() != '\\' && library_folder.back() != '/') library_folder += '\\';
  return library_folder + "..\\" + source;
}

// The file as the driver must be told it. Under Wine the ODBC drivers are the host's, which take
// host paths: Wine's own conversion says which.
std::string driver_path(const std::string& path) {
  if (path == kMemory) return path;
  using UnixName = char*(CDECL*)(const wchar_t*);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  // Through void*: a FARPROC's own type says nothing about the entry point's.
  const auto unix_name = kernel != nullptr ? reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                                                 ::GetProcAddress(kernel, "wine_get_unix_file_name")))
                                           : nullptr;
  if (unix_name == nullptr) return path;
  char* converted = unix_name(platform::win32::wide_path(path).c_str());
  if (converted == nullptr) return path;
  std::string host(converted);
  ::HeapFree(::GetProcessHeap(), 0, converted);
  return host;
}

std::string file_stem(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

class SqliteOverOdbc final : public Driver {
 public:
  std::vector<Diagnostic> open(const ConnectionString& connection, const OpenOptions& options) override {
    if (is_open()) throw DriverError("08002", 0, "The connection is already open");
    const std::string source = connection.get("Data Source");
    if (source.empty()) throw DriverError("08001", 0, "Data Source names no SQLite database file");
    const bool create = create_if_missing(connection);
    const std::string path =
        database_path(source, platform::Facility<platform::ModulePath>::get().module().folder);
    // Checked here as well as by NoCreat, so the message is the one Linux gives.
    if (!create && path != kMemory && !platform::Facility<platform::FileSystem>::get().exists(path)) {
      throw DriverError("08001", 0,
                        "The SQLite database file \"" + path + "\" does not exist (add " + kCreateIfMissing +
                            "=True to the connection string to create it)");
    }
    ConnectionString odbc = connection;
    odbc.erase(kCreateIfMissing);
    odbc.set("Data Source", driver_path(path));
    if (!create) odbc.set("NoCreat", "1");
    std::vector<Diagnostic> info = odbc_->open(odbc, options);
    name_ = path == kMemory ? std::string(kMemory) : file_stem(path);
    return info;
  }
  void close() noexcept override { odbc_->close(); }
  bool is_open() const override { return odbc_->is_open(); }
  ExecuteResult execute(std::string_view sql, std::span<const Value> parameters,
                        const ExecuteOptions& options) override {
    return odbc_->execute(sql, parameters, options);
  }
  std::vector<Diagnostic> begin() override { return odbc_->begin(); }
  std::vector<Diagnostic> commit() override { return odbc_->commit(); }
  std::vector<Diagnostic> rollback() override { return odbc_->rollback(); }
  bool in_transaction() const override { return odbc_->in_transaction(); }
  std::string database_name() const override { return is_open() ? name_ : std::string(); }
  std::string dbms_name() const override { return odbc_->dbms_name(); }

 private:
  std::unique_ptr<Driver> odbc_ = make_odbc_driver();
  std::string name_;
};

}  // namespace

std::unique_ptr<Driver> make_sqlite_provider_driver() { return std::make_unique<SqliteOverOdbc>(); }

}  // namespace ovik::access

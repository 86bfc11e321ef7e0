// The embedded driver over libsqlite3 (Provider=SQLite; Data Source = the database file or
// ":memory:"). A relative path is taken from the application folder, the parent of the settings
// folder (the library's folder + "/.."), never from the working folder. A missing file fails the
// open (08001) unless the connection string says "Create If Missing=True" (also Yes or 1); the
// file's folder is never created.
//
// The database is opened with WAL journaling and synchronous=NORMAL: a crashing program loses
// nothing that was committed, readers never wait for the writer, and an autocommit statement
// costs no full sync. Lock waits: OpenOptions::timeout_seconds, or 5 s when it is 0; a
// statement with a command time-out waits for locks up to that time-out instead, and is
// interrupted when it runs longer (HY008). begin() takes the write lock at once (BEGIN
// IMMEDIATE), so two writers queue on the busy time-out instead of failing at their first write.
//
// A user who may only read the file opens it in the journal mode it has. Reading a WAL database
// takes its -shm file; where there is none and the folder does not let this user make one, the
// file is read as it lies when no -wal file is there either (no program has it open), and such a
// connection refuses further statements (HY000) once a writer has opened or changed the file.
//
// Values: the declared column type decides what a stored value is read as (see
// sqlite_declared_type): DATE/TIME/TIMESTAMP text becomes Date/Time/Timestamp (ISO "2024-01-05"
// or "2024/01/05", time optional), NUMERIC/DECIMAL/MONEY values become Decimal, BOOLEAN integers
// bool, and text columns text; a value that does not fit its column's type is returned as stored.
// Date and time parameters are bound as ISO text ("2024-01-05 09:03:00").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "database/access/driver.h"
#include "ovik/export.h"

namespace ovik::access {

std::unique_ptr<Driver> make_sqlite_driver();

// The connection string item that lets the driver create a missing database file.
inline constexpr const char* kCreateIfMissing = "Create If Missing";

// The file a Data Source names for a library lying in library_folder: an absolute path or
// ":memory:" as given, a relative one below library_folder + "/..". Throws DriverError (08001)
// for a relative one when the folder is unknown (empty).
OVIK_API std::string sqlite_database_path(const std::string& source, std::string library_folder);

// The SQLSTATE closest to an SQLite extended result code; the message tells the kinds of the
// generic SQLITE_ERROR apart (syntax, missing table, missing column, ...).
std::string sqlite_sqlstate(int extended_code, std::string_view message);

struct DeclaredType {
  TypeCode type = TypeCode::kVarWChar;
  std::int64_t defined_size = 0;
  int precision = 0;
  int scale = 0;
};

// The type code for a declared column type ("NVARCHAR(20)", "NUMERIC(10, 2)", "unsigned big
// int"): known names first, then SQLite's affinity rules. An empty declaration gives nullopt-like
// kEmpty: the caller then takes the type of the first value.
DeclaredType sqlite_declared_type(std::string_view declared);

}  // namespace ovik::access

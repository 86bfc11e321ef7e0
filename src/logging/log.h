// clsLog: one application log writer. Entries go to the table wkLog while a working connection
// to the log database exists, otherwise as one tab-separated line to the day's file of the user
// in the log folder beside the library. Internal: not in the type library, not creatable by
// clients; the environment object makes one per log entry. No member reports a failure.
#pragma once

#include <cstdint>
#include <string>

#include "database/access/secrets.h"
#include "ovik/data_access.h"
#include "ovik/object.h"

namespace ovik {

class _clsLog : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("B7FA73A4-4B37-4F6E-8CD3-E38188C60CE9");
  static constexpr std::string_view kTypeName = "clsLog";
  virtual std::string get_AppName() = 0;
  virtual void put_AppName(std::string value) = 0;
  virtual void put_ServerConnectionString(std::string value) = 0;
  virtual void PutLog(std::string& strTitle, std::string& strComment) = 0;
  virtual void DelLog(std::int16_t intKeepDays) = 0;
};

class clsLog final : public Object<clsLog, _clsLog> {
 public:
  static const TypeInfo& type_info();

  clsLog();
  ~clsLog() override;

  std::string get_AppName() override { return m_AppName; }
  void put_AppName(std::string value) override { m_AppName = std::move(value); }
  void put_ServerConnectionString(std::string value) override;
  void PutLog(std::string& strTitle, std::string& strComment) override;
  void DelLog(std::int16_t intKeepDays) override;

  bool is_connected() const { return m_IsConnected; }
  const std::string& log_folder() const { return m_LogFolder; }

 private:
  // The SQL the log database understands: SQL Server's own text, with SQLite's equivalents for
  // the embedded default.
  enum class Dialect { SqlServer, Sqlite };
  Dialect dialect() const;
  // Every value that goes into SQL text has its apostrophes doubled, names included.
  static std::string doubled_apostrophes(const std::string& value);
  void put_entry(const std::string& strTitle, const std::string& strComment);
  void WriteLogFile(const std::string& folder, const std::string& file_name, const std::string& title,
                    const std::string& text);
  void delete_rows(const std::string& cutoff_yyyymmdd);
  void delete_files(std::int16_t keep_days);

  Ref<_Connection> m_cnLog;
  std::string m_LogonUserName;
  std::int32_t m_ProcessID = 0;
  std::string m_AppName;
  bool m_IsConnected = false;
  std::string m_LogFolder;
  std::string module_base_name_;  // the default application name, stripped from file names by the purge
  access::Secrets secrets_;       // of the log connection's string, hidden in every entry
};

}  // namespace ovik

// clsLog: one application log writer. Entries go to the table wkLog while a working connection
// to the log database exists, otherwise as one tab-separated line to the day's file of the user
// in the log folder beside the library. Internal: not in the type library, not creatable by
// clients; the environment object makes one per log entry. No member reports a failure.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "logging/log_statements.h"
#include "ovik/data_access.h"
#include "ovik/object.h"
#include "platform/file_system.h"

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

  // How long one entry may wait for the log database in all. The connect, the purges before the
  // entry and its insert draw on this one budget, so a write lock held elsewhere delays the
  // caller (often a user interface) by this much at most before the entry goes to the file, where
  // nothing is lost. Only waits are bounded by it: a purge of a large backlog runs to its end (to
  // the command time-out), else it would be cut at every entry and the rows never go. It matches
  // the data-access layer's own default lock wait: the short write transactions of the store
  // programs end well within it; a longer holder is a batch run that an entry should not wait for.
  static constexpr std::chrono::seconds kDatabaseWaitBudget{5};

 private:
  // Whole seconds the current entry may still wait for the database; 0 when its budget is spent.
  int seconds_left() const;
  // Adds the time of one database step to what the current entry has waited.
  class Charge {
   public:
    explicit Charge(clsLog& log) : waited_(log.waited_), start_(std::chrono::steady_clock::now()) {}
    ~Charge() { waited_ += std::chrono::steady_clock::now() - start_; }
    Charge(const Charge&) = delete;
    Charge& operator=(const Charge&) = delete;

   private:
    std::chrono::steady_clock::duration& waited_;
    std::chrono::steady_clock::time_point start_;
  };
  void put_entry(const std::string& strTitle, const std::string& strComment);
  // Lets the next statement wait this long for a lock held elsewhere; a statement that runs runs to
  // the connection's command time-out.
  void bound_lock_wait(int seconds);
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
  LogDialect dialect_ = LogDialect::kSqlServer;  // of the server m_cnLog reached
  std::chrono::steady_clock::duration waited_{};  // spent of the budget by the current entry
};

}  // namespace ovik

// The Connection object: one driver link, its Errors collection and its events.
//
// Ownership: the connection owns its driver; recordsets hold a counted reference to their
// connection (never the reverse), so a connection lives while a recordset that reads through it
// does. Closing the connection closes the driver, which ends the cursors of streaming recordsets
// (their next move fails); rows already held in memory stay readable.
//
// Failures: each member that can fail clears Errors first. A failure the provider reports fills
// Errors (one Error per diagnostic, see errors.h for the numbers), fires the member's completion
// event with the first Error, then raises that Error. Errors holds only what the provider said:
// the objects' own refusals (3704 on a closed connection, 3001 for a bad argument, ...) are raised
// alone, with no event, and a caller reading Errors after them finds it empty.
// Warnings of a successful call fill Errors and fire InfoMessage with the first of them.
// The destructor closes the link without firing Disconnect: listeners must not see an object
// that is already ending.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "database/access/driver.h"
#include "database/access/objects/errors.h"
#include "database/access/secrets.h"
#include "ovik/data_access.h"
#include "ovik/events.h"
#include "ovik/export.h"
#include "ovik/object.h"

namespace ovik::access {

class OVIK_API Connection final : public Object<Connection, _Connection, IConnectionPointContainer> {
 public:
  static const TypeInfo& type_info();
  Connection();
  ~Connection() override;

  std::string get_ConnectionString() override { return connection_string_; }
  void put_ConnectionString(std::string value) override;
  std::int32_t get_ConnectionTimeout() override { return connection_timeout_; }
  void put_ConnectionTimeout(std::int32_t seconds) override;
  std::int32_t get_CommandTimeout() override { return command_timeout_; }
  void put_CommandTimeout(std::int32_t seconds) override;
  std::int32_t get_State() override { return is_open() ? ado::adStateOpen : ado::adStateClosed; }
  std::string get_Provider() override;
  std::string get_DefaultDatabase() override;
  Ref<Errors> get_Errors() override { return Ref<Errors>(errors_); }
  void Open(std::string ConnectionString, std::string UserID, std::string Password,
            std::int32_t Options) override;
  void Close() override;
  Ref<_Recordset> Execute(std::string CommandText, Variant& RecordsAffected, std::int32_t Options) override;
  std::int32_t BeginTrans() override;
  void CommitTrans() override;
  void RollbackTrans() override;

  std::uint32_t Advise(const Guid& iid, IUnknown* listener) override;
  void Unadvise(std::uint32_t cookie) override { events_.unadvise(cookie); }

  // ---- for recordsets working through this connection ----
  bool is_open() const { return driver_ != nullptr && driver_->is_open(); }
  // The database product reached (see Driver::dbms_name), asked once when the connection opens;
  // empty while closed.
  const std::string& dbms_name() const { return is_open() ? dbms_name_ : kNoProduct; }
  void clear_errors() { errors_->Clear(); }
  // The open driver; raises 3709 with Errors filled when the connection is closed.
  Driver& usable_driver();
  std::int32_t command_timeout() const { return command_timeout_; }
  // Seconds each statement of Execute may wait for a lock held by another session, apart from
  // CommandTimeout (see ExecuteOptions::lock_timeout_seconds); 0 = as the driver waits by default.
  void set_lock_timeout(std::int32_t seconds) { lock_timeout_ = std::max<std::int32_t>(seconds, 0); }
  void will_execute(const std::string& source, std::int32_t cursor_type, std::int32_t lock_type,
                    std::int32_t options, const Ref<_Recordset>& recordset);
  void execute_complete(std::int64_t affected, const Ref<_Recordset>& recordset);
  // Fills Errors from the failure, fires ExecuteComplete with it and raises.
  [[noreturn]] void fail_execute(const DriverError& error, const Ref<_Recordset>& recordset);
  // Fills Errors from the failure and raises, without an event (writes of a recordset).
  [[noreturn]] void fail(const DriverError& error);
  // The objects' own refusal: raised, Errors untouched.
  [[noreturn]] void fail(std::int32_t number, const std::string& description);
  // What a provider would report although this layer found it (an update that finds no row):
  // into Errors, then raised.
  [[noreturn]] void fail_as_provider(std::int32_t number, const std::string& description);
  void report_info(const std::vector<Diagnostic>& info);

 private:
  std::string error_source() const;
  Ref<Error> fill_errors(const DriverError& error, std::vector<ErrorRecord>& records);
  // The Error records of what connecting reported, with the passwords of `connection_string_`
  // and `password` hidden.
  std::vector<ErrorRecord> connect_records(const std::vector<Diagnostic>& diagnostics,
                                           const std::string& password) const;
  void report_info(const std::vector<ErrorRecord>& info);

  std::string connection_string_;
  std::int32_t connection_timeout_ = 15;
  std::int32_t command_timeout_ = 30;
  std::int32_t lock_timeout_ = 0;
  std::string dbms_name_;
  static inline const std::string kNoProduct;
  std::string provider_;  // as resolved by the last Open; empty before
  std::unique_ptr<Driver> driver_;
  Ref<ErrorsImpl> errors_;
  ConnectionPoint<ConnectionEvents> events_;
};

}  // namespace ovik::access

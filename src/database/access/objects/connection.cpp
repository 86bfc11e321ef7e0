#include "database/access/objects/connection.h"

#include <algorithm>
#include <limits>

#include "database/access/connection_string.h"
#include "database/access/objects/recordset.h"
#include "ovik/describe.h"
#include "ovik/error.h"

namespace ovik {

Ref<_Connection> new_connection() { return Ref<_Connection>(make_object<access::Connection>()); }

}  // namespace ovik

namespace ovik::access {
namespace {

using namespace ovik::ado;

constexpr const char* kOpenText = "Operation is not allowed when the object is open.";

std::int32_t clamp32(std::int64_t n) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(n, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

const TypeInfo& Connection::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_Connection>("Connection", _Connection::IID, Instancing::Internal, 0);
    t.library = "ADODB";
    t.events = event_interface_info<ConnectionEvents>("Connection");
    t.events->name = "ConnectionEvents";
    Describe<_Connection>(t)
        .get("ConnectionString", &_Connection::get_ConnectionString)
        .as_default()
        .put("ConnectionString", &_Connection::put_ConnectionString, {"RHS"})
        .get("ConnectionTimeout", &_Connection::get_ConnectionTimeout)
        .put("ConnectionTimeout", &_Connection::put_ConnectionTimeout, {"RHS"})
        .get("CommandTimeout", &_Connection::get_CommandTimeout)
        .put("CommandTimeout", &_Connection::put_CommandTimeout, {"RHS"})
        .get("State", &_Connection::get_State)
        .get("Provider", &_Connection::get_Provider)
        .get("DefaultDatabase", &_Connection::get_DefaultDatabase)
        .get("Errors", &_Connection::get_Errors)
        .method("Open", &_Connection::Open,
                {opt("ConnectionString", ""), opt("UserID", ""), opt("Password", ""), opt("Options", -1)})
        .method("Close", &_Connection::Close)
        .method("Execute", &_Connection::Execute,
                {"CommandText", opt("RecordsAffected", Variant()), opt("Options", -1)})
        .method("BeginTrans", &_Connection::BeginTrans)
        .method("CommitTrans", &_Connection::CommitTrans)
        .method("RollbackTrans", &_Connection::RollbackTrans)
        .event("InfoMessage", &ConnectionEvents::InfoMessage, {"pError", "adStatus", "pConnection"},
               kDispInfoMessage)
        .event("BeginTransComplete", &ConnectionEvents::BeginTransComplete,
               {"TransactionLevel", "pError", "adStatus", "pConnection"}, kDispBeginTransComplete)
        .event("CommitTransComplete", &ConnectionEvents::CommitTransComplete,
               {"pError", "adStatus", "pConnection"}, kDispCommitTransComplete)
        .event("RollbackTransComplete", &ConnectionEvents::RollbackTransComplete,
               {"pError", "adStatus", "pConnection"}, kDispRollbackTransComplete)
        .event("WillExecute", &ConnectionEvents::WillExecute,
               {"Source", "CursorType", "LockType", "Options", "adStatus", "pRecordset", "pConnection"},
               kDispWillExecute)
        .event("ExecuteComplete", &ConnectionEvents::ExecuteComplete,
               {"RecordsAffected", "pError", "adStatus", "pRecordset", "pConnection"}, kDispExecuteComplete)
        .event("WillConnect", &ConnectionEvents::WillConnect,
               {"ConnectionString", "UserID", "Password", "Options", "adStatus", "pConnection"},
               kDispWillConnect)
        .event("ConnectComplete", &ConnectionEvents::ConnectComplete, {"pError", "adStatus", "pConnection"},
               kDispConnectComplete)
        .event("Disconnect", &ConnectionEvents::Disconnect, {"adStatus", "pConnection"}, kDispDisconnect);
    return t;
  }();
  return info;
}

Connection::Connection() : errors_(make_object<ErrorsImpl>()) {}

Connection::~Connection() {
  if (driver_) driver_->close();
}

void Connection::put_ConnectionString(std::string value) {
  if (is_open()) fail(kObjectOpen, kOpenText);
  connection_string_ = std::move(value);
  provider_.clear();
}

void Connection::put_ConnectionTimeout(std::int32_t seconds) {
  if (is_open()) fail(kObjectOpen, kOpenText);
  if (seconds < 0) fail(kBadArguments, "ConnectionTimeout must not be negative.");
  connection_timeout_ = seconds;
}

void Connection::put_CommandTimeout(std::int32_t seconds) {
  if (seconds < 0) fail(kBadArguments, "CommandTimeout must not be negative.");
  command_timeout_ = seconds;
}

std::string Connection::get_Provider() {
  if (!provider_.empty()) return provider_;
  try {
    // Before Open the string may be unfinished or its data-link file missing: the item as
    // written is the best answer then.
    auto provider = ConnectionString::parse(connection_string_).find("Provider");
    if (provider && !provider->empty()) return *provider;
  } catch (const DriverError&) {
  }
  return "MSDASQL";
}

std::string Connection::get_DefaultDatabase() { return is_open() ? driver_->database_name() : std::string(); }

std::string Connection::error_source() const {
  return std::string(kSource) + "." + (provider_.empty() ? std::string("MSDASQL") : provider_);
}

std::vector<ErrorRecord> Connection::connect_records(const std::vector<Diagnostic>& diagnostics,
                                                     const std::string& password) const {
  std::vector<ErrorRecord> records = records_of(diagnostics, error_source());
  // A driver that cannot connect repeats what it was given (a host or file name that the password
  // may have filled). A statement's errors are the statement's own and stay as the driver gave them.
  Secrets secrets = secrets_of(connection_string_);
  secrets.add(password);
  for (ErrorRecord& record : records) record.description = secrets.redact(record.description);
  return records;
}

Ref<Error> Connection::fill_errors(const DriverError& error, std::vector<ErrorRecord>& records) {
  records = records_of(error.diagnostics(), error_source());
  return errors_->fill(records);
}

void Connection::fail(const DriverError& error) {
  std::vector<ErrorRecord> records;
  fill_errors(error, records);
  raise_record(records.front());
}

void Connection::fail(std::int32_t number, const std::string& description) {
  raise_record(ErrorRecord{number, description, "", 0, kSource});
}

void Connection::fail_as_provider(std::int32_t number, const std::string& description) {
  const ErrorRecord record{number, description, "", 0, kSource};
  errors_->fill({record});
  raise_record(record);
}

void Connection::fail_execute(const DriverError& error, const Ref<_Recordset>& recordset) {
  std::vector<ErrorRecord> records;
  Ref<Error> first = fill_errors(error, records);
  events_.fire(&ConnectionEvents::ExecuteComplete, kDispExecuteComplete, std::int32_t{-1}, first,
               adStatusErrorsOccurred, recordset, self());
  raise_record(records.front());
}

void Connection::report_info(const std::vector<Diagnostic>& info) {
  if (!info.empty()) report_info(records_of(info, error_source()));
}

void Connection::report_info(const std::vector<ErrorRecord>& info) {
  Ref<Error> first = errors_->fill(info);
  events_.fire(&ConnectionEvents::InfoMessage, kDispInfoMessage, first, adStatusOK, self());
}

Driver& Connection::usable_driver() {
  if (!is_open())
    fail(kConnectionUnusable, kConnectionUnusableText);
  return *driver_;
}

void Connection::will_execute(const std::string& source, std::int32_t cursor_type, std::int32_t lock_type,
                              std::int32_t options, const Ref<_Recordset>& recordset) {
  events_.fire(&ConnectionEvents::WillExecute, kDispWillExecute, source, cursor_type, lock_type, options,
               adStatusOK, recordset, self());
}

void Connection::execute_complete(std::int64_t affected, const Ref<_Recordset>& recordset) {
  events_.fire(&ConnectionEvents::ExecuteComplete, kDispExecuteComplete, clamp32(affected), Ref<Error>(),
               adStatusOK, recordset, self());
}

std::uint32_t Connection::Advise(const Guid& iid, IUnknown* listener) {
  if (iid != ConnectionEvents::IID) raise_runtime_error(err::kInvalidArgument);
  return events_.advise(listener);
}

void Connection::Open(std::string ConnectionString, std::string UserID, std::string Password,
                      std::int32_t Options) {
  errors_->Clear();
  if (is_open()) fail(kObjectOpen, kOpenText);
  if (!ConnectionString.empty()) {
    connection_string_ = std::move(ConnectionString);
    provider_.clear();
  }
  events_.fire(&ConnectionEvents::WillConnect, kDispWillConnect, connection_string_, UserID, Password,
               Options, adStatusOK, self());
  std::vector<Diagnostic> info;
  try {
    auto parsed = ConnectionString::parse(connection_string_);
    if (!UserID.empty()) parsed.set("User ID", UserID);
    if (!Password.empty()) parsed.set("Password", Password);
    const auto resolved = resolve_data_link(parsed);
    provider_ = resolved.get("Provider");
    auto driver = make_driver(resolved);
    info = driver->open(resolved, OpenOptions{connection_timeout_});
    dbms_name_ = driver->dbms_name();
    driver_ = std::move(driver);
  } catch (const DriverError& e) {
    const std::vector<ErrorRecord> records = connect_records(e.diagnostics(), Password);
    Ref<Error> first = errors_->fill(records);
    events_.fire(&ConnectionEvents::ConnectComplete, kDispConnectComplete, first, adStatusErrorsOccurred,
                 self());
    raise_record(records.front());
  }
  if (!info.empty()) report_info(connect_records(info, Password));
  events_.fire(&ConnectionEvents::ConnectComplete, kDispConnectComplete, Ref<Error>(), adStatusOK, self());
}

void Connection::Close() {
  errors_->Clear();
  if (!is_open()) fail(kObjectClosed, kClosedText);
  driver_->close();
  driver_.reset();
  events_.fire(&ConnectionEvents::Disconnect, kDispDisconnect, adStatusOK, self());
}

Ref<_Recordset> Connection::Execute(std::string CommandText, Variant& RecordsAffected, std::int32_t Options) {
  errors_->Clear();
  if (!is_open()) fail(kObjectClosed, kClosedText);
  will_execute(CommandText, adOpenForwardOnly, adLockReadOnly, Options, Ref<_Recordset>());
  // A listener may have closed the connection.
  if (!is_open()) fail(kObjectClosed, kClosedText);
  Ref<Recordset> recordset = make_object<Recordset>();
  ExecuteResult result;
  try {
    result = driver_->execute(CommandText, {}, ExecuteOptions{command_timeout_, false, lock_timeout_});
    if (result.cursor) recordset->open_stream(Ref<Connection>(this), CommandText, std::move(result.cursor));
  } catch (const DriverError& e) {
    fail_execute(e, Ref<_Recordset>());
  }
  RecordsAffected = Variant(clamp32(result.rows_affected));
  report_info(result.info);
  execute_complete(result.rows_affected, Ref<_Recordset>(recordset));
  return Ref<_Recordset>(recordset);
}

std::int32_t Connection::BeginTrans() {
  errors_->Clear();
  if (!is_open()) fail(kObjectClosed, kClosedText);
  std::vector<Diagnostic> info;
  try {
    info = driver_->begin();
  } catch (const DriverError& e) {
    std::vector<ErrorRecord> records;
    Ref<Error> first = fill_errors(e, records);
    events_.fire(&ConnectionEvents::BeginTransComplete, kDispBeginTransComplete, std::int32_t{0}, first,
                 adStatusErrorsOccurred, self());
    raise_record(records.front());
  }
  report_info(info);
  events_.fire(&ConnectionEvents::BeginTransComplete, kDispBeginTransComplete, std::int32_t{1}, Ref<Error>(),
               adStatusOK, self());
  return 1;
}

void Connection::CommitTrans() {
  errors_->Clear();
  if (!is_open()) fail(kObjectClosed, kClosedText);
  std::vector<Diagnostic> info;
  try {
    info = driver_->commit();
  } catch (const DriverError& e) {
    std::vector<ErrorRecord> records;
    Ref<Error> first = fill_errors(e, records);
    events_.fire(&ConnectionEvents::CommitTransComplete, kDispCommitTransComplete, first,
                 adStatusErrorsOccurred, self());
    raise_record(records.front());
  }
  report_info(info);
  events_.fire(&ConnectionEvents::CommitTransComplete, kDispCommitTransComplete, Ref<Error>(), adStatusOK,
               self());
}

void Connection::RollbackTrans() {
  errors_->Clear();
  if (!is_open()) fail(kObjectClosed, kClosedText);
  std::vector<Diagnostic> info;
  try {
    info = driver_->rollback();
  } catch (const DriverError& e) {
    std::vector<ErrorRecord> records;
    Ref<Error> first = fill_errors(e, records);
    events_.fire(&ConnectionEvents::RollbackTransComplete, kDispRollbackTransComplete, first,
                 adStatusErrorsOccurred, self());
    raise_record(records.front());
  }
  report_info(info);
  events_.fire(&ConnectionEvents::RollbackTransComplete, kDispRollbackTransComplete, Ref<Error>(), adStatusOK,
               self());
}

}  // namespace ovik::access

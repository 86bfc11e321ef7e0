// clsDatabase: connecting, disconnecting, the kind of database, the failure report (ErrProc) and
// the connection's events.
#include "database/database.h"

#include <array>
#include <new>
#include <utility>

#include "database/access/secrets.h"
#include "database/transaction_log.h"
#include "ovik/component.h"
#include "ovik/describe.h"
#include "ovik/error.h"
#include "platform/locale_rules.h"
#include "platform/ascii.h"

namespace ovik {

namespace {

constexpr std::int32_t kDataAccessFailure = 60000;
constexpr char kErrProcSource[] = "clsAdoLib.ErrProc";
constexpr std::int32_t kOutOfMemory = 7;

class RealConnectionSource final : public ConnectionSource {
 public:
  Ref<_Connection> create() override { return new_connection(); }
};

struct ProviderRule {
  std::string_view substring;
  ConnectedDatabaseTypeEnum type;
};
constexpr std::array<ProviderRule, 4> kProviderRules{{
    {"microsoft.jet.oledb", ConnectedDatabaseTypeEnum::IsAccess},
    {"oraoledb.oracle", ConnectedDatabaseTypeEnum::IsOracle},
    {"msdaora", ConnectedDatabaseTypeEnum::IsOracle},
    {"sqloledb", ConnectedDatabaseTypeEnum::IsSqlServer},
}};

// Each step of an event handler that fails is skipped and the next one runs: nothing may travel
// back into the connection's own call through its event.
template <class F>
void step(F&& f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

// SQL states are numeric only when they are all digits here in practice; the runtime's number
// test is used so that blanks and signs behave as the platform's would.
bool state_as_number(const std::string& state, std::int32_t& out) {
  double ignored = 0;
  if (platform::parse_double(state, ignored) != platform::ConvStatus::Ok) return false;
  return platform::parse_int32(state, out) == platform::ConvStatus::Ok;
}

const EnumInfo& how_to_connect_enum() {
  static const EnumInfo info{"HowToConnectEnum",
                             Guid::of("42F23ACE-0A62-4F70-A0AB-9E9FF5AB897C"),
                             1,
                             {{"ConnectByUdlFile", 0}, {"ConnectByConnectionString", 1}}};
  return info;
}
const EnumInfo& connected_database_type_enum() {
  static const EnumInfo info{"ConnectedDatabaseTypeEnum",
                             Guid::of("1B4EF58D-035B-4819-96BD-2C50C228F44C"),
                             2,
                             {{"IsOracle", 0}, {"IsAccess", 1}, {"IsSqlServer", 2}, {"IsUnknown", 3}}};
  return info;
}
const EnumInfo& sql_string_parmit_null_enum() {
  static const EnumInfo info{"SqlStringParmitNullEnum",
                             Guid::of("47265370-97E6-453D-A716-37498D788469"),
                             3,
                             {{"FieldIsNullable", 0}, {"FieldIsNotNullable", 1}}};
  return info;
}

const ClassRegistration kRegistration(&clsDatabase::type_info);
const EnumRegistration kHowToConnect(&how_to_connect_enum);
const EnumRegistration kConnectedDatabaseType(&connected_database_type_enum);
const EnumRegistration kSqlStringParmitNull(&sql_string_parmit_null_enum);

}  // namespace

PendingFailure current_failure() {
  try {
    throw;
  } catch (const RaisedError& e) {
    return {e.number(), e.description()};
  } catch (const std::bad_alloc&) {
    return {kOutOfMemory, "Out of memory"};
  } catch (const std::exception& e) {
    return {err::kInvalidArgument, e.what()};
  } catch (...) {
    return {err::kInvalidArgument, err::runtime_description(err::kInvalidArgument)};
  }
}

FieldClass classify_field_type(std::int32_t type) noexcept {
  switch (type) {
    case ado::adDate:
    case ado::adDBDate:
    case ado::adDBTime:
    case ado::adDBTimeStamp:
      return FieldClass::Date;
    case ado::adBSTR:
    case ado::adVariant:
    case ado::adChar:
    case ado::adWChar:
    case ado::adVarChar:
    case ado::adLongVarChar:
    case ado::adVarWChar:
    case ado::adLongVarWChar:
      return FieldClass::String;
    default:
      return FieldClass::Other;
  }
}

ConnectedDatabaseTypeEnum database_type_of_provider(std::string_view provider) {
  const std::string name = platform::ascii_lower(provider);
  for (const ProviderRule& rule : kProviderRules)
    if (name.find(rule.substring) != std::string::npos) return rule.type;
  return ConnectedDatabaseTypeEnum::IsUnknown;
}

// The listener on m_cnAdo. It holds no reference to its clsDatabase, only a pointer that the
// clsDatabase clears before it goes, so events of a connection outliving it fall on the floor.
class clsDatabase::ConnectionSink final : public Listener<ConnectionSink, ConnectionEvents> {
 public:
  explicit ConnectionSink(clsDatabase* owner) : owner_(owner) {}
  ~ConnectionSink() override = default;
  void detach() noexcept { owner_ = nullptr; }

  void InfoMessage(const Ref<Error>& pError, std::int32_t, const Ref<_Connection>&) override {
    if (owner_) owner_->OnInfoMessage(pError);
  }
  void BeginTransComplete(std::int32_t, const Ref<Error>& pError, std::int32_t,
                          const Ref<_Connection>&) override {
    if (owner_) owner_->OnBeginTransComplete(pError);
  }
  void CommitTransComplete(const Ref<Error>& pError, std::int32_t, const Ref<_Connection>&) override {
    if (owner_) owner_->OnCommitTransComplete(pError);
  }
  void RollbackTransComplete(const Ref<Error>& pError, std::int32_t, const Ref<_Connection>&) override {
    if (owner_) owner_->OnRollbackTransComplete(pError);
  }
  void WillExecute(const std::string& Source, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   const Ref<_Recordset>&, const Ref<_Connection>&) override {
    if (owner_) owner_->OnWillExecute(Source);
  }
  void ExecuteComplete(std::int32_t, const Ref<Error>& pError, std::int32_t, const Ref<_Recordset>&,
                       const Ref<_Connection>&) override {
    if (owner_) owner_->OnExecuteComplete(pError);
  }
  void WillConnect(const std::string& ConnectionString, const std::string&, const std::string& Password,
                   std::int32_t, std::int32_t, const Ref<_Connection>&) override {
    if (owner_) owner_->OnWillConnect(ConnectionString, Password);
  }
  void ConnectComplete(const Ref<Error>& pError, std::int32_t, const Ref<_Connection>&) override {
    if (owner_) owner_->OnConnectComplete(pError);
  }
  void Disconnect(std::int32_t, const Ref<_Connection>&) override {
    if (owner_) owner_->OnDisconnect();
  }

 private:
  clsDatabase* owner_;
};

struct clsDatabase::Secrets : access::Secrets {
  std::string source;  // the connection string they were last taken from
};

clsDatabase::clsDatabase() : secrets_(std::make_unique<Secrets>()), sink_(new ConnectionSink(this)) {}

clsDatabase::~clsDatabase() {
  if (usable_) step([&] { Disconnect(); });
  step([&] { ReplaceConnection(nullptr); });
  sink_->detach();
}

void clsDatabase::ReplaceConnection(Ref<_Connection> connection) {
  if (advised_) {
    Ref<IConnectionPointContainer> container = std::exchange(advised_, nullptr);
    step([&] { container->Unadvise(advise_cookie_); });
  }
  m_cnAdo = std::move(connection);
  if (!m_cnAdo) return;
  Ref<IConnectionPointContainer> container = query<IConnectionPointContainer>(m_cnAdo.get());
  if (!container) return;  // a connection without events: nothing to listen to
  advise_cookie_ = container->Advise(ConnectionEvents::IID, sink_.get());
  advised_ = std::move(container);
}

ConnectedDatabaseTypeEnum clsDatabase::get_Provider() {
  if (!m_cnAdo) raise_runtime_error(err::kObjectNotSet);
  // The name is read at every call, as the connection may report a different one at any time; once
  // per call is enough (DayConv asks for every date value RecordToDatabase writes).
  const std::string provider = platform::ascii_lower(m_cnAdo->get_Provider());
  for (const ProviderRule& rule : kProviderRules)
    if (provider.find(rule.substring) != std::string::npos) return rule.type;
  return ConnectedDatabaseTypeEnum::IsUnknown;
}

bool clsDatabase::Connect(std::string strConnectString, HowToConnectEnum emHow) {
  error_cd_ = 0;
  error_msg_.clear();
  if (usable_) return true;
  try {
    Ref<_Connection> connection = platform::Facility<ConnectionSource>::get().create();
    if (!connection) raise_runtime_error(err::kCannotCreateObject);
    ReplaceConnection(std::move(connection));
    m_cnAdo->put_ConnectionTimeout(connection_timeout_);
    m_cnAdo->put_CommandTimeout(command_timeout_);
    const std::string connection_string =
        emHow == HowToConnectEnum::ConnectByUdlFile ? "File Name=" + strConnectString : strConnectString;
    *secrets_ = {access::secrets_of(connection_string), connection_string};
    m_cnAdo->Open(connection_string, "", "", ado::adOptionUnspecified);
    trans_flg_ = false;
    usable_ = true;
    return true;
  } catch (...) {
    ErrProc("ConnectDataBase", current_failure(), true);
    return false;
  }
}

bool clsDatabase::Disconnect() {
  error_cd_ = 0;
  error_msg_.clear();
  if (!usable_) return true;
  try {
    if (!m_cnAdo) raise_runtime_error(err::kObjectNotSet);
    m_cnAdo->Close();
  } catch (...) {
    ErrProc("Disconnect", current_failure());
    return false;
  }
  ReplaceConnection(nullptr);
  usable_ = false;
  return true;
}

void clsDatabase::ErrProc(const std::string& label, const PendingFailure& pending, bool connecting) {
  const auto shown = [&](const std::string& text) { return connecting ? secrets_->redact(text) : text; };
  if (!m_cnAdo) raise_runtime_error(err::kObjectNotSet);
  Ref<Errors> errors = m_cnAdo->get_Errors();
  if (!errors) raise_runtime_error(err::kObjectNotSet);
  const std::int32_t count = errors->get_Count();
  if (count == 0) {
    error_cd_ = pending.number;
    error_msg_ = shown(pending.description);
    return;
  }
  error_cd_ = -1;
  std::int32_t state = 0;
  if (state_as_number(errors->get_Item(Variant(count - 1))->get_SQLState(), state)) error_cd_ = state;
  for (std::int32_t i = 0; i < count; ++i) {
    if (i != 0) error_msg_ += "\r\n";
    error_msg_ += errors->get_Item(Variant(i))->get_Description();
  }
  error_msg_ = shown("\u3010" + label + "\u3011 " + error_msg_);
  throw RaisedError(kDataAccessFailure, kErrProcSource, error_msg_);
}

void clsDatabase::FireDatabaseError(const std::string& label, std::span<const Ref<Error>> errors,
                                    bool connecting) {
  if (errors.empty()) return;
  std::string list;
  for (const Ref<Error>& error : errors) {
    if (!error) continue;
    list += error->get_Description();
    list += "\r\n";
  }
  std::string database_name;
  // A connection that failed to open may not know its database; the name is then empty.
  step([&] {
    if (m_cnAdo) database_name = m_cnAdo->get_DefaultDatabase();
  });
  std::string text = label + "\r\n" + list;
  if (connecting) {
    database_name = secrets_->redact(database_name);
    text = secrets_->redact(text);
  }
  events_.fire(&__clsDatabase::RaiseDatabaseError, 1, database_name, text);
}

// Tracing is the trace log's business (trace::put with purge_done_, when TraceTransaction is on);
// until it is wired here the handlers already hand over every line the trace file will hold.
void clsDatabase::PutTransactionLog(const std::string& text) {
  if (!trace_transaction_) return;
  trace::put(text, purge_done_);
}

// The lines of a connect show the connection string or repeat why it failed: its passwords are
// hidden there, in the whole line.
void clsDatabase::PutConnectLog(const std::string& text) { PutTransactionLog(secrets_->redact(text)); }

void clsDatabase::OnWillConnect(const std::string& connection_string, const std::string& password) {
  // A client may open the connection again itself, with another string.
  step([&] {
    if (connection_string != secrets_->source) secrets_->add(access::secrets_of(connection_string));
    secrets_->add(password);
  });
  step([&] { PutConnectLog(trace::heavy_rule()); });
  step([&] { PutConnectLog(trace::connect_line(connection_string)); });
}

void clsDatabase::OnConnectComplete(const Ref<Error>& error) {
  if (!error) return;
  step([&] { PutConnectLog(trace::error_line(error->get_Description())); });
  step([&] { FireDatabaseError("(event)ADODB.ConnectComplete", std::span(&error, 1), true); });
}

void clsDatabase::OnDisconnect() {
  step([&] { PutTransactionLog(trace::disconnect_line()); });
  step([&] { PutTransactionLog(trace::heavy_rule()); });
}

void clsDatabase::OnWillExecute(const std::string& source) {
  step([&] { PutTransactionLog(trace::sent_statement(source)); });
}

void clsDatabase::OnExecuteComplete(const Ref<Error>& error) {
  if (!error) return;
  step([&] { PutTransactionLog(trace::error_line(error->get_Description())); });
  step([&] { FireDatabaseError("(event)ADODB.ExecuteComplete", std::span(&error, 1)); });
}

void clsDatabase::OnBeginTransComplete(const Ref<Error>& error) {
  step([&] { PutTransactionLog(trace::begin_line()); });
  if (!error) return;
  step([&] { PutTransactionLog(trace::error_line(error->get_Description())); });
  step([&] { FireDatabaseError("(event)ADODB.BeginTransComplete", std::span(&error, 1)); });
}

void clsDatabase::OnCommitTransComplete(const Ref<Error>& error) {
  step([&] { PutTransactionLog(trace::commit_line()); });
  if (!error) return;
  step([&] { PutTransactionLog(trace::error_line(error->get_Description())); });
  step([&] { FireDatabaseError("(event)ADODB.CommitTransComplete", std::span(&error, 1)); });
}

void clsDatabase::OnRollbackTransComplete(const Ref<Error>& error) {
  if (!error) {
    step([&] { PutTransactionLog(trace::rollback_line()); });
    return;
  }
  step([&] { PutTransactionLog(trace::failed_rollback_line()); });
  step([&] { PutTransactionLog(trace::error_line(error->get_Description())); });
  step([&] { FireDatabaseError("(event)ADODB.RollbackTransComplete", std::span(&error, 1)); });
}

void clsDatabase::OnInfoMessage(const Ref<Error>& error) {
  if (!error) return;
  step([&] { FireDatabaseError("(event)ADODB.InfoMessage", std::span(&error, 1)); });
}

std::uint32_t clsDatabase::Advise(const Guid& events_iid, IUnknown* listener) {
  if (events_iid != __clsDatabase::IID) raise_runtime_error(err::kInvalidArgument);
  return events_.advise(listener);
}

void clsDatabase::Unadvise(std::uint32_t cookie) { events_.unadvise(cookie); }

const TypeInfo& clsDatabase::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_clsDatabase>("clsDatabase", Guid::of("19592A3A-9AB0-4336-A4F8-74BBFD7D4C2B"),
                                          Instancing::NotCreatable, 2);
    t.events = event_interface_info<__clsDatabase>("clsDatabase");
    const Variant by_connection_string(
        static_cast<std::int32_t>(HowToConnectEnum::ConnectByConnectionString));
    const Variant not_nullable(static_cast<std::int32_t>(SqlStringParmitNullEnum::FieldIsNotNullable));
    Describe<_clsDatabase>(t)
        .get("TraceTransaction", &_clsDatabase::get_TraceTransaction)
        .put("TraceTransaction", &_clsDatabase::put_TraceTransaction, {"RHS"})
        .get("TransFlg", &_clsDatabase::get_TransFlg)
        .put("TransFlg", &_clsDatabase::put_TransFlg, {"RHS"})
        .put("CommandTimeout", &_clsDatabase::put_CommandTimeout, {"RHS"})
        .get("CommandTimeout", &_clsDatabase::get_CommandTimeout)
        .put("ConnectionTimeout", &_clsDatabase::put_ConnectionTimeout, {"RHS"})
        .get("ConnectionTimeout", &_clsDatabase::get_ConnectionTimeout)
        .get("ErrorMsg", &_clsDatabase::get_ErrorMsg)
        .get("ErrorCD", &_clsDatabase::get_ErrorCD)
        .get("Usable", &_clsDatabase::get_Usable)
        .get("Connection", &_clsDatabase::get_Connection)
        .get("Provider", &_clsDatabase::get_Provider)
        .method("Connect", &_clsDatabase::Connect, {"strConnectString", opt("emHow", by_connection_string)})
        .method("Disconnect", &_clsDatabase::Disconnect)
        .method("RecordToDatabase", &_clsDatabase::RecordToDatabase,
                {"TableNm", in_ref("rsNoConnect"), in_ref(opt("IgnorePrefix", Variant(" ")))})
        .method("GetValueString", &_clsDatabase::GetValueString, {"Value", "attrib"})
        .method("ChangeRecordset", &_clsDatabase::ChangeRecordset, {in_ref("vRecord")})
        .method("NumConv", &_clsDatabase::NumConv, {in_ref("vdata"), opt("flg", not_nullable)})
        .method("DayConv", &_clsDatabase::DayConv, {in_ref("vdata")})
        .method("VarConv", &_clsDatabase::VarConv, {"vdata"})
        .method("OpenReadOnlyRecordset", &_clsDatabase::OpenReadOnlyRecordset,
                {"strSQL", "CursorLocation", opt("lngMaxRecords", Variant(std::int32_t{0}))})
        .method("OpenForwardOnlyRecordset", &_clsDatabase::OpenForwardOnlyRecordset, {"strSQL"})
        .method("OpenAddOnlyRecordset", &_clsDatabase::OpenAddOnlyRecordset, {"strSQL"})
        .method("OpenReadWriteRecordset", &_clsDatabase::OpenReadWriteRecordset, {"strSQL", "CursorLocation"})
        .event("RaiseDatabaseError", &__clsDatabase::RaiseDatabaseError, {"strDbName", "strErrorString"});
    return t;
  }();
  return info;
}

}  // namespace ovik

namespace ovik::platform {
template <>
ConnectionSource& Facility<ConnectionSource>::real() {
  static RealConnectionSource source;
  return source;
}
}  // namespace ovik::platform

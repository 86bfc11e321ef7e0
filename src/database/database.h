// clsDatabase: the library's handle on one database.
//
// Ownership: the object owns at most one connection (m_cnAdo) and listens to its events through a
// small sink object. The connection holds the sink; the sink holds only a plain pointer back to
// the clsDatabase, which the clsDatabase clears (and unadvises) when it replaces or releases the
// connection and when it ends, so a connection that a client keeps alive never calls into a dead
// object and no reference cycle keeps either alive. Recordsets handed out belong to the caller.
//
// Failures: see include/ovik/database.h. ErrProc is the one failure report of Connect, Disconnect,
// CreateFields and ChangeRecordset; it reads the connection's Errors list as it stands.
//
// Threads: one object is used on the thread that created it; events arrive on that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "ovik/database.h"
#include "ovik/events.h"
#include "ovik/export.h"
#include "ovik/object.h"
#include "platform/facility.h"

namespace ovik {

// Where clsDatabase gets its new connections; tests install a fake connection factory.
class ConnectionSource {
 public:
  virtual ~ConnectionSource() = default;
  virtual Ref<_Connection> create() = 0;
};

// A failure as the runtime's error object holds it while a failure path runs.
struct PendingFailure {
  std::int32_t number = 0;
  std::string description;
};
// The failure being handled (call inside a catch block only).
PendingFailure current_failure();

// Type-code classes of GetValueString.
enum class FieldClass { Date, String, Other };
FieldClass classify_field_type(std::int32_t type) noexcept;

// Kind of database by provider name: case-insensitive substring tests in a fixed order.
ConnectedDatabaseTypeEnum database_type_of_provider(std::string_view provider);

class clsDatabase final : public Object<clsDatabase, _clsDatabase, IConnectionPointContainer> {
 public:
  static const TypeInfo& type_info();

  OVIK_API clsDatabase();
  OVIK_API ~clsDatabase() override;

  bool get_TraceTransaction() override { return trace_transaction_; }
  void put_TraceTransaction(bool value) override { trace_transaction_ = value; }
  bool get_TransFlg() override { return trans_flg_; }
  void put_TransFlg(bool value) override { trans_flg_ = value; }
  void put_CommandTimeout(std::int32_t value) override { command_timeout_ = value; }
  std::int32_t get_CommandTimeout() override { return command_timeout_; }
  void put_ConnectionTimeout(std::int32_t value) override { connection_timeout_ = value; }
  std::int32_t get_ConnectionTimeout() override { return connection_timeout_; }
  std::string get_ErrorMsg() override { return error_msg_; }
  std::int32_t get_ErrorCD() override { return error_cd_; }
  bool get_Usable() override { return usable_; }
  Ref<_Connection> get_Connection() override { return m_cnAdo; }
  ConnectedDatabaseTypeEnum get_Provider() override;

  OVIK_API bool Connect(std::string strConnectString, HowToConnectEnum emHow) override;
  bool Disconnect() override;
  bool RecordToDatabase(std::string TableNm, Ref<_Recordset>& rsNoConnect,
                        std::string& IgnorePrefix) override;
  std::string GetValueString(Variant Value, std::int32_t attrib) override;
  Ref<_Recordset> ChangeRecordset(Ref<_Recordset>& vRecord) override;
  std::string NumConv(std::string& vdata, SqlStringParmitNullEnum flg) override;
  std::string DayConv(std::string& vdata) override;
  std::string VarConv(std::string vdata) override;
  Ref<_Recordset> OpenReadOnlyRecordset(std::string strSQL, std::int32_t CursorLocation,
                                        std::int32_t lngMaxRecords) override;
  Ref<_Recordset> OpenForwardOnlyRecordset(std::string strSQL) override;
  Ref<_Recordset> OpenAddOnlyRecordset(std::string strSQL) override;
  Ref<_Recordset> OpenReadWriteRecordset(std::string strSQL, std::int32_t CursorLocation) override;

  std::uint32_t Advise(const Guid& events_iid, IUnknown* listener) override;
  void Unadvise(std::uint32_t cookie) override;

 private:
  class ConnectionSink;
  friend class ConnectionSink;

  // Attaches the event sink to `connection` and makes it m_cnAdo; the previous one is detached.
  void ReplaceConnection(Ref<_Connection> connection);
  // `connecting`: the failure is a failed connect, whose texts may repeat the connection string
  // or its target; the passwords are hidden from them. Other texts are reported as given.
  void ErrProc(const std::string& label, const PendingFailure& pending, bool connecting = false);
  void FireDatabaseError(const std::string& label, std::span<const Ref<Error>> errors, bool connecting = false);
  // The one entry point of the trace file: each traced line of the event handlers comes here.
  void PutTransactionLog(const std::string& text);
  void PutConnectLog(const std::string& text);
  Ref<_Recordset> CreateFields(const Ref<_Recordset>& rs);
  static std::string NullToEmpty(const Variant& value);
  std::string SqlQuote(std::string_view text) const;
  // The database product the open connection reached, lower-cased; empty when none.
  std::string ReachedProduct() const;
  // The connected database's hex literal of a binary value.
  std::string BinaryLiteral(std::string_view bytes);

  // Event handlers (called through the sink).
  void OnWillConnect(const std::string& connection_string, const std::string& password);
  void OnConnectComplete(const Ref<Error>& error);
  void OnDisconnect();
  void OnWillExecute(const std::string& source);
  void OnExecuteComplete(const Ref<Error>& error);
  void OnBeginTransComplete(const Ref<Error>& error);
  void OnCommitTransComplete(const Ref<Error>& error);
  void OnRollbackTransComplete(const Ref<Error>& error);
  void OnInfoMessage(const Ref<Error>& error);

  bool trace_transaction_ = false;
  bool trans_flg_ = false;
  std::int32_t command_timeout_ = 300;
  std::int32_t connection_timeout_ = 0;
  std::string error_msg_;
  std::int32_t error_cd_ = 0;
  bool usable_ = false;
  Ref<_Connection> m_cnAdo;
  bool purge_done_ = false;  // the trace folder was purged by this object
  // The passwords of the connection, hidden from the connect line and from the texts of a failed
  // connect (its error line, ErrorMsg, raised description and event text); statements and their
  // errors are traced and reported as given. Defined in database.cpp: the access layer's
  // namespace, seen here, would hide POSIX access() from the files that include this header.
  struct Secrets;
  std::unique_ptr<Secrets> secrets_;

  Ref<ConnectionSink> sink_;
  Ref<IConnectionPointContainer> advised_;  // the container the sink is connected to
  std::uint32_t advise_cookie_ = 0;
  ConnectionPoint<__clsDatabase> events_;
};

}  // namespace ovik

namespace ovik::platform {
template <>
ConnectionSource& Facility<ConnectionSource>::real();
}  // namespace ovik::platform

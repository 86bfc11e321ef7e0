// The early-bound interface of clsDatabase: one database connection per object, SQL literals for
// the connected kind of database, recordsets in four fixed configurations and the writing of
// whole recordsets into tables. Clients receive these objects from the environment object; they
// cannot create them.
//
// Failure reporting (see the member comments for which member uses which):
//  - ErrorCD / ErrorMsg: reset only by Connect and Disconnect; set by their failure paths and by
//    those of ChangeRecordset.
//  - Error 60000, source "clsAdoLib.ErrProc": those failure paths when the connection's Errors
//    list holds provider errors; the description is "【label】 " + every error's description.
//  - RaiseDatabaseError: every connection event that carries an error object.
//  - Everything else lets the data-access failure reach the caller unchanged.
#pragma once

#include <cstdint>
#include <string>

#include "ovik/data_access.h"
#include "ovik/describe.h"
#include "ovik/export.h"
#include "ovik/unknown.h"
#include "ovik/variant.h"

namespace ovik {

enum class HowToConnectEnum : std::int32_t {
  ConnectByUdlFile = 0,
  ConnectByConnectionString = 1,
};

enum class ConnectedDatabaseTypeEnum : std::int32_t {
  IsOracle = 0,
  IsAccess = 1,
  IsSqlServer = 2,
  IsUnknown = 3,
};

enum class SqlStringParmitNullEnum : std::int32_t {
  FieldIsNullable = 0,
  FieldIsNotNullable = 1,
};

// Spelled out rather than through OVIK_ENUM_NAME, which would name them with their namespace.
template <>
struct EnumName<HowToConnectEnum> {
  static constexpr std::string_view value = "HowToConnectEnum";
};
template <>
struct EnumName<ConnectedDatabaseTypeEnum> {
  static constexpr std::string_view value = "ConnectedDatabaseTypeEnum";
};
template <>
struct EnumName<SqlStringParmitNullEnum> {
  static constexpr std::string_view value = "SqlStringParmitNullEnum";
};

// The outgoing interface: connection events that carry an error object arrive here, synchronously,
// inside the data-access call that failed.
class OVIK_API __clsDatabase : public IUnknown {
 public:
  static constexpr Guid IID = Guid::of("D0865A74-BB80-4DC4-895A-5F1D34A6C7C7");
  // strDbName: the connection's DefaultDatabase (may be empty); strErrorString: the event's label,
  // CR LF, then each error's description followed by CR LF.
  virtual void RaiseDatabaseError(const std::string& strDbName, const std::string& strErrorString) = 0;
};

class OVIK_API _clsDatabase : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("0966D568-9C98-43AE-B678-F5B61358F027");
  static constexpr std::string_view kTypeName = "clsDatabase";

  virtual bool get_TraceTransaction() = 0;
  virtual void put_TraceTransaction(bool value) = 0;
  virtual bool get_TransFlg() = 0;
  virtual void put_TransFlg(bool value) = 0;
  // Timeouts are stored only; each Connect copies them to its new connection (0 = no limit).
  virtual void put_CommandTimeout(std::int32_t value) = 0;
  virtual std::int32_t get_CommandTimeout() = 0;
  virtual void put_ConnectionTimeout(std::int32_t value) = 0;
  virtual std::int32_t get_ConnectionTimeout() = 0;
  virtual std::string get_ErrorMsg() = 0;
  virtual std::int32_t get_ErrorCD() = 0;
  virtual bool get_Usable() = 0;
  // The connection itself (shared); Nothing before the first Connect and after a Disconnect.
  virtual Ref<_Connection> get_Connection() = 0;
  // Detected from the connection's provider name at every read; raises 91 without a connection.
  virtual ConnectedDatabaseTypeEnum get_Provider() = 0;

  // True when connected afterwards. A failure with provider errors raises 60000; without them it
  // returns False with ErrorCD/ErrorMsg set. A connected object returns True and changes nothing.
  virtual bool Connect(std::string strConnectString, HowToConnectEnum emHow) = 0;
  // True when not connected afterwards; failures as for Connect.
  virtual bool Disconnect() = 0;
  // One "insert into" statement per row, from the first row (a forward-only recordset that moved
  // on runs its query again); fields whose names begin with IgnorePrefix are left out. Nothing is
  // caught: a failing row stops it, earlier rows stay.
  virtual bool RecordToDatabase(std::string TableNm, Ref<_Recordset>& rsNoConnect,
                                std::string& IgnorePrefix) = 0;
  // The SQL literal of a field value by its type code: DayConv for dates, VarConv for text, the
  // connected database's hex literal for binary types (91 without a connection), otherwise the
  // value's text when it is a number or a Boolean and VarConv of it when it is not; "Null" when
  // that comes out empty.
  virtual std::string GetValueString(Variant Value, std::int32_t attrib) = 0;
  // An in-memory copy of vRecord's rows from its current position on (numeric fields become
  // currency); vRecord is left at its end. Failures go through ErrorCD/ErrorMsg or 60000.
  virtual Ref<_Recordset> ChangeRecordset(Ref<_Recordset>& vRecord) = 0;
  // Literals. NumConv raises 13 for text that is not a number and 6 out of the currency range;
  // DayConv gives "NULL" for text that is not a date and raises 91 for a date without a connection.
  virtual std::string NumConv(std::string& vdata, SqlStringParmitNullEnum flg) = 0;
  virtual std::string DayConv(std::string& vdata) = 0;
  virtual std::string VarConv(std::string vdata) = 0;
  // New recordsets on the connection; every failure reaches the caller.
  virtual Ref<_Recordset> OpenReadOnlyRecordset(std::string strSQL, std::int32_t CursorLocation,
                                                std::int32_t lngMaxRecords) = 0;
  virtual Ref<_Recordset> OpenForwardOnlyRecordset(std::string strSQL) = 0;
  virtual Ref<_Recordset> OpenAddOnlyRecordset(std::string strSQL) = 0;
  virtual Ref<_Recordset> OpenReadWriteRecordset(std::string strSQL, std::int32_t CursorLocation) = 0;

  // BEGIN generated by ovik_early_bound from the class description; do not edit
  // (lvalue-qualified: &Interface::Member still names the virtual member alone)
  bool Connect(std::string strConnectString) & {
    return Connect(std::move(strConnectString), HowToConnectEnum::ConnectByConnectionString);
  }
  bool RecordToDatabase(std::string TableNm, const Ref<_Recordset>& rsNoConnect,
                        std::string_view IgnorePrefix) & {
    Ref<_Recordset> rsNoConnect_(rsNoConnect);
    std::string IgnorePrefix_(IgnorePrefix);
    return RecordToDatabase(std::move(TableNm), rsNoConnect_, IgnorePrefix_);
  }
  bool RecordToDatabase(std::string TableNm, const Ref<_Recordset>& rsNoConnect) & {
    Ref<_Recordset> rsNoConnect_(rsNoConnect);
    std::string IgnorePrefix_ = " ";
    return RecordToDatabase(std::move(TableNm), rsNoConnect_, IgnorePrefix_);
  }
  Ref<_Recordset> ChangeRecordset(const Ref<_Recordset>& vRecord) & {
    Ref<_Recordset> vRecord_(vRecord);
    return ChangeRecordset(vRecord_);
  }
  std::string NumConv(std::string_view vdata, SqlStringParmitNullEnum flg) & {
    std::string vdata_(vdata);
    return NumConv(vdata_, flg);
  }
  std::string NumConv(std::string_view vdata) & {
    std::string vdata_(vdata);
    return NumConv(vdata_, SqlStringParmitNullEnum::FieldIsNotNullable);
  }
  std::string DayConv(std::string_view vdata) & {
    std::string vdata_(vdata);
    return DayConv(vdata_);
  }
  Ref<_Recordset> OpenReadOnlyRecordset(std::string strSQL, std::int32_t CursorLocation) & {
    return OpenReadOnlyRecordset(std::move(strSQL), CursorLocation, 0);
  }
  // END generated
};

}  // namespace ovik

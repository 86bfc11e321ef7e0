// The data-access objects: Connection, Recordset, Fields/Field, Errors/Error, and the events of a
// connection. They are objects of the component frame (counted, early-bound through these
// interfaces and late-bound by name), created only by the library: a connection by the classes
// that own one, a recordset by a connection's Execute or by clsDatabase.
//
// Failures raise RaisedError. A failure that reached the driver first fills the connection's
// Errors collection (Number, Description, SQLState of every diagnostic record), then raises the
// first record's description with number = the Error object's Number. Completion events
// (ConnectComplete, ExecuteComplete, ...) run inside the call, before it raises. The objects' own
// refusals (3704 closed, 3001 bad argument, ...) are raised without touching Errors.
#pragma once

#include <cstdint>
#include <string>

#include "ovik/unknown.h"
#include "ovik/variant.h"

namespace ovik {

// Values of the data-access layer's own enumerations.
namespace ado {
inline constexpr std::int32_t adUseServer = 2, adUseClient = 3;
inline constexpr std::int32_t adOpenUnspecified = -1, adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2,
                              adOpenStatic = 3;
inline constexpr std::int32_t adLockUnspecified = -1, adLockReadOnly = 1, adLockPessimistic = 2,
                              adLockOptimistic = 3;
inline constexpr std::int32_t adStateClosed = 0, adStateOpen = 1;
inline constexpr std::int32_t adStatusOK = 1, adStatusErrorsOccurred = 2, adStatusCantDeny = 3;
inline constexpr std::int32_t adOptionUnspecified = -1;
// Field types.
inline constexpr std::int32_t adEmpty = 0, adSmallInt = 2, adInteger = 3, adSingle = 4, adDouble = 5, adCurrency = 6,
                              adDate = 7, adBSTR = 8, adBoolean = 11, adVariant = 12, adTinyInt = 16,
                              adUnsignedTinyInt = 17, adBigInt = 20, adBinary = 128, adChar = 129, adWChar = 130,
                              adNumeric = 131, adDBDate = 133, adDBTime = 134, adDBTimeStamp = 135,
                              adVarChar = 200, adLongVarChar = 201, adVarWChar = 202, adLongVarWChar = 203,
                              adVarBinary = 204, adLongVarBinary = 205;
// Field attributes.
inline constexpr std::int32_t adFldUpdatable = 0x4, adFldFixed = 0x10, adFldIsNullable = 0x20, adFldMayBeNull = 0x40,
                              adFldLong = 0x80, adFldRowID = 0x100, adFldKeyColumn = 0x8000;
}  // namespace ado

class Error : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("0F649FAD-DB3F-4E30-90B2-A232229765BF");
  static constexpr std::string_view kTypeName = "Error";
  virtual std::int32_t get_Number() = 0;
  virtual std::string get_Description() = 0;
  virtual std::string get_SQLState() = 0;
  virtual std::int32_t get_NativeError() = 0;
  virtual std::string get_Source() = 0;
};

class Errors : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("F7E7E726-9B50-4DB0-8B81-707BC0A7F561");
  static constexpr std::string_view kTypeName = "Errors";
  virtual std::int32_t get_Count() = 0;
  // By index from 0 (the default member); an index out of range raises 5.
  virtual Ref<Error> get_Item(Variant Index) = 0;
  virtual void Clear() = 0;
};

class Field : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("35F1624B-6926-434D-B69A-931EDF825C2D");
  static constexpr std::string_view kTypeName = "Field";
  virtual std::string get_Name() = 0;
  virtual std::int32_t get_Type() = 0;
  virtual std::int32_t get_DefinedSize() = 0;
  virtual std::int32_t get_Attributes() = 0;
  virtual std::int32_t get_Precision() = 0;
  virtual std::int32_t get_NumericScale() = 0;
  // The current row's value (the default member): Null for SQL NULL; raises when there is no
  // current row (BOF or EOF).
  virtual Variant get_Value() = 0;
  virtual void put_Value(Variant value) = 0;
};

class Fields : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("314281CB-8EF5-43FF-983E-1846F7F8F906");
  static constexpr std::string_view kTypeName = "Fields";
  virtual std::int32_t get_Count() = 0;
  // By index from 0 or by name without regard to case (the default member).
  virtual Ref<Field> get_Item(Variant Index) = 0;
  // Only on a closed recordset that has no source (an in-memory one before its Open).
  virtual void Append(std::string Name, std::int32_t Type, std::int32_t DefinedSize, std::int32_t Attrib) = 0;
};

class _Connection;

class _Recordset : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("6C93CAF7-5288-439D-A20D-FE9012A848B2");
  static constexpr std::string_view kTypeName = "Recordset";
  virtual std::int32_t get_CursorLocation() = 0;
  virtual void put_CursorLocation(std::int32_t value) = 0;
  virtual std::int32_t get_CursorType() = 0;
  virtual void put_CursorType(std::int32_t value) = 0;
  virtual std::int32_t get_LockType() = 0;
  virtual void put_LockType(std::int32_t value) = 0;
  virtual std::int32_t get_MaxRecords() = 0;
  virtual void put_MaxRecords(std::int32_t value) = 0;
  virtual Ref<_Connection> get_ActiveConnection() = 0;
  virtual void put_ActiveConnection(Ref<_Connection> value) = 0;
  // Source: SQL text, or Empty for an in-memory recordset built from appended fields. The
  // connection argument, when given, replaces ActiveConnection; -1 leaves a property as set.
  virtual void Open(Variant Source, Variant ActiveConnection, std::int32_t CursorType, std::int32_t LockType,
                    std::int32_t Options) = 0;
  virtual void Close() = 0;
  virtual std::int32_t get_State() = 0;
  virtual std::string get_Source() = 0;
  virtual bool get_BOF() = 0;
  virtual bool get_EOF() = 0;
  virtual void MoveFirst() = 0;
  virtual void MoveNext() = 0;
  virtual void MovePrevious() = 0;
  virtual void MoveLast() = 0;
  // The number of rows; -1 on a forward-only cursor.
  virtual std::int32_t get_RecordCount() = 0;
  virtual void AddNew() = 0;
  virtual void Update() = 0;
  virtual void CancelUpdate() = 0;
  virtual Ref<Fields> get_Fields() = 0;  // the default member
};

class _Connection : public IDispatch {
 public:
  static constexpr Guid IID = Guid::of("3DBF3890-1BD5-42E9-A80B-9A29980E2E8B");
  static constexpr std::string_view kTypeName = "Connection";
  virtual std::string get_ConnectionString() = 0;
  virtual void put_ConnectionString(std::string value) = 0;
  virtual std::int32_t get_ConnectionTimeout() = 0;
  virtual void put_ConnectionTimeout(std::int32_t seconds) = 0;
  virtual std::int32_t get_CommandTimeout() = 0;
  virtual void put_CommandTimeout(std::int32_t seconds) = 0;
  virtual std::int32_t get_State() = 0;
  // The Provider item as given in the connection string ("SQLOLEDB.1"); "MSDASQL" when it has none.
  virtual std::string get_Provider() = 0;
  virtual std::string get_DefaultDatabase() = 0;
  virtual Ref<Errors> get_Errors() = 0;
  // An empty ConnectionString argument uses the property.
  virtual void Open(std::string ConnectionString, std::string UserID, std::string Password,
                    std::int32_t Options) = 0;
  virtual void Close() = 0;
  // Runs the text; rows come back as a forward-only, read-only recordset (closed when the
  // statement returns none). RecordsAffected receives the count of changed rows.
  virtual Ref<_Recordset> Execute(std::string CommandText, Variant& RecordsAffected, std::int32_t Options) = 0;
  virtual std::int32_t BeginTrans() = 0;  // returns the nesting level (1)
  virtual void CommitTrans() = 0;
  virtual void RollbackTrans() = 0;
};

// Events of a connection, raised synchronously inside the call that causes them. A completion
// event carries the failure's Error object, or Nothing on success (adStatus adStatusOK then).
// The dispatch ids are those late-bound listeners receive.
class ConnectionEvents : public IUnknown {
 public:
  static constexpr Guid IID = Guid::of("ED75FA82-8986-493E-804F-84A3F70922D5");
  virtual void InfoMessage(const Ref<Error>& pError, std::int32_t adStatus, const Ref<_Connection>& pConnection) = 0;
  virtual void BeginTransComplete(std::int32_t TransactionLevel, const Ref<Error>& pError, std::int32_t adStatus,
                                  const Ref<_Connection>& pConnection) = 0;
  virtual void CommitTransComplete(const Ref<Error>& pError, std::int32_t adStatus,
                                   const Ref<_Connection>& pConnection) = 0;
  virtual void RollbackTransComplete(const Ref<Error>& pError, std::int32_t adStatus,
                                     const Ref<_Connection>& pConnection) = 0;
  virtual void WillExecute(const std::string& Source, std::int32_t CursorType, std::int32_t LockType,
                           std::int32_t Options, std::int32_t adStatus, const Ref<_Recordset>& pRecordset,
                           const Ref<_Connection>& pConnection) = 0;
  virtual void ExecuteComplete(std::int32_t RecordsAffected, const Ref<Error>& pError, std::int32_t adStatus,
                               const Ref<_Recordset>& pRecordset, const Ref<_Connection>& pConnection) = 0;
  virtual void WillConnect(const std::string& ConnectionString, const std::string& UserID,
                           const std::string& Password, std::int32_t Options, std::int32_t adStatus,
                           const Ref<_Connection>& pConnection) = 0;
  virtual void ConnectComplete(const Ref<Error>& pError, std::int32_t adStatus,
                               const Ref<_Connection>& pConnection) = 0;
  virtual void Disconnect(std::int32_t adStatus, const Ref<_Connection>& pConnection) = 0;
};

namespace ado {
inline constexpr std::int32_t kDispInfoMessage = 0, kDispBeginTransComplete = 1, kDispRollbackTransComplete = 2,
                              kDispCommitTransComplete = 3, kDispWillExecute = 4, kDispExecuteComplete = 5,
                              kDispWillConnect = 6, kDispConnectComplete = 7, kDispDisconnect = 8;
}  // namespace ado

// A new, closed connection (the library's classes create theirs this way).
Ref<_Connection> new_connection();
// A new, closed recordset with the given properties' defaults (client code builds in-memory ones this way).
Ref<_Recordset> new_recordset();

}  // namespace ovik

// clsDatabase: recordsets in their four configurations, in-memory copies, and record insertion.
#include <string>
#include <vector>

#include "database/database.h"
#include "ovik/error.h"

namespace ovik {

namespace {

// Objects that come from the caller or from the data-access layer may be Nothing; using one is the
// runtime's object-not-set error, never a crash.
template <class T>
T& must(const Ref<T>& object) {
  if (!object) raise_runtime_error(err::kObjectNotSet);
  return *object;
}

Ref<Field> field_at(Fields& fields, std::int32_t index) { return fields.get_Item(Variant(index)); }

Ref<_Recordset> open_recordset(const Ref<_Connection>& connection, const std::string& sql,
                               std::int32_t lock_type, std::int32_t cursor_location, std::int32_t cursor_type,
                               const std::int32_t* max_records) {
  Ref<_Recordset> rs = new_recordset();
  must(rs).put_LockType(lock_type);
  rs->put_CursorLocation(cursor_location);
  rs->put_CursorType(cursor_type);
  rs->put_ActiveConnection(connection);
  if (max_records) rs->put_MaxRecords(*max_records);
  rs->Open(Variant(sql), Variant(), ado::adOpenUnspecified, ado::adLockUnspecified, ado::adOptionUnspecified);
  return rs;
}

}  // namespace

Ref<_Recordset> clsDatabase::OpenReadOnlyRecordset(std::string strSQL, std::int32_t CursorLocation,
                                                   std::int32_t lngMaxRecords) {
  return open_recordset(m_cnAdo, strSQL, ado::adLockReadOnly, CursorLocation, ado::adOpenStatic,
                        &lngMaxRecords);
}

Ref<_Recordset> clsDatabase::OpenForwardOnlyRecordset(std::string strSQL) {
  return open_recordset(m_cnAdo, strSQL, ado::adLockReadOnly, ado::adUseServer, ado::adOpenForwardOnly,
                        nullptr);
}

Ref<_Recordset> clsDatabase::OpenAddOnlyRecordset(std::string strSQL) {
  const std::int32_t one_row = 1;
  return open_recordset(m_cnAdo, strSQL, ado::adLockOptimistic, ado::adUseServer, ado::adOpenKeyset,
                        &one_row);
}

Ref<_Recordset> clsDatabase::OpenReadWriteRecordset(std::string strSQL, std::int32_t CursorLocation) {
  return open_recordset(m_cnAdo, strSQL, ado::adLockOptimistic, CursorLocation, ado::adOpenKeyset, nullptr);
}

Ref<_Recordset> clsDatabase::CreateFields(const Ref<_Recordset>& rs) {
  try {
    Ref<_Recordset> copy = new_recordset();
    Ref<Fields> source = must(rs).get_Fields();
    Ref<Fields> target = must(copy).get_Fields();
    const std::int32_t count = must(source).get_Count();
    for (std::int32_t i = 0; i < count; ++i) {
      Ref<Field> field = field_at(*source, i);
      std::int32_t type = must(field).get_Type();
      if (type == ado::adNumeric) type = ado::adCurrency;
      must(target).Append(field->get_Name(), type, field->get_DefinedSize(), field->get_Attributes());
    }
    copy->put_CursorLocation(ado::adUseClient);
    copy->put_CursorType(ado::adOpenDynamic);
    copy->put_LockType(ado::adLockPessimistic);
    copy->Open(Variant(), Variant(), ado::adOpenUnspecified, ado::adLockUnspecified,
               ado::adOptionUnspecified);
    return copy;
  } catch (...) {
    ErrProc("CreateFields(clsDatabase)", current_failure());
    return nullptr;
  }
}

Ref<_Recordset> clsDatabase::ChangeRecordset(Ref<_Recordset>& vRecord) {
  try {
    Ref<_Recordset> copy = CreateFields(vRecord);
    Ref<Fields> source = must(vRecord).get_Fields();
    const std::int32_t count = must(source).get_Count();
    while (!vRecord->get_EOF()) {
      must(copy).AddNew();
      Ref<Fields> target = copy->get_Fields();
      for (std::int32_t i = 0; i < count; ++i)
        must(field_at(must(target), i)).put_Value(must(field_at(*source, i)).get_Value());
      copy->Update();
      vRecord->MoveNext();
    }
    if (copy && !(copy->get_BOF() && copy->get_EOF())) copy->MoveFirst();
    return copy;
  } catch (...) {
    ErrProc("ChangeRecordset", current_failure());
    return nullptr;
  }
}

bool clsDatabase::RecordToDatabase(std::string TableNm, Ref<_Recordset>& rsNoConnect,
                                   std::string& IgnorePrefix) {
  _Recordset& rs = must(rsNoConnect);
  if (rs.get_BOF() && rs.get_EOF()) return true;
  rs.MoveFirst();

  // The column list and the written fields are the same for every row; only the values change.
  Ref<Fields> fields = rs.get_Fields();
  const std::int32_t count = must(fields).get_Count();
  struct Written {
    Ref<Field> field;
    std::int32_t type;
  };
  std::vector<Written> written;
  std::string head = "insert into " + TableNm + " (";
  for (std::int32_t i = 0; i < count; ++i) {
    Ref<Field> field = field_at(*fields, i);
    const std::string name = must(field).get_Name();
    // Byte comparison of UTF-8 matches comparing the first Len(IgnorePrefix) characters.
    if (name.starts_with(IgnorePrefix)) continue;
    head += ' ';
    head += name;
    head += ',';
    written.push_back({field, field->get_Type()});
  }
  head.pop_back();
  head += ")values(";

  std::string sql;
  while (!rs.get_EOF()) {
    sql = head;
    for (const Written& w : written) {
      sql += ' ';
      sql += GetValueString(w.field->get_Value(), w.type);
      sql += ',';
    }
    sql.pop_back();
    sql += ')';
    Variant records_affected;
    must(m_cnAdo).Execute(sql, records_affected, ado::adOptionUnspecified);
    rs.MoveNext();
  }
  return true;
}

}  // namespace ovik

// The Recordset object with its Fields collection and Field objects.
//
// Storage: a forward-only, read-only recordset on a server cursor streams: it keeps the driver's
// cursor and only its current row. Every other recordset (static, keyset and dynamic cursors,
// client cursors, updatable lock types, in-memory recordsets) holds its rows in memory, column by
// column (values.h); keyset and dynamic cursors are snapshots of the rows at Open, as a static
// cursor is. A client cursor location turns a forward-only cursor type into a static one, as
// client cursors are always static. MoveFirst on a forward-only recordset that has moved on runs
// its query again (a streaming one; one held in memory just starts over): a statement with side
// effects has them again.
//
// Writing back: a recordset opened from a query with lock type 2 or 3 whose fields come from one
// table inserts (AddNew + Update) and updates (Value + Update) that table with bound parameters;
// an update finds its row by the key fields (primary key, or SQLite's rowid when selected).
// Moving off a row with pending changes saves them first. A failed write leaves the changes
// pending (CancelUpdate drops them); what the database said about it is in the connection's Errors.
//
// Ownership: the Fields collection and each Field object hold a reference to their recordset, so
// that `cn.Execute(sql).Fields(0).Value` reads a recordset that nobody else holds any more. The
// recordset knows only those that are alive (plain pointers, cleared as they end), so no cycle
// keeps it alive; they are made when first asked for. A Field whose recordset's fields change
// (Close of a query, other columns when run again) is detached and raises 3704. Clients may keep
// a Field while walking the rows.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/access/driver.h"
#include "database/access/objects/connection.h"
#include "database/access/objects/values.h"
#include "ovik/data_access.h"
#include "ovik/object.h"

namespace ovik::access {

class Recordset;

class FieldImpl final : public Object<FieldImpl, Field> {
 public:
  static const TypeInfo& type_info();
  FieldImpl(Ref<Recordset> owner, std::size_t index);
  ~FieldImpl() override;
  std::string get_Name() override { return def().name; }
  std::int32_t get_Type() override { return def().type; }
  std::int32_t get_DefinedSize() override { return def().defined_size; }
  std::int32_t get_Attributes() override { return def().attributes; }
  std::int32_t get_Precision() override { return def().precision; }
  std::int32_t get_NumericScale() override { return def().scale; }
  Variant get_Value() override;
  void put_Value(Variant value) override;
  void detach();

 private:
  const FieldDef& def();
  Recordset& owner();
  Ref<Recordset> owner_;
  std::size_t index_;
};

class FieldsImpl final : public Object<FieldsImpl, Fields> {
 public:
  static const TypeInfo& type_info();
  explicit FieldsImpl(Ref<Recordset> owner);
  ~FieldsImpl() override;
  std::int32_t get_Count() override;
  Ref<Field> get_Item(Variant Index) override;
  void Append(std::string Name, std::int32_t Type, std::int32_t DefinedSize, std::int32_t Attrib) override;

 private:
  Ref<Recordset> owner_;
};

class Recordset final : public Object<Recordset, _Recordset> {
 public:
  static const TypeInfo& type_info();
  Recordset() = default;

  std::int32_t get_CursorLocation() override { return cursor_location_; }
  void put_CursorLocation(std::int32_t value) override;
  std::int32_t get_CursorType() override { return cursor_type_; }
  void put_CursorType(std::int32_t value) override;
  std::int32_t get_LockType() override { return lock_type_; }
  void put_LockType(std::int32_t value) override;
  std::int32_t get_MaxRecords() override { return max_records_; }
  void put_MaxRecords(std::int32_t value) override;
  Ref<_Connection> get_ActiveConnection() override { return Ref<_Connection>(connection_); }
  void put_ActiveConnection(Ref<_Connection> value) override;
  void Open(Variant Source, Variant ActiveConnection, std::int32_t CursorType, std::int32_t LockType,
            std::int32_t Options) override;
  void Close() override;
  std::int32_t get_State() override { return open_ ? ado::adStateOpen : ado::adStateClosed; }
  std::string get_Source() override { return source_; }
  bool get_BOF() override;
  bool get_EOF() override;
  void MoveFirst() override;
  void MoveNext() override;
  void MovePrevious() override;
  void MoveLast() override;
  std::int32_t get_RecordCount() override;
  void AddNew() override;
  void Update() override;
  void CancelUpdate() override;
  Ref<Fields> get_Fields() override;

  // Connection.Execute's result: the statement's rows on a forward-only, read-only server
  // cursor. Throws DriverError when the first row cannot be fetched.
  void open_stream(Ref<Connection> connection, std::string source, std::unique_ptr<Cursor> cursor);

  // ---- for Fields and Field ----
  std::size_t field_count() const { return defs_.size(); }
  const FieldDef& def(std::size_t index) const { return defs_.at(index); }
  Ref<Field> field(std::size_t index);
  // Called by a Fields or Field object as it ends.
  void forget(const FieldsImpl* fields);
  void forget(std::size_t index, const FieldImpl* field);
  // The index of the field named `name` (ASCII case ignored); raises 3265 when there is none.
  std::size_t index_of(std::string_view name) const;
  void append_field(std::string name, std::int32_t type, std::int32_t defined_size, std::int32_t attributes);
  Variant value(std::size_t index);
  void put_value(std::size_t index, const Variant& value);

 private:
  enum class Edit { kNone, kChange, kAdd };

  bool streaming() const { return stream_ != nullptr; }
  bool has_current_row() const;
  void require_open() const;
  void require_closed() const;
  void require_updatable() const;
  void set_fields(std::vector<FieldDef> defs);
  void reset_rows();
  void open_from_connection(const std::string& source, std::int32_t options);
  void load(Cursor& cursor);
  void fetch_next();
  // A streaming recordset's way back to its first row: its query runs again, with the events of
  // a new run, and the rows are those of the database now.
  void run_again();
  void save_pending();
  void write_back();
  std::size_t row_count() const { return columns_.empty() ? 0 : columns_.front().size(); }
  std::string quoted_table(char quote) const;

  std::int32_t cursor_location_ = ado::adUseServer;
  std::int32_t cursor_type_ = ado::adOpenForwardOnly;
  std::int32_t lock_type_ = ado::adLockReadOnly;
  std::int32_t max_records_ = 0;
  Ref<Connection> connection_;
  bool open_ = false;
  std::string source_;
  bool from_database_ = false;  // opened from a query (else in memory from appended fields)

  std::vector<FieldDef> defs_;
  // Those alive, by field index (nullptr where none is).
  FieldsImpl* fields_ = nullptr;
  std::vector<FieldImpl*> field_objects_;

  std::vector<ColumnStore> columns_;
  std::ptrdiff_t position_ = 0;  // row index; -1 before the first, row_count() after the last

  std::unique_ptr<Cursor> stream_;
  bool stream_row_ = false;  // the cursor stands on a row
  bool moved_ = false;       // a forward-only recordset has left its first row
  std::size_t streamed_ = 0;

  Edit edit_ = Edit::kNone;
  std::vector<Value> buffer_;
  std::vector<bool> changed_;
  std::ptrdiff_t position_before_add_ = 0;
  std::string table_;  // the one table written back; empty when the recordset cannot write
};

}  // namespace ovik::access

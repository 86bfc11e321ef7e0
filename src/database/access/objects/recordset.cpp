#include "database/access/objects/recordset.h"

#include <algorithm>
#include <utility>

#include "database/access/connection_string.h"
#include "database/access/objects/errors.h"
#include "ovik/describe.h"
#include "ovik/error.h"
#include "platform/ascii.h"

namespace ovik {

Ref<_Recordset> new_recordset() { return Ref<_Recordset>(make_object<access::Recordset>()); }

}  // namespace ovik

namespace ovik::access {
namespace {

using namespace ovik::ado;

[[noreturn]] void raise(std::int32_t number, const std::string& description) {
  throw RaisedError(number, kSource, description);
}

constexpr const char* kOpenText = "Operation is not allowed when the object is open.";
constexpr const char* kNoCurrentText =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
    "current "
    "record.";
constexpr const char* kBackwardText =
    "Rowset does not support fetching backward: the cursor is forward-only.";
constexpr const char* kReadOnlyText =
    "Current Recordset does not support updating. This may be a limitation of the provider, or of the "
    "selected "
    "locktype.";

bool known_field_type(std::int32_t type) {
  switch (type) {
    case adSmallInt:
    case adInteger:
    case adSingle:
    case adDouble:
    case adCurrency:
    case adDate:
    case adBSTR:
    case adBoolean:
    case adVariant:
    case adTinyInt:
    case adUnsignedTinyInt:
    case adBigInt:
    case 72:
    case adBinary:
    case adChar:
    case adWChar:
    case adNumeric:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar:
    case adVarBinary:
    case adLongVarBinary:
      return true;
    default:
      return false;
  }
}

// MySQL and MariaDB read a double-quoted name as a string literal (unless the session set
// ANSI_QUOTES); their own quote for names is the backtick, which every session takes.
char identifier_quote(const Driver& driver) {
  const std::string product = platform::ascii_lower(driver.dbms_name());
  return product.find("mysql") != std::string::npos || product.find("mariadb") != std::string::npos ? '`'
                                                                                                    : '"';
}

std::string quote_identifier(std::string_view name, char quote) {
  std::string out(1, quote);
  for (char c : name) {
    if (c == quote) out += quote;
    out += c;
  }
  return out + quote;
}

}  // namespace

// ---- Field ----

const TypeInfo& FieldImpl::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<Field>("Field", Field::IID, Instancing::Internal, 0);
    t.library = "ADODB";
    Describe<Field>(t)
        .get("Name", &Field::get_Name)
        .get("Type", &Field::get_Type)
        .get("DefinedSize", &Field::get_DefinedSize)
        .get("Attributes", &Field::get_Attributes)
        .get("Precision", &Field::get_Precision)
        .get("NumericScale", &Field::get_NumericScale)
        .get("Value", &Field::get_Value)
        .as_default()
        .put("Value", &Field::put_Value, {"RHS"});
    return t;
  }();
  return info;
}

FieldImpl::FieldImpl(Ref<Recordset> owner, std::size_t index) : owner_(std::move(owner)), index_(index) {}

FieldImpl::~FieldImpl() {
  if (owner_) owner_->forget(index_, this);
}

void FieldImpl::detach() { owner_.reset(); }

Recordset& FieldImpl::owner() {
  if (!owner_) raise(kObjectClosed, kClosedText);
  return *owner_;
}

const FieldDef& FieldImpl::def() { return owner().def(index_); }
Variant FieldImpl::get_Value() { return owner().value(index_); }
void FieldImpl::put_Value(Variant value) { owner().put_value(index_, value); }

// ---- Fields ----

const TypeInfo& FieldsImpl::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<Fields>("Fields", Fields::IID, Instancing::Internal, 0);
    t.library = "ADODB";
    Describe<Fields>(t)
        .get("Count", &Fields::get_Count)
        .get("Item", &Fields::get_Item, {"Index"})
        .as_default()
        .method("Append", &Fields::Append, {"Name", "Type", opt("DefinedSize", 0), opt("Attrib", 0)});
    return t;
  }();
  return info;
}

FieldsImpl::FieldsImpl(Ref<Recordset> owner) : owner_(std::move(owner)) {}

FieldsImpl::~FieldsImpl() { owner_->forget(this); }

std::int32_t FieldsImpl::get_Count() { return static_cast<std::int32_t>(owner_->field_count()); }

Ref<Field> FieldsImpl::get_Item(Variant Index) {
  Recordset& rs = *owner_;
  if (Index.is_string()) return rs.field(rs.index_of(*Index.get_if<std::string>()));
  const std::int32_t i = Index.to_i32();
  if (i < 0 || static_cast<std::size_t>(i) >= rs.field_count())
    raise(kItemNotFound,
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  return rs.field(static_cast<std::size_t>(i));
}

void FieldsImpl::Append(std::string Name, std::int32_t Type, std::int32_t DefinedSize, std::int32_t Attrib) {
  owner_->append_field(std::move(Name), Type, DefinedSize, Attrib);
}

// ---- Recordset ----

const TypeInfo& Recordset::type_info() {
  static const TypeInfo info = [] {
    TypeInfo t = class_info<_Recordset>("Recordset", _Recordset::IID, Instancing::Internal, 0);
    t.library = "ADODB";
    Describe<_Recordset>(t)
        .get("CursorLocation", &_Recordset::get_CursorLocation)
        .put("CursorLocation", &_Recordset::put_CursorLocation, {"RHS"})
        .get("CursorType", &_Recordset::get_CursorType)
        .put("CursorType", &_Recordset::put_CursorType, {"RHS"})
        .get("LockType", &_Recordset::get_LockType)
        .put("LockType", &_Recordset::put_LockType, {"RHS"})
        .get("MaxRecords", &_Recordset::get_MaxRecords)
        .put("MaxRecords", &_Recordset::put_MaxRecords, {"RHS"})
        .get("ActiveConnection", &_Recordset::get_ActiveConnection)
        .put("ActiveConnection", &_Recordset::put_ActiveConnection, {"RHS"})
        .method("Open", &_Recordset::Open,
                {opt("Source", Variant()), opt("ActiveConnection", Variant()), opt("CursorType", -1),
                 opt("LockType", -1), opt("Options", -1)})
        .method("Close", &_Recordset::Close)
        .get("State", &_Recordset::get_State)
        .get("Source", &_Recordset::get_Source)
        .get("BOF", &_Recordset::get_BOF)
        .get("EOF", &_Recordset::get_EOF)
        .method("MoveFirst", &_Recordset::MoveFirst)
        .method("MoveNext", &_Recordset::MoveNext)
        .method("MovePrevious", &_Recordset::MovePrevious)
        .method("MoveLast", &_Recordset::MoveLast)
        .get("RecordCount", &_Recordset::get_RecordCount)
        .method("AddNew", &_Recordset::AddNew)
        .method("Update", &_Recordset::Update)
        .method("CancelUpdate", &_Recordset::CancelUpdate)
        .get("Fields", &_Recordset::get_Fields)
        .as_default();
    return t;
  }();
  return info;
}

Ref<Fields> Recordset::get_Fields() {
  if (fields_ != nullptr) return Ref<Fields>(fields_);
  Ref<FieldsImpl> made = make_object<FieldsImpl>(Ref<Recordset>(this));
  fields_ = made.get();
  return made;
}

Ref<Field> Recordset::field(std::size_t index) {
  if (FieldImpl* alive = field_objects_.at(index)) return Ref<Field>(alive);
  Ref<FieldImpl> made = make_object<FieldImpl>(Ref<Recordset>(this), index);
  field_objects_[index] = made.get();
  return made;
}

void Recordset::forget(const FieldsImpl* fields) {
  if (fields_ == fields) fields_ = nullptr;
}

void Recordset::forget(std::size_t index, const FieldImpl* field) {
  if (index < field_objects_.size() && field_objects_[index] == field) field_objects_[index] = nullptr;
}

void Recordset::require_open() const {
  if (!open_) raise(kObjectClosed, kClosedText);
}

void Recordset::require_closed() const {
  if (open_) raise(kObjectOpen, kOpenText);
}

void Recordset::put_CursorLocation(std::int32_t value) {
  require_closed();
  if (value != adUseServer && value != adUseClient)
    raise(kBadArguments, "CursorLocation must be 2 (server) or 3 (client).");
  cursor_location_ = value;
}

void Recordset::put_CursorType(std::int32_t value) {
  require_closed();
  if (value < adOpenForwardOnly || value > adOpenStatic)
    raise(kBadArguments, "CursorType must be 0, 1, 2 or 3.");
  cursor_type_ = value;
}

void Recordset::put_LockType(std::int32_t value) {
  require_closed();
  // 4 (batch optimistic) writes row by row here, as optimistic does.
  if (value < adLockReadOnly || value > 4) raise(kBadArguments, "LockType must be 1, 2, 3 or 4.");
  lock_type_ = value;
}

void Recordset::put_MaxRecords(std::int32_t value) {
  require_closed();
  if (value < 0) raise(kBadArguments, "MaxRecords must not be negative.");
  max_records_ = value;
}

void Recordset::put_ActiveConnection(Ref<_Connection> value) {
  // An open in-memory recordset may let go of its connection (a disconnected recordset).
  if (open_ && (value || streaming())) raise(kObjectOpen, kOpenText);
  if (!value) {
    connection_.reset();
    return;
  }
  auto* ours = dynamic_cast<Connection*>(value.get());
  if (ours == nullptr) raise(kBadArguments, "ActiveConnection must be a connection of this library.");
  connection_ = Ref<Connection>(ours);
}

void Recordset::set_fields(std::vector<FieldDef> defs) {
  // Every caller holds this recordset, so the references the fields let go of are never its last.
  std::vector<FieldImpl*> alive = std::exchange(field_objects_, {});
  for (FieldImpl* f : alive)
    if (f != nullptr) f->detach();
  defs_ = std::move(defs);
  field_objects_.assign(defs_.size(), nullptr);
}

void Recordset::reset_rows() {
  columns_.clear();
  stream_.reset();
  stream_row_ = false;
  moved_ = false;
  streamed_ = 0;
  position_ = 0;
  edit_ = Edit::kNone;
  buffer_.clear();
  changed_.clear();
  table_.clear();
}

std::size_t Recordset::index_of(std::string_view name) const {
  for (std::size_t i = 0; i < defs_.size(); ++i)
    if (equals_ignore_case(defs_[i].name, name)) return i;
  raise(kItemNotFound,
        "Item cannot be found in the collection corresponding to the requested name or ordinal: " +
            std::string(name) + ".");
}

void Recordset::append_field(std::string name, std::int32_t type, std::int32_t defined_size,
                             std::int32_t attributes) {
  require_closed();
  if (from_database_) {
    // The fields of a closed query are gone; appending starts an in-memory recordset.
    set_fields({});
    from_database_ = false;
  }
  if (name.empty()) raise(kBadArguments, "A field needs a name.");
  if (!known_field_type(type))
    raise(kBadArguments, "Field type " + std::to_string(type) + " is not supported.");
  if (defined_size < 0) raise(kBadArguments, "DefinedSize must not be negative.");
  for (const auto& d : defs_)
    if (equals_ignore_case(d.name, name))
      raise(3367, "Object is already in collection. Cannot append: " + name + ".");
  defs_.push_back(appended_field(std::move(name), type, defined_size, attributes));
  field_objects_.push_back(nullptr);
}

void Recordset::Open(Variant Source, Variant ActiveConnection, std::int32_t CursorType, std::int32_t LockType,
                     std::int32_t Options) {
  require_closed();
  if (CursorType != adOpenUnspecified) put_CursorType(CursorType);
  if (LockType != adLockUnspecified) put_LockType(LockType);
  if (ActiveConnection.is_string()) {
    // A connection string: the recordset opens a connection of its own.
    Ref<Connection> own = make_object<Connection>();
    own->Open(ActiveConnection.to_string(), "", "", -1);
    connection_ = own;
  } else if (ActiveConnection.is_object()) {
    put_ActiveConnection(query<_Connection>(ActiveConnection.to_object().get()));
  } else if (!ActiveConnection.is_empty() && !ActiveConnection.is_null()) {
    raise(kBadArguments, "ActiveConnection must be a connection or a connection string.");
  }
  if (cursor_location_ == adUseClient && cursor_type_ == adOpenForwardOnly) cursor_type_ = adOpenStatic;

  const std::string source = Source.is_empty() || Source.is_null() ? std::string() : Source.to_string();
  reset_rows();
  if (source.empty()) {
    if (from_database_ || defs_.empty())
      raise(kBadArguments, "A recordset without a source needs fields: append them before Open.");
    columns_.assign(defs_.size(), ColumnStore());
    source_.clear();
    open_ = true;
    return;
  }
  if (!connection_) raise(kConnectionUnusable, kConnectionUnusableText);
  open_from_connection(source, Options);
}

void Recordset::open_from_connection(const std::string& source, std::int32_t options) {
  Ref<Connection> keep = connection_;  // a listener may drop our reference
  Connection& c = *keep;
  c.clear_errors();
  c.usable_driver();
  const Ref<_Recordset> me = self();
  const bool updatable = lock_type_ != adLockReadOnly;
  c.will_execute(source, cursor_type_, lock_type_, options, me);
  Driver& driver = c.usable_driver();
  ExecuteResult result;
  try {
    result = driver.execute(source, {}, ExecuteOptions{c.command_timeout(), updatable});
    if (result.cursor) {
      std::vector<FieldDef> defs;
      for (const auto& column : result.cursor->columns()) defs.push_back(field_from_column(column, false));
      set_fields(std::move(defs));
      from_database_ = true;
      source_ = source;
      if (updatable) {
        std::string table;
        bool one = true;
        for (const auto& d : defs_) {
          if (d.base_table.empty()) continue;
          if (table.empty())
            table = d.base_table;
          else if (d.base_table != table)
            one = false;
        }
        if (one) table_ = table;
        for (auto& d : defs_)
          if (!table_.empty() && d.base_table == table_ && !d.base_column.empty())
            d.attributes |= adFldUpdatable;
      }
      if (cursor_type_ == adOpenForwardOnly && !updatable) {
        stream_ = std::move(result.cursor);
        fetch_next();
      } else {
        load(*result.cursor);
        result.cursor->close();
      }
      open_ = true;
    }
  } catch (const DriverError& e) {
    reset_rows();
    set_fields({});
    open_ = false;
    c.fail_execute(e, me);
  }
  c.report_info(result.info);
  c.execute_complete(result.rows_affected, me);
}

void Recordset::open_stream(Ref<Connection> connection, std::string source, std::unique_ptr<Cursor> cursor) {
  connection_ = std::move(connection);
  std::vector<FieldDef> defs;
  for (const auto& column : cursor->columns()) defs.push_back(field_from_column(column, false));
  set_fields(std::move(defs));
  reset_rows();
  from_database_ = true;
  source_ = std::move(source);
  stream_ = std::move(cursor);
  fetch_next();
  open_ = true;
}

void Recordset::load(Cursor& cursor) {
  columns_.assign(defs_.size(), ColumnStore());
  const std::size_t limit = max_records_ > 0 ? static_cast<std::size_t>(max_records_) : SIZE_MAX;
  std::size_t rows = 0;
  const std::size_t n = columns_.size();
  while (rows < limit && cursor.fetch()) {
    const auto& row = cursor.row();
    for (std::size_t i = 0; i < n; ++i) columns_[i].push(row[i]);
    ++rows;
  }
  position_ = 0;
}

void Recordset::fetch_next() {
  if (max_records_ > 0 && streamed_ >= static_cast<std::size_t>(max_records_)) {
    stream_row_ = false;
    stream_->close();
    return;
  }
  stream_row_ = stream_->fetch();
  if (stream_row_) ++streamed_;
}

void Recordset::Close() {
  require_open();
  if (edit_ != Edit::kNone)
    raise(kNotAllowedInContext,
          "The current row has unsaved changes: call Update or CancelUpdate before Close.");
  reset_rows();
  if (from_database_) set_fields({});
  open_ = false;
}

bool Recordset::has_current_row() const {
  if (streaming()) return stream_row_;
  return position_ >= 0 && static_cast<std::size_t>(position_) < row_count();
}

bool Recordset::get_BOF() {
  require_open();
  if (edit_ == Edit::kAdd) return false;
  if (streaming()) return !moved_ && !stream_row_;
  return row_count() == 0 || position_ < 0;
}

bool Recordset::get_EOF() {
  require_open();
  if (edit_ == Edit::kAdd) return false;
  if (streaming()) return !stream_row_;
  return row_count() == 0 || static_cast<std::size_t>(position_) >= row_count();
}

void Recordset::save_pending() {
  if (edit_ != Edit::kNone) Update();
}

void Recordset::MoveFirst() {
  require_open();
  save_pending();
  if (streaming()) {
    if (moved_) run_again();
    return;
  }
  moved_ = false;
  position_ = 0;
}

void Recordset::run_again() {
  Ref<Connection> keep = connection_;  // a listener may drop our reference
  if (!keep) raise(kConnectionUnusable, kConnectionUnusableText);
  Connection& c = *keep;
  c.clear_errors();
  c.usable_driver();
  const Ref<_Recordset> me = self();
  // The old statement goes first: a server may serve one active statement per connection.
  stream_->close();
  stream_row_ = false;
  c.will_execute(source_, cursor_type_, lock_type_, adOptionUnspecified, me);
  Driver& driver = c.usable_driver();
  ExecuteResult result;
  try {
    result = driver.execute(source_, {}, ExecuteOptions{c.command_timeout(), false});
    if (!result.cursor)
      throw DriverError("24000", 0, "The recordset's source returned no rows when run again.");
    std::vector<FieldDef> defs;
    for (const auto& column : result.cursor->columns()) defs.push_back(field_from_column(column, false));
    const bool same =
        defs.size() == defs_.size() &&
        std::equal(defs.begin(), defs.end(), defs_.begin(), [](const FieldDef& a, const FieldDef& b) {
          return a.name == b.name && a.type == b.type && a.defined_size == b.defined_size;
        });
    // Field objects that clients hold stay valid unless the query now returns other columns.
    if (!same) set_fields(std::move(defs));
    stream_ = std::move(result.cursor);
    moved_ = false;
    streamed_ = 0;
    fetch_next();
  } catch (const DriverError& e) {
    stream_row_ = false;
    c.fail_execute(e, me);
  }
  c.report_info(result.info);
  c.execute_complete(result.rows_affected, me);
}

void Recordset::MoveNext() {
  require_open();
  save_pending();
  if (!has_current_row() && (streaming() || position_ >= 0)) raise(kNoCurrentRecord, kNoCurrentText);
  moved_ = true;
  if (streaming()) {
    try {
      fetch_next();
    } catch (const DriverError& e) {
      stream_row_ = false;
      if (connection_) connection_->fail(e);
      throw;
    }
    return;
  }
  ++position_;
}

void Recordset::MovePrevious() {
  require_open();
  if (cursor_type_ == adOpenForwardOnly) raise(kCannotFetchBackward, kBackwardText);
  save_pending();
  if (position_ < 0) raise(kNoCurrentRecord, kNoCurrentText);
  --position_;
}

void Recordset::MoveLast() {
  require_open();
  if (cursor_type_ == adOpenForwardOnly) raise(kCannotFetchBackward, kBackwardText);
  save_pending();
  position_ = row_count() == 0 ? 0 : static_cast<std::ptrdiff_t>(row_count()) - 1;
}

std::int32_t Recordset::get_RecordCount() {
  require_open();
  if (cursor_type_ == adOpenForwardOnly) return -1;
  return static_cast<std::int32_t>(std::min<std::size_t>(row_count(), INT32_MAX));
}

void Recordset::require_updatable() const {
  if (lock_type_ == adLockReadOnly || streaming()) raise(kReadOnlyRecordset, kReadOnlyText);
  if (from_database_ && table_.empty())
    raise(kReadOnlyRecordset,
          "The recordset cannot be updated: its fields do not come from exactly one table of the database.");
}

Variant Recordset::value(std::size_t index) {
  require_open();
  const FieldDef& d = defs_.at(index);
  if (edit_ != Edit::kNone) {
    if (changed_[index]) return to_variant(buffer_[index], d.type);
    if (edit_ == Edit::kAdd) return Variant(ovik::Null{});
  }
  if (!has_current_row()) raise(kNoCurrentRecord, kNoCurrentText);
  if (streaming()) {
    // Closing the connection ends its cursors, and a cursor let go holds no row.
    const std::vector<Value>& row = stream_->row();
    if (!connection_ || index >= row.size())
      raise(kConnectionUnusable,
            "The connection of this forward-only recordset was closed: its rows are gone.");
    return to_variant(row[index], d.type);
  }
  return columns_[index].variant(static_cast<std::size_t>(position_), d.type);
}

void Recordset::put_value(std::size_t index, const Variant& value) {
  require_open();
  require_updatable();
  const FieldDef& d = defs_.at(index);
  if (from_database_ && (d.attributes & adFldUpdatable) == 0)
    raise(kMultipleStepError,
          "Field " + d.name + " cannot be updated: it is not a column of table " + table_ + ".");
  if (edit_ == Edit::kNone && !has_current_row()) raise(kNoCurrentRecord, kNoCurrentText);
  Value converted = from_variant(value, d);  // raises before the row enters editing
  if (edit_ == Edit::kNone) {
    edit_ = Edit::kChange;
    buffer_.assign(defs_.size(), Value{});
    changed_.assign(defs_.size(), false);
  }
  buffer_[index] = std::move(converted);
  changed_[index] = true;
}

void Recordset::AddNew() {
  require_open();
  require_updatable();
  save_pending();
  edit_ = Edit::kAdd;
  buffer_.assign(defs_.size(), Value{});
  changed_.assign(defs_.size(), false);
  position_before_add_ = position_;
}

void Recordset::CancelUpdate() {
  require_open();
  if (edit_ == Edit::kAdd) position_ = position_before_add_;
  edit_ = Edit::kNone;
  buffer_.clear();
  changed_.clear();
}

void Recordset::Update() {
  require_open();
  if (edit_ == Edit::kNone) return;
  if (from_database_) write_back();
  if (edit_ == Edit::kAdd) {
    for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i].push(changed_[i] ? buffer_[i] : Value{});
    position_ = static_cast<std::ptrdiff_t>(row_count()) - 1;
  } else {
    for (std::size_t i = 0; i < columns_.size(); ++i)
      if (changed_[i]) columns_[i].set(static_cast<std::size_t>(position_), buffer_[i]);
  }
  edit_ = Edit::kNone;
  buffer_.clear();
  changed_.clear();
}

std::string Recordset::quoted_table(char quote) const { return quote_identifier(table_, quote); }

void Recordset::write_back() {
  Ref<Connection> keep = connection_;
  if (!keep) raise(kConnectionUnusable, kConnectionUnusableText);
  Connection& c = *keep;
  c.clear_errors();
  Driver& driver = c.usable_driver();
  const char quote = identifier_quote(driver);
  std::string sql, key_check;
  std::vector<Value> parameters;
  std::size_t key_count = 0;
  if (edit_ == Edit::kAdd) {
    std::string names, markers;
    for (std::size_t i = 0; i < defs_.size(); ++i) {
      if (!changed_[i]) continue;
      names += (names.empty() ? "" : ", ") + quote_identifier(defs_[i].base_column, quote);
      markers += markers.empty() ? "?" : ", ?";
      parameters.push_back(buffer_[i]);
    }
    // MySQL and MariaDB spell a row of defaults "() VALUES ()".
    sql = names.empty()
              ? "INSERT INTO " + quoted_table(quote) + (quote == '`' ? " () VALUES ()" : " DEFAULT VALUES")
              : "INSERT INTO " + quoted_table(quote) + " (" + names + ") VALUES (" + markers + ")";
  } else {
    std::string assignments, condition;
    for (std::size_t i = 0; i < defs_.size(); ++i) {
      if (!changed_[i]) continue;
      assignments +=
          (assignments.empty() ? "" : ", ") + quote_identifier(defs_[i].base_column, quote) + " = ?";
      parameters.push_back(buffer_[i]);
    }
    if (assignments.empty()) return;
    for (std::size_t i = 0; i < defs_.size(); ++i) {
      const FieldDef& d = defs_[i];
      if (!d.key || d.base_table != table_) continue;
      Value key = columns_[i].get(static_cast<std::size_t>(position_));
      if (is_null(key))
        c.fail(kReadOnlyRecordset,
               "The row cannot be updated: its key field " + d.name +
                   " is not known (a row added through this recordset has no key value yet).");
      condition += (condition.empty() ? "" : " AND ") + quote_identifier(d.base_column, quote) + " = ?";
      parameters.push_back(std::move(key));
      ++key_count;
    }
    if (condition.empty())
      c.fail(kReadOnlyRecordset, "The row cannot be updated: the recordset has no key field of table " +
                                     table_ + " (select its primary key, or the rowid).");
    sql = "UPDATE " + quoted_table(quote) + " SET " + assignments + " WHERE " + condition;
    key_check = "SELECT 1 FROM " + quoted_table(quote) + " WHERE " + condition;
  }
  try {
    ExecuteResult result = driver.execute(sql, parameters, ExecuteOptions{c.command_timeout(), false});
    // MySQL and MariaDB count the rows an update changed, not those it found: a row written back
    // with the values it holds counts 0 there, so whether the row is still there is asked.
    if (edit_ == Edit::kChange && result.rows_affected == 0 && quote == '`') {
      const std::span<const Value> key(parameters.end() - static_cast<std::ptrdiff_t>(key_count),
                                       parameters.end());
      ExecuteResult found = driver.execute(key_check, key, ExecuteOptions{c.command_timeout(), false});
      if (found.cursor && found.cursor->fetch()) result.rows_affected = 1;
    }
    if (edit_ == Edit::kChange && result.rows_affected == 0)
      c.fail_as_provider(
          kRowNotFound,
          "Row cannot be located for updating. Some values may have been changed since it was last read.");
    c.report_info(result.info);
  } catch (const DriverError& e) {
    c.fail(e);
  }
}

}  // namespace ovik::access

// The insert workload that the RecordToDatabase benchmark and its peers share: a recordset of
// integer, text (with an apostrophe) and timestamp rows, the table it goes into, and a listener that
// captures the statement texts RecordToDatabase sends, so a floor can execute exactly those.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ovik/component.h"
#include "ovik/data_access.h"

namespace ovik::bench {

inline constexpr char kInsertTable[] = "create table T (CD integer, NM varchar(40), DT timestamp)";

inline std::string insert_name(int i) { return "item " + std::to_string(i) + " O'Neil"; }
inline double insert_day(int i) { return 45000.0 + i % 1000 + (i % 86400) / 86400.0; }

inline Ref<_Recordset> rows_to_insert(int rows) {
  Ref<_Recordset> rs = new_recordset();
  Ref<Fields> fields = rs->get_Fields();
  fields->Append("CD", ado::adInteger, 4, 0);
  fields->Append("NM", ado::adVarWChar, 40, 0);
  fields->Append("DT", ado::adDBTimeStamp, 16, 0);
  rs->put_CursorLocation(ado::adUseClient);
  rs->Open(Variant(), Variant(), ado::adOpenStatic, ado::adLockOptimistic, -1);
  Ref<Field> cd = fields->get_Item(Variant(std::int32_t{0}));
  Ref<Field> nm = fields->get_Item(Variant(std::int32_t{1}));
  Ref<Field> dt = fields->get_Item(Variant(std::int32_t{2}));
  for (int i = 0; i < rows; ++i) {
    rs->AddNew();
    cd->put_Value(Variant(std::int32_t{i}));
    nm->put_Value(Variant(insert_name(i)));
    dt->put_Value(Variant(DateTime{insert_day(i)}));
    rs->Update();
  }
  return rs;
}

// The texts of the statements a connection is about to execute, in order.
class StatementCapture final : public Listener<StatementCapture, ConnectionEvents> {
 public:
  ~StatementCapture() override = default;
  std::vector<std::string> texts;
  void WillExecute(const std::string& Source, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                   const Ref<_Recordset>&, const Ref<_Connection>&) override {
    texts.push_back(Source);
  }
  void InfoMessage(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void BeginTransComplete(std::int32_t, const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void CommitTransComplete(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void RollbackTransComplete(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void ExecuteComplete(std::int32_t, const Ref<Error>&, std::int32_t, const Ref<_Recordset>&,
                       const Ref<_Connection>&) override {}
  void WillConnect(const std::string&, const std::string&, const std::string&, std::int32_t, std::int32_t,
                   const Ref<_Connection>&) override {}
  void ConnectComplete(const Ref<Error>&, std::int32_t, const Ref<_Connection>&) override {}
  void Disconnect(std::int32_t, const Ref<_Connection>&) override {}
};

}  // namespace ovik::bench

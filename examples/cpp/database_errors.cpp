// Listening to a database's RaiseDatabaseError: every connection event that carries an error
// reaches the listener inside the failing call, before the call raises its error to the caller.
// The environment object listens too and writes such events to the application log.
//
// Run it through examples/run-example.sh, which prepares an application folder for the library.
#include <cstdio>
#include <string>

#include "ovik/component.h"
#include "ovik/data_access.h"
#include "ovik/events.h"
#include "ovik/object.h"
#include "ovik/system_info.h"

namespace {

// An early-bound listener: an object offering the outgoing interface __clsDatabase.
class ErrorListener final : public ovik::Listener<ErrorListener, ovik::__clsDatabase> {
 public:
  void RaiseDatabaseError(const std::string& strDbName, const std::string& strErrorString) override {
    ++heard;
    // The text is the event's label and each error's description, each line ended by CR LF.
    std::string text;
    for (char c : strErrorString)
      if (c != '\r') text += c;
    std::printf("RaiseDatabaseError from database \"%s\":\n%s", strDbName.c_str(), text.c_str());
  }
  int heard = 0;
};

}  // namespace

int main() {
  try {
    auto si = ovik::create<ovik::_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
    si->OpenDatabase();
    auto db = si->get_Database();
    if (!db) {
      std::printf("the application database did not open\n");
      return 1;
    }

    auto listener = ovik::make_object<ErrorListener>();
    auto container = db.as<ovik::IConnectionPointContainer>();
    const std::uint32_t cookie = container->Advise(ovik::__clsDatabase::IID, listener.get());

    int raised = 0;
    try {
      db->get_Connection()->Execute("select * from no_such_table");
    } catch (const ovik::RaisedError& e) {
      ++raised;
      std::printf("Execute raised %d: %s\n", e.number(), e.description().c_str());
      // The provider's diagnostics stay in the connection's Errors until the next failure.
      auto errors = db->get_Connection()->get_Errors();
      for (std::int32_t i = 0; i < errors->get_Count(); ++i)
        std::printf("Errors(%d): SQLState %s\n", i, errors->get_Item(i)->get_SQLState().c_str());
    }
    container->Unadvise(cookie);

    // The environment object's own listener logged the event as an exception log entry.
    auto rs = db->OpenForwardOnlyRecordset("select count(*) from wkLog where Comment like 'database error%'");
    std::printf("wkLog entries about database errors: %s\n",
                rs->get_Fields()->get_Item(0)->get_Value().to_string().c_str());
    rs->Close();
    si->CloseDatabase();
    return raised == 1 && listener->heard == 1 ? 0 : 1;
  } catch (const ovik::RaisedError& e) {
    std::printf("error %d (%s): %s\n", e.number(), e.source().c_str(), e.description().c_str());
    return 1;
  }
}

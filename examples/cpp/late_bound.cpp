// The library from C++ by names only, as a script host reaches it: objects created by programmatic
// name and called through IDispatch (GetIDOfName, then Invoke with Variant arguments), by-reference
// outputs written back into the argument slots, the error triple, and events to a late-bound
// listener that learns their names from the type information.
//
// Run it through examples/run-example.sh, which prepares an application folder for the library.
#include <cstdio>
#include <string>
#include <vector>

#include "ovik/component.h"
#include "ovik/events.h"
#include "ovik/type_info.h"
#include "ovik/variant.h"

namespace {

// One member by name. A name the object does not know is raised as the runtime does (438).
ovik::Variant invoke(const ovik::Ref<ovik::IDispatch>& object, const char* name, ovik::InvokeKind kind,
                     std::vector<ovik::Variant>& args) {
  const std::int32_t dispid = object->GetIDOfName(name);
  if (dispid == ovik::kDispidUnknown)
    throw ovik::RaisedError(438, object->GetTypeInfo().class_name, std::string("no member named ") + name);
  return object->Invoke(dispid, kind, args);
}

ovik::Variant invoke(const ovik::Ref<ovik::IDispatch>& object, const char* name, ovik::InvokeKind kind,
                     std::vector<ovik::Variant>&& args = {}) {
  return invoke(object, name, kind, args);
}

}  // namespace

int main() {
  using ovik::InvokeKind;
  using ovik::Variant;
  try {
    ovik::Ref<ovik::IDispatch> si = ovik::create_object("OvikEnvironment.clsSystemInfo");
    std::printf("settings folder: %s\n", invoke(si, "GetIniDir", InvokeKind::Method).to_string().c_str());

    // A property with a parameter hands out an object; a method on it reads one setting.
    ovik::Ref<ovik::IDispatch> settings = invoke(si, "IniFiles", InvokeKind::PropertyGet, {0}).to_object();
    std::printf("provider: %s\n",
                invoke(settings, "GetIni", InvokeKind::Method, {"database", "provider"}).to_string().c_str());

    // By-reference parameters: their slots hold the outputs after the call.
    std::vector<Variant> files{"", "", ""};
    const bool found = invoke(si, "funPosInfoImport", InvokeKind::Method, files).to_bool();
    std::printf("POS import (%s): %s, %s, %s\n", found ? "found" : "not found", files[0].to_string().c_str(),
                files[1].to_string().c_str(), files[2].to_string().c_str());

    // A failing member raises its triple: 60000 for a setting that is not there.
    try {
      invoke(settings, "GetIni", InvokeKind::Method, {"database", "no_such_key"});
      std::printf("a missing setting was found\n");
      return 1;
    } catch (const ovik::RaisedError& e) {
      std::printf("error %d from %s: %s\n", e.number(), e.source().c_str(), e.description().c_str());
    }

    // Properties of another class, names in any case.
    ovik::Ref<ovik::IDispatch> messages = ovik::create_object("OvikEnvironment.clsMessageString");
    std::printf("MsgDataNo: %s\n",
                invoke(messages, "msgdatano", InvokeKind::PropertyGet).to_string().c_str());

    // Events by dispatch id; their names come from the object's type information.
    ovik::Ref<ovik::IDispatch> waiter = ovik::create_object("OvikEnvironment.clsWaitNDispatch");
    const ovik::TypeInfo& info = waiter->GetTypeInfo();
    std::vector<std::string> events;
    auto listener = ovik::CallbackListener::make([&](std::int32_t dispid, std::span<Variant>) {
      for (const ovik::EventInfo& e : info.events->events)
        if (e.dispid == dispid) events.push_back(e.name);
    });
    auto container = waiter.as<ovik::IConnectionPointContainer>();
    const std::uint32_t cookie = container->Advise(info.events->iid, listener.get());
    invoke(waiter, "Wait", InvokeKind::Method, {10});
    container->Unadvise(cookie);
    std::printf("events:");
    for (const std::string& e : events) std::printf(" %s", e.c_str());
    std::printf("\n");
    return found && events == std::vector<std::string>{"OnTimer"} ? 0 : 1;
  } catch (const ovik::RaisedError& e) {
    std::printf("error %d (%s): %s\n", e.number(), e.source().c_str(), e.description().c_str());
    return 1;
  }
}

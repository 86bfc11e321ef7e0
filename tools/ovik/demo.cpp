// `ovik demo`: walks what a client program does with the library, on the application folder the
// library lies in (bin/ beside ini/), and says what it touched.
#include <ctime>
#include <ostream>

#include "commands.h"
#include "ovik/component.h"
#include "ovik/environment.h"
#include "ovik/error.h"
#include "ovik/ui.h"
#include "platform/module_info.h"

namespace ovik::host {

namespace {

std::string read_setting(const Ref<_clsIniFile>& ini, std::string section, std::string key) {
  try {
    return ini->GetIni(section, key);
  } catch (const RaisedError& e) {
    return "(error " + std::to_string(e.number()) + ": " + e.description() + ")";
  }
}

}  // namespace

int run_demo(const std::vector<std::string>&, std::ostream& out, std::ostream& err) {
  try {
    const platform::ModuleInfo module = platform::Facility<platform::ModulePath>::get().module();
    const TypeLibraryHeader& lib = type_library_header();
    out << "== " << module.base_name << " " << lib.file_version << " in " << module.folder << "\n";

    out << "\n== Settings (clsIniFile, created as OvikEnvironment.clsIniFile)\n";
    Ref<_clsIniFile> ini = create<_clsIniFile>("OvikEnvironment.clsIniFile");
    ini->put_Path(module.folder);
    ini->put_FileName("../ini/Brindlemark.ini");
    const char* keys[] = {"provider", "server", "database_user", "database_name", "transaction_log"};
    for (const char* key : keys) out << "  [database] " << key << " = " << read_setting(ini, "database", key) << "\n";
    out << "  file: " << ini->get_Path() << ini->get_FileName() << "\n";

    std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", std::localtime(&now));
    std::string section = "demo", key = "last_run", value = stamp;
    std::string written = ini->PutIni(section, key, value);
    out << "  PutIni [demo] last_run=" << value << " -> " << written << "; read back: " << read_setting(ini, "demo", "last_run")
        << "\n";

    out << "\n== Connection string (clsConnectString) from section [database]\n";
    Ref<_clsConnectString> cs = create<_clsConnectString>("OvikEnvironment.clsConnectString");
    try {
      (void)cs->GetValue();
    } catch (const RaisedError& e) {
      out << "  before any setter: error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    }
    cs->SetProvider(read_setting(ini, "database", "provider"));
    cs->SetServer(read_setting(ini, "database", "server"));
    cs->SetUser(read_setting(ini, "database", "database_user"));
    cs->SetPassword("********");  // the demo never prints a real password
    cs->SetInitialDatabase(read_setting(ini, "database", "database_name"));
    out << "  " << cs->GetValue() << "\n";

    out << "\n== Message texts (clsMessageString, read late-bound by name)\n";
    Ref<IDispatch> messages = create_object("OvikEnvironment.clsMessageString");
    for (const char* name : {"MsgAtRegistStart", "MsgDeleteQuestion", "MsgCommitEosNo", "MsgIsMasterNotFound"}) {
      std::string text = messages->Invoke(messages->GetIDOfName(name), InvokeKind::PropertyGet, {}).to_string();
      for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " / ");
      out << "  " << name << ": " << text << "\n";
    }
    return 0;
  } catch (const RaisedError& e) {
    err << "demo failed: error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
    return 1;
  }
}

}  // namespace ovik::host

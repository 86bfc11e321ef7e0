#include "demo_ui.h"

#include <glib.h>

#include <ostream>
#include <string>

#include "ovik/client_info.h"
#include "ovik/component.h"
#include "ovik/error.h"
#include "ovik/events.h"
#include "ovik/object.h"
#include "ovik/waiting.h"

namespace ovik::host {

namespace {

// What the demo's GLib timer and the OnTimer listener share for one wait.
struct DemoWait {
  std::ostream* out = nullptr;
  Ref<_clsWaitNDispatch> wait;
  std::int64_t started_us = 0;
  int ticks = 0;
};

std::string elapsed_ms(const DemoWait& d) {
  char text[32];
  g_snprintf(text, sizeof text, "%.1f ms",
             static_cast<double>(g_get_monotonic_time() - d.started_us) / 1000.0);
  return text;
}

// Ticks every 50 ms, so the output shows the event loop being served during the wait; the fourth
// tick (about 200 ms in) cancels it.
gboolean on_tick(gpointer data) {
  auto* d = static_cast<DemoWait*>(data);
  ++d->ticks;
  *d->out << "  timer tick " << d->ticks << " at " << elapsed_ms(*d)
          << ", IsWaiting = " << (d->wait->get_IsWaiting() ? "True" : "False") << "\n";
  if (d->ticks < 4) return G_SOURCE_CONTINUE;
  *d->out << "  the timer calls Cancel\n";
  d->wait->Cancel();
  return G_SOURCE_REMOVE;
}

class OnTimerPrinter final : public Listener<OnTimerPrinter, __clsWaitNDispatch> {
 public:
  explicit OnTimerPrinter(DemoWait& demo) : demo_(demo) {}
  void OnTimer() override {
    *demo_.out << "  OnTimer raised at " << elapsed_ms(demo_)
               << ", IsWaiting = " << (demo_.wait->get_IsWaiting() ? "True" : "False") << "\n";
  }

 private:
  DemoWait& demo_;
};

void show_client_info(std::ostream& out) {
  out << "\n== Terminal client information (clsMetaClientInfo)\n";
  try {
    Ref<_clsMetaClientInfo> info = create<_clsMetaClientInfo>("OvikEnvironment.clsMetaClientInfo");
    out << "  ServerName:    " << info->get_ServerName() << "\n"
        << "  ClientName:    " << info->get_ClientName() << "\n"
        << "  HostIpAddress: " << info->get_HostIpAddress() << "\n";
  } catch (const RaisedError& e) {
    out << "  not available: error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
  }
}

void show_wait(std::ostream& out) {
  out << "\n== Wait with the event loop running (clsWaitNDispatch): Wait 2000, cancelled by a timer\n";
  DemoWait demo;
  demo.out = &out;
  GMainContext* context = g_main_context_ref_thread_default();
  GSource* timer = g_timeout_source_new(50);
  try {
    demo.wait = create<_clsWaitNDispatch>("OvikEnvironment.clsWaitNDispatch");
    Ref<IConnectionPointContainer> events = demo.wait.as<IConnectionPointContainer>();
    Ref<OnTimerPrinter> printer = make_object<OnTimerPrinter>(demo);
    const std::uint32_t cookie = events->Advise(__clsWaitNDispatch::IID, printer.get());

    g_source_set_callback(timer, on_tick, &demo, nullptr);
    g_source_attach(timer, context);
    demo.started_us = g_get_monotonic_time();
    demo.wait->Wait(2000);
    out << "  Wait returned after " << elapsed_ms(demo)
        << "; IsWaiting = " << (demo.wait->get_IsWaiting() ? "True" : "False") << "\n";
    events->Unadvise(cookie);
  } catch (const RaisedError& e) {
    out << "  failed: error " << e.number() << " (" << e.source() << "): " << e.description() << "\n";
  }
  g_source_destroy(timer);
  g_source_unref(timer);
  g_main_context_unref(context);
}

}  // namespace

void demo_client_info_and_wait(std::ostream& out) {
  show_client_info(out);
  show_wait(out);
}

}  // namespace ovik::host

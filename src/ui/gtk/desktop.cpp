#include "ui/gtk/desktop.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ovik/gtk.h"
#include "ovik/host.h"

namespace ovik::gtk {

namespace {

// The thread that GTK belongs to; set by enable().
std::mutex g_thread_mutex;
std::thread::id g_gtk_thread;

bool on_gtk_thread() {
  std::lock_guard lock(g_thread_mutex);
  return std::this_thread::get_id() == g_gtk_thread;
}

// A message box asked for on another thread: shown by the GTK thread while this one waits.
std::int32_t message_box_from_other_thread(const host_hooks::MessageBox& box) {
  struct Call {
    explicit Call(const host_hooks::MessageBox& b) : box(b) {}
    const host_hooks::MessageBox& box;
    std::mutex mutex;
    std::condition_variable done_signal;
    bool done = false;
    std::int32_t answer = 0;
  } call(box);
  // An idle source rather than g_main_context_invoke, which would run the box right here on this
  // thread whenever the GTK thread is between two iterations of its loop.
  GSource* idle = g_idle_source_new();
  g_source_set_priority(idle, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      idle,
      [](gpointer data) -> gboolean {
        auto* c = static_cast<Call*>(data);
        const std::int32_t answer = run_message_box(c->box.text, c->box.title, c->box.style);
        std::lock_guard lock(c->mutex);
        c->answer = answer;
        c->done = true;
        c->done_signal.notify_one();
        return G_SOURCE_REMOVE;
      },
      &call, nullptr);
  g_source_attach(idle, g_main_context_default());
  g_source_unref(idle);
  std::unique_lock lock(call.mutex);
  call.done_signal.wait(lock, [&] { return call.done; });
  return call.answer;
}

std::int32_t show_message_box(const host_hooks::MessageBox& box) {
  if (!on_gtk_thread()) return message_box_from_other_thread(box);
  return run_message_box(box.text, box.title, box.style);
}

std::uint32_t focused_process() {
  if (!on_gtk_thread() || focused_toplevel() == nullptr) return 0;
  return static_cast<std::uint32_t>(::getpid());
}

std::optional<std::string> active_form() {
  if (!on_gtk_thread()) return std::nullopt;
  return active_form_name();
}

}  // namespace

bool enable() {
  if (!gtk_init_check(nullptr, nullptr)) return false;
  {
    std::lock_guard lock(g_thread_mutex);
    g_gtk_thread = std::this_thread::get_id();
  }
  host_hooks::set_message_box_handler(show_message_box);
  host_hooks::set_focus_process_hook(focused_process);
  host_hooks::set_active_form_hook(active_form);
  return true;
}

void disable() {
  host_hooks::set_message_box_handler(nullptr);
  host_hooks::set_focus_process_hook(nullptr);
  host_hooks::set_active_form_hook(nullptr);
}

}  // namespace ovik::gtk

#include <gtk/gtk.h>

#include "ui/gtk/desktop.h"
#include "ui/gtk/message_box_style.h"

namespace ovik::gtk {

namespace {

const char* icon_name(Icon icon) {
  switch (icon) {
    case Icon::Error: return "dialog-error";
    case Icon::Question: return "dialog-question";
    case Icon::Warning: return "dialog-warning";
    case Icon::Information: return "dialog-information";
    case Icon::None: break;
  }
  return nullptr;
}

bool is_message_box(GtkWindow* window) {
  return g_strcmp0(gtk_widget_get_name(GTK_WIDGET(window)), kMessageBoxName) == 0;
}

// The window a new box stands over: the focused one, or else a window of the program that is
// on the screen (the program may not have the focus when a background task reports).
GtkWindow* parent_for_box() {
  if (GtkWindow* focused = focused_toplevel()) return focused;
  GtkWindow* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l != nullptr && found == nullptr; l = l->next) {
    GtkWindow* w = GTK_WINDOW(l->data);
    if (gtk_widget_get_mapped(GTK_WIDGET(w)) && gtk_window_get_window_type(w) == GTK_WINDOW_TOPLEVEL &&
        !is_message_box(w))
      found = w;
  }
  g_list_free(windows);
  return found;
}

GtkWidget* build_dialog(const MessageBoxLayout& layout, const std::string& text, const std::string& title,
                        GtkWindow* parent) {
  GtkWidget* dialog = gtk_dialog_new();
  gtk_widget_set_name(dialog, kMessageBoxName);
  GtkWindow* window = GTK_WINDOW(dialog);
  gtk_window_set_title(window, dialog_text(title).c_str());
  gtk_window_set_modal(window, TRUE);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_deletable(window, layout.close_answer != 0);
  if (parent != nullptr) {
    gtk_window_set_transient_for(window, parent);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  }

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
  gtk_container_set_border_width(GTK_CONTAINER(row), 16);
  if (const char* icon = icon_name(layout.icon)) {
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  }
  GtkWidget* label = gtk_label_new(dialog_text(text).c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  // Counted in Latin characters: about forty Japanese ones to a line before it wraps.
  gtk_label_set_max_width_chars(GTK_LABEL(label), 80);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_widget_set_valign(label, GTK_ALIGN_CENTER);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), row, TRUE, TRUE, 0);
  gtk_widget_show_all(row);

  for (const Button& b : layout.buttons) gtk_dialog_add_button(GTK_DIALOG(dialog), b.label.c_str(), b.answer);
  const Answer chosen = layout.buttons[layout.default_button].answer;
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), chosen);
  gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), chosen));
  return dialog;
}

}  // namespace

GtkWindow* focused_toplevel() {
  GtkWindow* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l != nullptr && found == nullptr; l = l->next)
    if (gtk_window_is_active(GTK_WINDOW(l->data))) found = GTK_WINDOW(l->data);
  g_list_free(windows);
  return found;
}

std::optional<std::string> active_form_name() {
  GtkWindow* window = focused_toplevel();
  // A message box is the library's, not a form of the program: the form it stands over counts.
  if (window != nullptr && is_message_box(window)) window = gtk_window_get_transient_for(window);
  if (window == nullptr) return std::nullopt;
  // Without a name of its own GTK answers the window's type name.
  return std::string(gtk_widget_get_name(GTK_WIDGET(window)));
}

std::int32_t run_message_box(const std::string& text, const std::string& title, std::int32_t style) {
  const MessageBoxLayout layout = layout_of(style);
  GtkWidget* dialog = build_dialog(layout, text, title, parent_for_box());
  // Held so that a dialog destroyed from outside (its program closing every window) is still
  // ours to release.
  g_object_ref_sink(dialog);
  std::int32_t answer = 0;
  while (answer == 0) {
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response > 0) {
      answer = response;
    } else if (response == GTK_RESPONSE_NONE) {
      // Destroyed before anyone chose: what closing it would have answered, else its default.
      answer = layout.close_answer != 0 ? layout.close_answer : layout.buttons[layout.default_button].answer;
    } else if (layout.close_answer != 0) {
      answer = layout.close_answer;  // closed with the title bar's button or Escape
    }
  }
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
  return answer;
}

}  // namespace ovik::gtk

// store-order: a small order-entry window of a store's back office, written the way the store
// programs use the library. It creates the environment object, shows setting lookups, opens the
// databases, writes log entries, and sends with a Wait that keeps the window alive, with a progress
// bar and a Cancel button. With broken settings the library shows its start-up notice over it.
//
//   store-order                    the window, for a person
//   store-order --self-test [--expect-startup-notice] [--screenshot-dir DIR]
//                                  drives itself through the whole flow, checks what happened,
//                                  saves screenshots and exits 0 when everything held
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ovik/component.h"
#include "ovik/data_access.h"
#include "ovik/error.h"
#include "ovik/events.h"
#include "ovik/gtk.h"
#include "ovik/object.h"
#include "ovik/system_info.h"
#include "ovik/waiting.h"

namespace {

constexpr const char* kAppName = "StoreOrder";
constexpr int kSendMilliseconds = 3000;

struct Line {
  std::string item;
  int quantity;
};

// The servers differ in a few words of the program's statements: the order table's date type,
// the server's local time, and how the log's latest row is asked for.
struct Dialect {
  const char* name;
  const char* log_table_file;  // of the sql/ folder; its statements each end a line with ";"
  const char* date_type;
  const char* now;
  bool creates_if_missing;     // "create table if not exists"; SQL Server has none
  const char* latest_process;  // the latest log row's process of the application named by %s
};

const Dialect kSqlite = {
    .name = "SQLite",
    .log_table_file = "wkLog.sqlite.sql",
    .date_type = "datetime",
    .now = "datetime('now', 'localtime')",
    .creates_if_missing = true,
    .latest_process = "select ProcessID from wkLog where ApplicationName = %s order by rowid desc limit 1",
};
const Dialect kPostgres = {
    .name = "PostgreSQL",
    .log_table_file = "wkLog.postgresql.sql",
    .date_type = "timestamp(0)",
    .now = "localtimestamp(0)",
    .creates_if_missing = true,
    .latest_process =
        "select ProcessID from wkLog where ApplicationName = %s order by AmendDate desc limit 1",
};
const Dialect kMariaDb = {
    .name = "MariaDB/MySQL",
    .log_table_file = "wkLog.mariadb.sql",
    .date_type = "datetime",
    .now = "now()",
    .creates_if_missing = true,
    .latest_process =
        "select ProcessID from wkLog where ApplicationName = %s order by AmendDate desc limit 1",
};
const Dialect kSqlServer = {
    .name = "SQL Server",
    .log_table_file = "wkLog.sqlserver.sql",
    .date_type = "datetime",
    .now = "getdate()",
    .creates_if_missing = false,
    .latest_process = "select top 1 ProcessID from wkLog where ApplicationName = %s order by AmendDate desc",
};

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

// The server behind a connection. The database object's Provider says IsUnknown for all three
// servers the program runs on, so it asks: SQLite is a provider of its own, SQLOLEDB is SQL
// Server, and a server reached through ODBC names itself in version() (SQLite's ODBC driver in
// sqlite_version()). A server that answers neither gets SQL Server's words, as the log's do.
const Dialect& dialect_of(const ovik::Ref<ovik::_Connection>& connection) {
  const std::string provider = lower(connection->get_Provider());
  if (provider.starts_with("sqlite")) return kSqlite;
  if (!provider.starts_with("msdasql")) return kSqlServer;
  // The first value of a query's first row; nullopt when the server refuses the query.
  auto answer = [&](const char* sql) -> std::optional<std::string> {
    try {
      ovik::Variant affected;
      ovik::Ref<ovik::_Recordset> rs = connection->Execute(sql, affected, -1);
      return lower(rs->get_Fields()->get_Item(ovik::Variant(std::int32_t{0}))->get_Value().to_string());
    } catch (const ovik::RaisedError&) {
      return std::nullopt;
    }
  };
  if (const auto version = answer("select version()"))
    return version->find("postgres") != std::string::npos ? kPostgres : kMariaDb;
  return answer("select sqlite_version()") ? kSqlite : kSqlServer;
}

std::string with_name(const char* pattern, const std::string& literal) {
  std::string text = pattern;
  return text.replace(text.find("%s"), 2, literal);
}

struct App {
  // The library's objects.
  ovik::Ref<ovik::_clsSystemInfo> si;
  const Dialect* dialect = &kSqlite;  // of the application database, once it is open
  ovik::Ref<ovik::_clsWaitNDispatch> wait;
  // The window.
  GtkWidget* window = nullptr;
  GtkWidget* settings_grid = nullptr;
  GtkWidget* database_labels[3] = {};
  GtkWidget* item = nullptr;
  GtkWidget* quantity = nullptr;
  GtkListStore* lines_store = nullptr;
  GtkWidget* add = nullptr;
  GtkWidget* register_ = nullptr;
  GtkWidget* send = nullptr;
  GtkWidget* cancel = nullptr;
  GtkWidget* progress = nullptr;
  GtkWidget* status = nullptr;
  // What happened, for the self-test.
  std::vector<Line> lines;
  bool started = false;
  int registered = -1;  // rows written by the last registration
  bool send_done = false;
  bool send_cancelled = false;  // Cancel pressed during the last send
  int start_polls = 0;
  gint64 send_started_us = 0;
  std::int32_t logged_process = -1;
};

void set_status(App& app, const std::string& text) {
  gtk_label_set_text(GTK_LABEL(app.status), text.c_str());
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void add_setting_row(App& app, int row, const char* name, const std::string& value) {
  GtkWidget* key = gtk_label_new(name);
  gtk_label_set_xalign(GTK_LABEL(key), 0.0f);
  GtkWidget* shown = gtk_label_new(value.c_str());
  gtk_label_set_xalign(GTK_LABEL(shown), 0.0f);
  gtk_label_set_selectable(GTK_LABEL(shown), TRUE);
  gtk_grid_attach(GTK_GRID(app.settings_grid), key, 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(app.settings_grid), shown, 1, row, 1, 1);
  gtk_widget_show(key);
  gtk_widget_show(shown);
}

// The log entry as the log table stored it: the process of the focused window.
std::int32_t last_logged_process(App& app) {
  ovik::Ref<ovik::_clsDatabase> db = app.si->get_Database();
  if (!db) return -1;
  try {
    ovik::Ref<ovik::_Recordset> rs =
        db->OpenForwardOnlyRecordset(with_name(app.dialect->latest_process, db->VarConv(kAppName)));
    if (rs->get_EOF()) return -1;
    return static_cast<std::int32_t>(rs->get_Fields()->get_Item(ovik::Variant(std::int32_t{0}))->get_Value().to_i32());
  } catch (const ovik::RaisedError&) {
    return -1;
  }
}

void write_log(App& app, const std::string& text) {
  app.si->PrintApplog(text, 1, kAppName);
  app.logged_process = last_logged_process(app);
}

// What a store program does first: the environment object, its settings, its databases.
void start(App& app) {
  app.si = ovik::create<ovik::_clsSystemInfo>("OvikEnvironment.clsSystemInfo");
  const std::string ini_dir = app.si->GetIniDir();
  const std::string app_dir = ini_dir + "../";
  gchar* shown_dir = g_canonicalize_filename(ini_dir.c_str(), nullptr);
  add_setting_row(app, 0, "設定フォルダ", shown_dir);
  g_free(shown_dir);
  // A broken setting shows the library's start-up notice here and gives the default.
  add_setting_row(app, 1, "勘定科目（店舗）", std::to_string(app.si->funAccountItem()));
  add_setting_row(app, 2, "本部コード", std::to_string(app.si->funHeadOfficeCode(1)));

  app.si->put_strGetIpAddress(app_dir + "data/store.db");
  app.si->OpenDatabase();
  const ovik::Ref<ovik::_clsDatabase> databases[3] = {app.si->get_Database(), app.si->get_DatabaseOfTM(),
                                                      app.si->get_DatabaseOfStore()};
  const char* names[3] = {"業務DB", "マスタDB", "店舗DB"};
  for (int i = 0; i < 3; ++i) {
    const bool usable = databases[i] && databases[i]->get_Usable();
    const std::string text = std::string(names[i]) + "：" + (usable ? "接続済み" : "未接続");
    gtk_label_set_text(GTK_LABEL(app.database_labels[i]), text.c_str());
  }
  std::string problem;
  if (databases[0] && databases[0]->get_Usable()) {
    const ovik::Ref<ovik::_Connection> connection = databases[0]->get_Connection();
    app.dialect = &dialect_of(connection);
    ovik::Variant affected;
    // One statement a call: MariaDB's driver runs no more.
    std::vector<std::string> ddl(1);
    std::istringstream lines(read_file(app_dir + "sql/" + app.dialect->log_table_file));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("--", 0) == 0) continue;
      ddl.back() += line + "\n";
      const std::size_t last = line.find_last_not_of(" \t\r");
      if (last != std::string::npos && line[last] == ';') ddl.emplace_back();
    }
    const std::string order_lines =
        std::string("order_lines (item_cd varchar(13), qty integer, ordered_at ") + app.dialect->date_type +
        ")";
    try {
      bool present = false;
      if (!app.dialect->creates_if_missing) {
        try {
          connection->Execute("select count(*) from wkLog where 1 = 0", affected, -1);
          present = true;
        } catch (const ovik::RaisedError&) {
        }
      }
      for (const std::string& statement : ddl)
        if (!present && statement.find_first_not_of(" \t\r\n") != std::string::npos)
          connection->Execute(statement, affected, -1);
      connection->Execute(app.dialect->creates_if_missing
                              ? "create table if not exists " + order_lines
                              : "if object_id('order_lines') is null create table " + order_lines,
                          affected, -1);
    } catch (const ovik::RaisedError& e) {
      problem = std::string("表の作成に失敗しました（") + app.dialect->name + "）：" + e.description();
    }
  } else {
    problem = "業務DBに接続されていません。設定を確かめて下さい。";
  }
  write_log(app, "発注入力を起動しました");
  set_status(app, problem.empty() ? "発注する商品を入力して下さい。" : problem);
}

void on_add(GtkButton*, gpointer data) {
  App& app = *static_cast<App*>(data);
  const std::string item = gtk_entry_get_text(GTK_ENTRY(app.item));
  const int quantity = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(app.quantity));
  if (item.empty()) {
    set_status(app, "商品コードを入力して下さい。");
    return;
  }
  app.lines.push_back({item, quantity});
  GtkTreeIter row;
  gtk_list_store_append(app.lines_store, &row);
  gtk_list_store_set(app.lines_store, &row, 0, static_cast<int>(app.lines.size()), 1, item.c_str(), 2, quantity, -1);
  gtk_entry_set_text(GTK_ENTRY(app.item), "");
  set_status(app, std::to_string(app.lines.size()) + " 件入力済みです。");
}

// Writes the entered lines into the application database, with the library's literals.
void on_register(GtkButton*, gpointer data) {
  App& app = *static_cast<App*>(data);
  ovik::Ref<ovik::_clsDatabase> db = app.si ? app.si->get_Database() : nullptr;
  if (!db || !db->get_Usable()) {
    set_status(app, "業務DBに接続されていないため登録できません。");
    return;
  }
  int written = 0;
  std::string failure;
  try {
    ovik::Variant affected;
    for (const Line& line : app.lines) {
      std::string quantity = std::to_string(line.quantity);
      db->get_Connection()->Execute(
          "insert into order_lines (item_cd, qty, ordered_at) values (" + db->VarConv(line.item) + ", " +
              db->NumConv(quantity, ovik::SqlStringParmitNullEnum::FieldIsNotNullable) + ", " +
              app.dialect->now + ")",
          affected, -1);
      ++written;
    }
  } catch (const ovik::RaisedError& e) {
    failure = e.description();
  }
  app.registered = written;
  write_log(app, "発注を登録しました（" + std::to_string(written) + " 件）" +
                     (failure.empty() ? "" : "：" + failure));
  // The reason belongs in the window: a person reads no trace file.
  set_status(app, failure.empty()
                      ? std::to_string(written) + " 件登録しました。"
                      : "登録に失敗しました（" + std::to_string(written) + " 件登録済み）：" + failure);
}

class SendFinished final : public ovik::Listener<SendFinished, ovik::__clsWaitNDispatch> {
 public:
  explicit SendFinished(App& app) : app_(app) {}
  void OnTimer() override { app_.send_done = true; }

 private:
  App& app_;
};

gboolean on_send_progress(gpointer data) {
  App& app = *static_cast<App*>(data);
  const double done = static_cast<double>(g_get_monotonic_time() - app.send_started_us) / 1000.0 / kSendMilliseconds;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(app.progress), done < 1.0 ? done : 1.0);
  return G_SOURCE_CONTINUE;
}

// Sending to head office is a wait here; the window keeps painting and Cancel keeps working.
void on_send(GtkButton*, gpointer data) {
  App& app = *static_cast<App*>(data);
  app.send_done = false;
  app.send_cancelled = false;
  gtk_widget_set_sensitive(app.send, FALSE);
  gtk_widget_set_sensitive(app.register_, FALSE);
  gtk_widget_set_sensitive(app.cancel, TRUE);
  set_status(app, "本部へ送信中です…");
  app.wait = ovik::create<ovik::_clsWaitNDispatch>("OvikEnvironment.clsWaitNDispatch");
  ovik::Ref<SendFinished> finished = ovik::make_object<SendFinished>(app);
  auto events = app.wait.as<ovik::IConnectionPointContainer>();
  const std::uint32_t cookie = events->Advise(ovik::__clsWaitNDispatch::IID, finished.get());
  app.send_started_us = g_get_monotonic_time();
  const guint ticker = g_timeout_add(50, on_send_progress, &app);
  app.wait->Wait(kSendMilliseconds);
  g_source_remove(ticker);
  events->Unadvise(cookie);
  app.wait = nullptr;
  gtk_widget_set_sensitive(app.cancel, FALSE);
  gtk_widget_set_sensitive(app.send, TRUE);
  gtk_widget_set_sensitive(app.register_, TRUE);
  write_log(app, app.send_cancelled ? "送信を中止しました" : "送信しました");
  set_status(app, app.send_cancelled ? "送信を中止しました。" : "送信しました。");
  if (!app.send_cancelled) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(app.progress), 1.0);
}

void on_cancel(GtkButton*, gpointer data) {
  App& app = *static_cast<App*>(data);
  if (!app.wait) return;
  app.send_cancelled = true;
  app.wait->Cancel();
}

GtkWidget* framed(const char* title, GtkWidget* child) {
  GtkWidget* frame = gtk_frame_new(title);
  gtk_container_set_border_width(GTK_CONTAINER(child), 8);
  gtk_container_add(GTK_CONTAINER(frame), child);
  return frame;
}

void build_window(App& app) {
  app.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  // The name the library's trace writes as the active form.
  gtk_widget_set_name(app.window, "frmOrderEntry");
  gtk_window_set_title(GTK_WINDOW(app.window), "発注入力");
  gtk_window_set_default_size(GTK_WINDOW(app.window), 560, 520);
  g_signal_connect(app.window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(page), 12);
  gtk_container_add(GTK_CONTAINER(app.window), page);

  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  app.settings_grid = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(app.settings_grid), 12);
  gtk_grid_set_row_spacing(GTK_GRID(app.settings_grid), 4);
  gtk_box_pack_start(GTK_BOX(top), framed("設定", app.settings_grid), TRUE, TRUE, 0);
  GtkWidget* databases = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  for (GtkWidget*& label : app.database_labels) {
    label = gtk_label_new("…");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_box_pack_start(GTK_BOX(databases), label, FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(top), framed("データベース", databases), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(page), top, FALSE, FALSE, 0);

  GtkWidget* entry_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  gtk_box_pack_start(GTK_BOX(entry_row), gtk_label_new("商品コード"), FALSE, FALSE, 0);
  app.item = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(app.item), 13);
  gtk_entry_set_width_chars(GTK_ENTRY(app.item), 14);
  gtk_box_pack_start(GTK_BOX(entry_row), app.item, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(entry_row), gtk_label_new("数量"), FALSE, FALSE, 0);
  app.quantity = gtk_spin_button_new_with_range(1, 999, 1);
  gtk_box_pack_start(GTK_BOX(entry_row), app.quantity, FALSE, FALSE, 0);
  app.add = gtk_button_new_with_mnemonic("追加(_A)");
  g_signal_connect(app.add, "clicked", G_CALLBACK(on_add), &app);
  gtk_box_pack_start(GTK_BOX(entry_row), app.add, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(page), framed("発注入力", entry_row), FALSE, FALSE, 0);

  app.lines_store = gtk_list_store_new(3, G_TYPE_INT, G_TYPE_STRING, G_TYPE_INT);
  GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(app.lines_store));
  g_object_unref(app.lines_store);  // the view holds it
  const char* headings[3] = {"行", "商品コード", "数量"};
  for (int i = 0; i < 3; ++i)
    gtk_tree_view_append_column(GTK_TREE_VIEW(list), gtk_tree_view_column_new_with_attributes(
                                                         headings[i], gtk_cell_renderer_text_new(), "text", i, nullptr));
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_container_add(GTK_CONTAINER(scroller), list);
  gtk_box_pack_start(GTK_BOX(page), scroller, TRUE, TRUE, 0);

  GtkWidget* send_row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  app.progress = gtk_progress_bar_new();
  gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(app.progress), TRUE);
  gtk_widget_set_valign(app.progress, GTK_ALIGN_CENTER);
  gtk_box_pack_start(GTK_BOX(send_row), app.progress, TRUE, TRUE, 0);
  app.cancel = gtk_button_new_with_label("キャンセル");
  gtk_widget_set_sensitive(app.cancel, FALSE);
  g_signal_connect(app.cancel, "clicked", G_CALLBACK(on_cancel), &app);
  gtk_box_pack_start(GTK_BOX(send_row), app.cancel, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(page), send_row, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  gtk_box_set_spacing(GTK_BOX(buttons), 8);
  app.register_ = gtk_button_new_with_mnemonic("登録(_R)");
  g_signal_connect(app.register_, "clicked", G_CALLBACK(on_register), &app);
  app.send = gtk_button_new_with_mnemonic("送信(_S)");
  g_signal_connect(app.send, "clicked", G_CALLBACK(on_send), &app);
  GtkWidget* quit = gtk_button_new_with_mnemonic("終了(_X)");
  g_signal_connect_swapped(quit, "clicked", G_CALLBACK(gtk_widget_destroy), app.window);
  gtk_container_add(GTK_CONTAINER(buttons), app.register_);
  gtk_container_add(GTK_CONTAINER(buttons), app.send);
  gtk_container_add(GTK_CONTAINER(buttons), quit);
  gtk_box_pack_start(GTK_BOX(page), buttons, FALSE, FALSE, 0);

  app.status = gtk_label_new("起動中…");
  gtk_label_set_xalign(GTK_LABEL(app.status), 0.0f);
  // A server's reason may be long: it wraps rather than widening the window.
  gtk_label_set_line_wrap(GTK_LABEL(app.status), TRUE);
  gtk_box_pack_start(GTK_BOX(page), app.status, FALSE, FALSE, 0);
  gtk_widget_show_all(app.window);
}

// ---- The self-test: the window drives itself as a person would, then says what held. ----

struct SelfTest {
  App* app = nullptr;
  bool expect_notice = false;
  std::string screenshot_dir;
  int step = 0;
  int notices = 0;
  int failures = 0;
  gint64 give_up_us = 0;
  // The window whose next paint is awaited before a picture is taken.
  GtkWidget* painting = nullptr;
  gulong paint_handler = 0;
  bool painted = false;
};

void check(SelfTest& t, bool held, const std::string& what) {
  std::printf("%s: %s\n", held ? "ok" : "FAILED", what.c_str());
  if (!held) ++t.failures;
}

// Whether the X server shows the window, frame and all. GTK counts a window as mapped once it has
// asked for that; the window manager places, frames and maps it some time later.
bool viewable(GtkWidget* widget) {
  GdkWindow* window = gtk_widget_get_window(widget);
  if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return false;
  GdkDisplay* display = gdk_window_get_display(window);
  XWindowAttributes attributes{};
  gdk_x11_display_error_trap_push(display);
  const Status got = XGetWindowAttributes(GDK_WINDOW_XDISPLAY(window), GDK_WINDOW_XID(window), &attributes);
  gdk_x11_display_error_trap_pop_ignored(display);
  return got != 0 && attributes.map_state == IsViewable;
}

// Where the window stands on the screen with its frame; empty while the X server does not show it.
GdkRectangle frame_on_screen(GtkWidget* widget) {
  GdkRectangle frame{};
  if (viewable(widget)) gdk_window_get_frame_extents(gtk_widget_get_window(widget), &frame);
  return frame;
}

void stop_awaiting_paint(SelfTest& t) {
  if (t.painting != nullptr) g_signal_handler_disconnect(t.painting, t.paint_handler);
  t.painting = nullptr;
}

// True once the window is on the screen and has painted itself there since; asked from step to
// step. A paint before the server showed the window went nowhere, so one is asked for after.
bool painted_on_screen(SelfTest& t, GtkWidget* widget) {
  if (!viewable(widget)) return false;
  if (t.painting != widget) {
    stop_awaiting_paint(t);
    t.painting = widget;
    t.painted = false;
    t.paint_handler = g_signal_connect_after(widget, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer painted) {
                                               *static_cast<bool*>(painted) = true;
                                               return FALSE;
                                             }),
                                             &t.painted);
    gtk_widget_queue_draw(widget);
    return false;
  }
  return t.painted;
}

// What a picture of the windows needs: each one mapped and whole on the screen, each one over the
// one before it, as a person sees them.
void check_on_screen(SelfTest& t, std::initializer_list<GtkWidget*> widgets, const std::string& what) {
  GdkWindow* root = gdk_get_default_root_window();
  const int screen_width = gdk_window_get_width(root);
  const int screen_height = gdk_window_get_height(root);
  bool whole = true;
  for (GtkWidget* w : widgets) {
    const GdkRectangle f = frame_on_screen(w);
    whole = whole && f.width >= gtk_widget_get_allocated_width(w) && f.height >= gtk_widget_get_allocated_height(w) &&
            f.x >= 0 && f.y >= 0 && f.x + f.width <= screen_width && f.y + f.height <= screen_height;
  }
  check(t, whole, what + " whole on the screen");
  // Bottom to top, as the window manager stacks them.
  GList* stack = gdk_screen_get_window_stack(gdk_screen_get_default());
  int below = -1;
  bool over = true;
  for (GtkWidget* w : widgets) {
    const int at = g_list_index(stack, gtk_widget_get_window(w));
    over = over && at > below;
    below = at;
  }
  g_list_free_full(stack, g_object_unref);
  if (widgets.size() > 1) check(t, over, what + " stacked each over the one before");
}

// The windows with their frames, as the screen shows them together (painted_on_screen first).
void screenshot(const SelfTest& t, std::initializer_list<GtkWidget*> widgets, const std::string& name) {
  if (t.screenshot_dir.empty()) return;
  gdk_display_sync(gdk_display_get_default());
  GdkRectangle area{};
  bool first = true;
  for (GtkWidget* w : widgets) {
    GdkRectangle frame;
    gdk_window_get_frame_extents(gtk_widget_get_window(w), &frame);
    if (first) area = frame;
    gdk_rectangle_union(&area, &frame, &area);
    first = false;
  }
  GdkPixbuf* picture =
      gdk_pixbuf_get_from_window(gdk_get_default_root_window(), area.x, area.y, area.width, area.height);
  if (picture == nullptr) return;
  gdk_pixbuf_save(picture, (t.screenshot_dir + "/" + name).c_str(), "png", nullptr, nullptr);
  g_object_unref(picture);
}

// A modal dialog over the window: the library's message box.
GtkWidget* shown_notice(const App& app) {
  GtkWidget* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l != nullptr && found == nullptr; l = l->next)
    if (GTK_IS_DIALOG(l->data) && gtk_widget_get_mapped(GTK_WIDGET(l->data)) &&
        gtk_window_get_transient_for(GTK_WINDOW(l->data)) == GTK_WINDOW(app.window))
      found = GTK_WIDGET(l->data);
  g_list_free(windows);
  return found;
}

gboolean self_test_step(gpointer data) {
  SelfTest& t = *static_cast<SelfTest*>(data);
  App& app = *t.app;
  if (g_get_monotonic_time() > t.give_up_us) {
    check(t, false, "the flow finished in time (stuck at step " + std::to_string(t.step) + ")");
    stop_awaiting_paint(t);
    gtk_widget_destroy(app.window);
    return G_SOURCE_REMOVE;
  }
  // The library's notices, answered with OK as a person would.
  if (GtkWidget* notice = shown_notice(app)) {
    if (t.notices == 0) {
      // The first is pictured once it is on the screen over the window, as a person sees it.
      if (!painted_on_screen(t, notice)) return G_SOURCE_CONTINUE;
      stop_awaiting_paint(t);
      check(t, g_strcmp0(gtk_window_get_title(GTK_WINDOW(notice)), "警告") == 0, "the notice's title is 警告");
      check_on_screen(t, {app.window, notice}, "the window and the notice over it are");
      screenshot(t, {app.window, notice}, "store-order-startup-notice.png");
    }
    ++t.notices;
    gtk_dialog_response(GTK_DIALOG(notice), 1);
    return G_SOURCE_CONTINUE;
  }
  switch (t.step) {
    case 0:  // the start-up has run
      if (!app.started) return G_SOURCE_CONTINUE;
      check(t, (t.notices > 0) == t.expect_notice,
            t.expect_notice ? "broken settings showed the start-up notice" : "no notice with sound settings");
      check(t, std::string(gtk_label_get_text(GTK_LABEL(app.status))) != "起動中…",
            std::string("the status line moved on from 起動中… to: ") +
                gtk_label_get_text(GTK_LABEL(app.status)));
      if (t.expect_notice) {
        gtk_widget_destroy(app.window);
        return G_SOURCE_REMOVE;
      }
      check(t, app.logged_process == static_cast<std::int32_t>(getpid()),
            "the log entry names this process, whose window has the focus");
      gtk_entry_set_text(GTK_ENTRY(app.item), "4901234567894");
      gtk_spin_button_set_value(GTK_SPIN_BUTTON(app.quantity), 12);
      gtk_button_clicked(GTK_BUTTON(app.add));
      gtk_entry_set_text(GTK_ENTRY(app.item), "4909876543210");
      gtk_spin_button_set_value(GTK_SPIN_BUTTON(app.quantity), 3);
      gtk_button_clicked(GTK_BUTTON(app.add));
      gtk_button_clicked(GTK_BUTTON(app.register_));
      check(t, app.registered == 2, std::string("two order lines registered on ") + app.dialect->name);
      check(t, std::string(gtk_label_get_text(GTK_LABEL(app.status))) == "2 件登録しました。",
            std::string("the status line says so: ") + gtk_label_get_text(GTK_LABEL(app.status)));
      {
        // A table the server no longer has: the window says why the registration failed.
        ovik::Ref<ovik::_Connection> connection = app.si->get_Database()->get_Connection();
        ovik::Variant affected;
        connection->Execute("alter table order_lines rename to order_lines_away", affected, -1);
        gtk_button_clicked(GTK_BUTTON(app.register_));
        connection->Execute("alter table order_lines_away rename to order_lines", affected, -1);
        const std::string shown = gtk_label_get_text(GTK_LABEL(app.status));
        const std::string failed = "登録に失敗しました（0 件登録済み）：";
        check(t,
              app.registered == 0 && shown.starts_with(failed) &&
                  shown.find("order_lines") != std::string::npos,
              "a failed registration shows the server's reason: " + shown);
      }
      ++t.step;
      // Sending waits inside the click, and GLib runs no source inside its own dispatch: the
      // click comes from a source of its own, so that this one goes on during the wait.
      g_idle_add(
          [](gpointer send) -> gboolean {
            gtk_button_clicked(GTK_BUTTON(send));
            return G_SOURCE_REMOVE;
          },
          app.send);
      return G_SOURCE_CONTINUE;
    case 1:  // during the wait: the bar moves, and Cancel ends it
      if (gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(app.progress)) < 0.4) return G_SOURCE_CONTINUE;
      if (!painted_on_screen(t, app.window)) return G_SOURCE_CONTINUE;
      stop_awaiting_paint(t);
      check(t, app.wait && app.wait->get_IsWaiting(), "the window is served while the wait goes on");
      check_on_screen(t, {app.window}, "the window is");
      screenshot(t, {app.window}, "store-order.png");
      gtk_button_clicked(GTK_BUTTON(app.cancel));
      ++t.step;
      return G_SOURCE_CONTINUE;
    default:  // after the wait
      if (!app.send_done) return G_SOURCE_CONTINUE;
      check(t, app.send_cancelled, "Cancel ended the send before its time");
      gtk_widget_destroy(app.window);
      return G_SOURCE_REMOVE;
  }
}

gboolean start_when_focused(gpointer data) {
  App& app = *static_cast<App*>(data);
  // The start-up runs with the window on the screen, so that its notices stand over it, and once
  // it has the focus (or has been given two seconds to get it), as when a person starts it.
  if (!gtk_widget_get_mapped(app.window)) return G_SOURCE_CONTINUE;
  if (!gtk_window_is_active(GTK_WINDOW(app.window)) && ++app.start_polls < 40) return G_SOURCE_CONTINUE;
  try {
    start(app);
  } catch (const ovik::RaisedError& e) {
    set_status(app, "起動に失敗しました：" + e.description());
  }
  app.started = true;
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  bool self_test = false;
  SelfTest t;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--self-test") {
      self_test = true;
    } else if (arg == "--expect-startup-notice") {
      t.expect_notice = true;
    } else if (arg == "--screenshot-dir" && i + 1 < argc) {
      t.screenshot_dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--self-test [--expect-startup-notice] [--screenshot-dir DIR]]\n", argv[0]);
      return 2;
    }
  }
  if (!gtk_init_check(nullptr, nullptr) || !ovik::gtk::enable()) {
    std::fprintf(stderr, "%s: no display\n", argv[0]);
    return 1;
  }
  App app;
  build_window(app);
  gtk_window_present(GTK_WINDOW(app.window));
  g_timeout_add(50, start_when_focused, &app);
  if (self_test) {
    t.app = &app;
    t.give_up_us = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
    g_timeout_add(50, self_test_step, &t);
  }
  gtk_main();
  app.si = nullptr;
  ovik::gtk::disable();
  if (!self_test) return 0;
  std::printf("%d failed\n", t.failures);
  return t.failures == 0 ? 0 : 1;
}

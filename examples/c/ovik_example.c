/* The library from C, through its C interface: the environment object, a setting, a raised error,
 * the by-reference outputs of funPosInfoImport, an in-memory recordset written into a table, and an
 * event. It reads the settings of the application folder the library lies in: run it through
 * examples/run-example.sh. */
#include <stdio.h>

#include "ovik/ovik_c.h"

static int failed(const char* what) {
  fprintf(stderr, "%s: error %d (%s): %s\n", what, (int)ovik_error_number(), ovik_error_source(),
          ovik_error_description());
  return 1;
}

/* Sets the named field of the recordset's current row. */
static int set_field(ovik_object* rs, const char* name, ovik_value value) {
  ovik_value key = ovik_string(name), field = ovik_empty();
  int ok = ovik_get(rs, "Fields", &key, 1, &field) == OVIK_OK &&
           ovik_put(field.u.object, "Value", NULL, 0, &value) == OVIK_OK;
  ovik_value_clear(&field);
  return ok;
}

static void on_event(void* user, const char* event, const ovik_value* args, size_t nargs) {
  (void)args;
  printf("event %s with %zu argument(s)\n", event, nargs);
  ++*(int*)user;
}

int main(void) {
  ovik_object* si = NULL;
  if (ovik_create("OvikEnvironment.clsSystemInfo", &si) != OVIK_OK) return failed("create");

  /* A method without arguments; the result's string is ours to clear. */
  ovik_value dir = ovik_empty();
  if (ovik_call(si, "GetIniDir", NULL, 0, &dir) != OVIK_OK) return failed("GetIniDir");
  printf("settings folder: %s\n", dir.u.string.data);
  ovik_value_clear(&dir);

  /* A property with a parameter hands out an object; GetIni reads one setting. */
  ovik_value index = ovik_i32(0), settings = ovik_empty(), provider = ovik_empty();
  if (ovik_get(si, "IniFiles", &index, 1, &settings) != OVIK_OK) return failed("IniFiles");
  ovik_value key[2] = {ovik_string("database"), ovik_string("provider")};
  if (ovik_call(settings.u.object, "GetIni", key, 2, &provider) != OVIK_OK) return failed("GetIni");
  printf("provider: %s\n", provider.u.string.data);
  ovik_value_clear(&provider);

  /* A setting that is not there raises 60000: the triple is the thread's last error. */
  key[1] = ovik_string("no_such_key");
  if (ovik_call(settings.u.object, "GetIni", key, 2, NULL) == OVIK_FAILED)
    printf("error %d from %s: %s\n", (int)ovik_error_number(), ovik_error_source(), ovik_error_description());
  ovik_value_clear(&settings); /* releases the settings object */

  /* By-reference outputs come back in the argument array, owned by the caller. */
  ovik_value files[3] = {ovik_string(""), ovik_string(""), ovik_string("")};
  ovik_value found = ovik_empty();
  if (ovik_call(si, "funPosInfoImport", files, 3, &found) != OVIK_OK) return failed("funPosInfoImport");
  printf("POS import (%s): %s, %s, %s\n", found.u.boolean ? "found" : "not found", files[0].u.string.data,
         files[1].u.string.data, files[2].u.string.data);
  for (int i = 0; i < 3; ++i) ovik_value_clear(&files[i]);

  /* An in-memory recordset: fields appended while it is closed, opened without a source (dynamic
   * cursor, pessimistic lock), rows added, and written by RecordToDatabase, one insert per row. */
  if (ovik_call(si, "OpenDatabase", NULL, 0, NULL) != OVIK_OK) return failed("OpenDatabase");
  ovik_value db = ovik_empty(), cn = ovik_empty(), fields = ovik_empty();
  if (ovik_get(si, "Database", NULL, 0, &db) != OVIK_OK ||
      ovik_get(db.u.object, "Connection", NULL, 0, &cn) != OVIK_OK)
    return failed("Database");
  ovik_value sql[2] = {ovik_string("drop table if exists example_c_items"),
                       ovik_string("create table example_c_items (CD integer, NM varchar(40))")};
  for (int i = 0; i < 2; ++i)
    if (ovik_call(cn.u.object, "Execute", &sql[i], 1, NULL) != OVIK_OK) return failed("Execute");
  ovik_object* items = NULL;
  if (ovik_new_recordset(&items) != OVIK_OK || ovik_get(items, "Fields", NULL, 0, &fields) != OVIK_OK)
    return failed("new recordset");
  ovik_value cd[2] = {ovik_string("CD"), ovik_i32(3)};                                 /* integer */
  ovik_value nm[4] = {ovik_string("NM"), ovik_i32(202), ovik_i32(40), ovik_i32(0x20)}; /* nullable text */
  ovik_value open[4] = {ovik_empty(), ovik_empty(), ovik_i32(2), ovik_i32(2)};
  if (ovik_call(fields.u.object, "Append", cd, 2, NULL) != OVIK_OK ||
      ovik_call(fields.u.object, "Append", nm, 4, NULL) != OVIK_OK ||
      ovik_call(items, "Open", open, 4, NULL) != OVIK_OK)
    return failed("Append and Open");
  ovik_value_clear(&fields);
  const char* names[2] = {"O'Neil tea", "Rice 5kg"};
  for (int i = 0; i < 2; ++i)
    if (ovik_call(items, "AddNew", NULL, 0, NULL) != OVIK_OK || !set_field(items, "CD", ovik_i32(i + 1)) ||
        !set_field(items, "NM", ovik_string(names[i])) ||
        ovik_call(items, "Update", NULL, 0, NULL) != OVIK_OK)
      return failed("a row");
  ovik_value write[2] = {ovik_string("example_c_items"), ovik_obj(items)}, written = ovik_empty();
  if (ovik_call(db.u.object, "RecordToDatabase", write, 2, &written) != OVIK_OK)
    return failed("RecordToDatabase");
  printf("RecordToDatabase: %s\n", written.u.boolean ? "True" : "False");
  ovik_value_clear(&write[1]); /* a by-reference argument: written back, ours to clear */
  ovik_release(items);
  ovik_value count_sql = ovik_string("select count(*) from example_c_items"), rows = ovik_empty();
  ovik_value first = ovik_i32(0), field = ovik_empty(), count = ovik_empty();
  if (ovik_call(cn.u.object, "Execute", &count_sql, 1, &rows) != OVIK_OK ||
      ovik_get(rows.u.object, "Fields", &first, 1, &field) != OVIK_OK ||
      ovik_get(field.u.object, "Value", NULL, 0, &count) != OVIK_OK)
    return failed("reading back");
  printf("rows written: %lld\n", count.type == OVIK_I64 ? (long long)count.u.i64 : (long long)count.u.i32);
  const int all_written = (count.type == OVIK_I64 ? count.u.i64 : count.u.i32) == 2;
  ovik_value_clear(&field);
  ovik_value_clear(&rows);
  ovik_value_clear(&cn);
  ovik_value_clear(&db);
  ovik_call(si, "CloseDatabase", NULL, 0, NULL);
  ovik_release(si);

  /* Events: OnTimer when a wait ends, delivered inside the Wait call. */
  ovik_object* waiter = NULL;
  int timers = 0;
  uint32_t cookie = 0;
  ovik_value ms = ovik_i32(10);
  if (ovik_create("OvikEnvironment.clsWaitNDispatch", &waiter) != OVIK_OK) return failed("create");
  if (ovik_advise(waiter, on_event, &timers, NULL, &cookie) != OVIK_OK) return failed("advise");
  if (ovik_call(waiter, "Wait", &ms, 1, NULL) != OVIK_OK) return failed("Wait");
  ovik_unadvise(waiter, cookie);
  ovik_release(waiter);
  return timers == 1 && all_written ? 0 : 1;
}

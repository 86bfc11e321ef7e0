/* The C interface driven from C: settings written and read, the error triple of a failed call,
 * by-reference outputs, events, the text forms of currency and dates, an in-memory recordset filled
 * row by row, and what happens to the caller's values on success and on failure. Prints one line
 * per failed check; the exit status is the number of failures. */
#define _POSIX_C_SOURCE 200809L

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ovik/ovik_c.h"

/* The module's own entry point: S_OK (0) once no object of the library is alive. */
int32_t DllCanUnloadNow(void);

static int failures = 0;

#define CHECK(cond)                                                                          \
  do {                                                                                       \
    if (!(cond)) {                                                                           \
      ++failures;                                                                            \
      fprintf(stderr, "%s:%d: %s: check failed: %s\n", __FILE__, __LINE__, __func__, #cond); \
    }                                                                                        \
  } while (0)

static int is_string(const ovik_value* v, const char* text) {
  return v->type == OVIK_STRING && v->u.string.size == strlen(text) && strcmp(v->u.string.data, text) == 0;
}

static char folder[64];

static ovik_object* ini_file_in_folder(void) {
  ovik_object* ini = NULL;
  ovik_value path = ovik_string(folder), name = ovik_string("test.ini");
  CHECK(ovik_create("OvikEnvironment.clsIniFile", &ini) == OVIK_OK);
  CHECK(ovik_put(ini, "Path", NULL, 0, &path) == OVIK_OK);
  CHECK(ovik_put(ini, "filename", NULL, 0, &name) == OVIK_OK); /* names without regard to case */
  return ini;
}

static void settings_are_written_and_read_back(void) {
  ovik_object* ini = ini_file_in_folder();
  ovik_value args[3] = {ovik_string("database"), ovik_string("provider"), ovik_string("SQLite")};
  ovik_value result = ovik_empty();
  CHECK(ovik_call(ini, "PutIni", args, 3, &result) == OVIK_OK);
  CHECK(is_string(&result, "1"));
  CHECK(result.flags == OVIK_VALUE_OWNED);
  ovik_value_clear(&result);
  CHECK(result.type == OVIK_EMPTY);

  CHECK(ovik_call(ini, "GetIni", args, 2, &result) == OVIK_OK);
  CHECK(is_string(&result, "SQLite"));
  ovik_value_clear(&result);
  /* Never-written by-reference arguments stay the caller's own. */
  CHECK(args[0].flags == 0 && strcmp(args[0].u.string.data, "database") == 0);

  /* A string argument is its bytes, not up to a NUL: a slice of a longer text works. */
  ovik_value slice[2] = {ovik_string("database-and-more"), ovik_string("provider")};
  slice[0].u.string.size = 8;
  CHECK(ovik_call(ini, "GetIni", slice, 2, &result) == OVIK_OK);
  CHECK(is_string(&result, "SQLite"));
  ovik_value_clear(&result);

  /* Property reads come back through the same values. */
  CHECK(ovik_get(ini, "FileName", NULL, 0, &result) == OVIK_OK);
  CHECK(is_string(&result, "test.ini"));
  ovik_value_clear(&result);
  ovik_release(ini);
}

static void a_failed_call_leaves_the_error_triple_and_the_outputs_alone(void) {
  ovik_object* ini = ini_file_in_folder();
  ovik_value args[2] = {ovik_string("database"), ovik_string("no_such_key")};
  ovik_value result = ovik_i32(7);
  CHECK(ovik_call(ini, "GetIni", args, 2, &result) == OVIK_FAILED);
  CHECK(ovik_error_number() == 60000);
  CHECK(strcmp(ovik_error_source(), "clsIniFile") == 0);
  CHECK(strlen(ovik_error_description()) > 0);
  CHECK(result.type == OVIK_I32 && result.u.i32 == 7);

  /* The next call that succeeds clears it. */
  CHECK(ovik_get(ini, "Path", NULL, 0, &result) == OVIK_OK);
  CHECK(ovik_error_number() == 0 && strcmp(ovik_error_description(), "") == 0);
  ovik_value_clear(&result);

  /* The frame's own failures, each with its number. */
  CHECK(ovik_call(ini, "NoSuchMember", NULL, 0, NULL) == OVIK_FAILED);
  CHECK(ovik_error_number() == 438);
  CHECK(strstr(ovik_error_description(), "clsIniFile.NoSuchMember") != NULL);
  CHECK(ovik_call(ini, "GetIni", args, 1, NULL) == OVIK_FAILED);
  CHECK(ovik_error_number() == 450);
  CHECK(ovik_call(NULL, "GetIni", args, 2, NULL) == OVIK_FAILED);
  CHECK(ovik_error_number() == 91);
  ovik_value odd = ovik_empty();
  odd.type = 99;
  CHECK(ovik_put(ini, "Path", NULL, 0, &odd) == OVIK_FAILED);
  CHECK(ovik_error_number() == 5);
  ovik_value null = ovik_null();
  CHECK(ovik_put(ini, "Path", NULL, 0, &null) == OVIK_FAILED);
  CHECK(ovik_error_number() == 94);

  ovik_object* none = (ovik_object*)&failures;
  CHECK(ovik_create("OvikEnvironment.clsNoSuchClass", &none) == OVIK_FAILED);
  CHECK(ovik_error_number() == 429);
  CHECK(none == (ovik_object*)&failures);
  /* Not creatable by clients, though described. */
  CHECK(ovik_create("OvikEnvironment.clsDatabase", &none) == OVIK_FAILED);
  CHECK(ovik_error_number() == 429);
  ovik_release(ini);
}

static void by_reference_outputs_are_written_back(void) {
  /* The build's application folder holds the demo settings, with the POS import files. */
  ovik_object* si = NULL;
  CHECK(ovik_create("OvikEnvironment.clsSystemInfo", &si) == OVIK_OK);
  ovik_value files[3] = {ovik_string("a"), ovik_string("b"), ovik_string("c")};
  ovik_value found = ovik_empty();
  CHECK(ovik_call(si, "funPosInfoImport", files, 3, &found) == OVIK_OK);
  CHECK(found.type == OVIK_BOOL && found.u.boolean);
  CHECK(is_string(&files[0], "/var/spool/pos/pos.csv"));
  CHECK(is_string(&files[1], "/var/spool/pos/employee.csv"));
  CHECK(is_string(&files[2], "/opt/brindlemark/bin/posimport.sh"));
  for (int i = 0; i < 3; ++i) {
    CHECK(files[i].flags == OVIK_VALUE_OWNED);
    ovik_value_clear(&files[i]);
  }

  /* A property with a parameter hands out the same shared object at every read. */
  ovik_value index = ovik_i32(0), first = ovik_empty(), second = ovik_empty();
  CHECK(ovik_get(si, "IniFiles", &index, 1, &first) == OVIK_OK);
  CHECK(ovik_get(si, "IniFiles", &index, 1, &second) == OVIK_OK);
  CHECK(first.type == OVIK_OBJECT && first.u.object != NULL && first.u.object == second.u.object);
  CHECK(first.u.object && strcmp(ovik_class_name(first.u.object), "clsIniFile") == 0);
  ovik_value_clear(&first);
  ovik_value_clear(&second);

  /* Values are converted to the parameter's type on the way in. */
  ovik_value store = ovik_string("42"), read = ovik_empty();
  CHECK(ovik_put(si, "LoginStoreCd", NULL, 0, &store) == OVIK_OK);
  CHECK(ovik_get(si, "LoginStoreCd", NULL, 0, &read) == OVIK_OK);
  CHECK(read.type == OVIK_I32 && read.u.i32 == 42);
  store = ovik_currency(25000); /* 2.5 rounds half to even */
  CHECK(ovik_put(si, "LoginStoreCd", NULL, 0, &store) == OVIK_OK);
  CHECK(ovik_get(si, "LoginStoreCd", NULL, 0, &read) == OVIK_OK);
  CHECK(read.u.i32 == 2);
  store = ovik_i64(5000000000LL);
  CHECK(ovik_put(si, "LoginStoreCd", NULL, 0, &store) == OVIK_FAILED);
  CHECK(ovik_error_number() == 6);
  ovik_release(si);
}

static void describing_members(void) {
  ovik_object* si = NULL;
  CHECK(ovik_create("OvikEnvironment.clsSystemInfo", &si) == OVIK_OK);
  ovik_member_info info;
  CHECK(ovik_member(si, "printapplog", &info) == OVIK_OK);
  CHECK(info.kinds == OVIK_METHOD && info.params == 3 && info.required == 2);
  CHECK(ovik_member(si, "LoginStoreCd", &info) == OVIK_OK);
  CHECK(info.kinds == (OVIK_GET | OVIK_PUT) && info.params == 0);
  CHECK(ovik_member(si, "IniFiles", &info) == OVIK_OK);
  CHECK(info.kinds == OVIK_GET && info.params == 1 && info.required == 1);
  CHECK(ovik_member(si, "Nothing", &info) == OVIK_FAILED && ovik_error_number() == 438);
  CHECK(ovik_member(si, NULL, &info) == OVIK_FAILED && ovik_error_number() == 438); /* no default member */
  CHECK(strcmp(ovik_member_name(si, 0), "strGetIpAddress") == 0);
  size_t n = 0;
  while (ovik_member_name(si, n) != NULL) ++n;
  CHECK(n > 20);
  ovik_release(si);
}

struct Timer {
  int events;
  int other;
  int freed;
};

static void on_event(void* user, const char* event, const ovik_value* args, size_t nargs) {
  struct Timer* t = user;
  (void)args;
  if (strcmp(event, "OnTimer") == 0 && nargs == 0)
    ++t->events;
  else
    ++t->other;
}

static void free_timer(void* user) { ++((struct Timer*)user)->freed; }

static void events_reach_the_handler_until_unadvised(void) {
  ovik_object* waiter = NULL;
  CHECK(ovik_create("OvikEnvironment.clsWaitNDispatch", &waiter) == OVIK_OK);
  struct Timer timer = {0, 0, 0};
  uint32_t cookie = 0;
  CHECK(ovik_advise(waiter, on_event, &timer, free_timer, &cookie) == OVIK_OK);
  ovik_value ms = ovik_i32(1);
  CHECK(ovik_call(waiter, "Wait", &ms, 1, NULL) == OVIK_OK);
  CHECK(timer.events == 1 && timer.other == 0 && timer.freed == 0);
  CHECK(ovik_unadvise(waiter, cookie) == OVIK_OK);
  CHECK(timer.freed == 1);
  CHECK(ovik_call(waiter, "Wait", &ms, 1, NULL) == OVIK_OK);
  CHECK(timer.events == 1);

  /* A connection still open when the object ends lets its user data go. */
  struct Timer second = {0, 0, 0};
  CHECK(ovik_advise(waiter, on_event, &second, free_timer, &cookie) == OVIK_OK);
  ovik_release(waiter);
  CHECK(second.freed == 1);

  /* An object without events refuses, and still hands the user data back. */
  struct Timer refused = {0, 0, 0};
  ovik_object* ini = NULL;
  CHECK(ovik_create("OvikEnvironment.clsIniFile", &ini) == OVIK_OK);
  CHECK(ovik_advise(ini, on_event, &refused, free_timer, &cookie) == OVIK_FAILED);
  CHECK(ovik_error_number() == 5);
  CHECK(refused.freed == 1);
  ovik_release(ini);
}

static ovik_value get(ovik_object* object, const char* property, ovik_value* args, size_t nargs) {
  ovik_value result = ovik_empty();
  CHECK(ovik_get(object, property, args, nargs, &result) == OVIK_OK);
  return result;
}

static void set_field(ovik_object* rs, const char* name, ovik_value value) {
  ovik_value key = ovik_string(name), field = get(rs, "Fields", &key, 1); /* Fields' default member */
  CHECK(ovik_put(field.u.object, "Value", NULL, 0, &value) == OVIK_OK);
  ovik_value_clear(&field);
}

static void an_in_memory_recordset_takes_appended_fields_and_rows(void) {
  ovik_object* rs = NULL;
  CHECK(ovik_new_recordset(&rs) == OVIK_OK);
  ovik_value fields = get(rs, "Fields", NULL, 0);
  ovik_value cd[] = {ovik_string("CD"), ovik_i32(3)}, nm[] = {ovik_string("NM"), ovik_i32(202), ovik_i32(20)};
  CHECK(ovik_call(fields.u.object, "Append", cd, 2, NULL) == OVIK_OK);
  CHECK(ovik_call(fields.u.object, "Append", nm, 3, NULL) == OVIK_OK);
  /* Opened as C++ opens one: no source, dynamic cursor, pessimistic lock. */
  ovik_value open[] = {ovik_empty(), ovik_empty(), ovik_i32(2), ovik_i32(2)};
  CHECK(ovik_call(rs, "Open", open, 4, NULL) == OVIK_OK);
  CHECK(ovik_call(fields.u.object, "Append", cd, 2, NULL) == OVIK_FAILED); /* only while closed */
  ovik_value_clear(&fields);
  const char* names[] = {"O'Neil", NULL};
  for (int i = 0; i < 2; ++i) {
    CHECK(ovik_call(rs, "AddNew", NULL, 0, NULL) == OVIK_OK);
    set_field(rs, "CD", ovik_i32(i + 1));
    set_field(rs, "NM", names[i] ? ovik_string(names[i]) : ovik_null());
    CHECK(ovik_call(rs, "Update", NULL, 0, NULL) == OVIK_OK);
  }
  ovik_value count = get(rs, "RecordCount", NULL, 0);
  CHECK(count.type == OVIK_I32 && count.u.i32 == 2);
  CHECK(ovik_call(rs, "MoveFirst", NULL, 0, NULL) == OVIK_OK);
  ovik_value key = ovik_string("NM"), field = get(rs, "Fields", &key, 1);
  ovik_value value = get(field.u.object, "Value", NULL, 0);
  CHECK(is_string(&value, "O'Neil"));
  ovik_value_clear(&value);
  ovik_value_clear(&field);

  CHECK(ovik_new_recordset(NULL) == OVIK_FAILED && ovik_error_number() == 5);
  ovik_release(rs);
}

static void currency_and_dates_as_text(void) {
  int64_t scaled = 0;
  CHECK(ovik_currency_from_text("-1234.5", &scaled) == OVIK_OK && scaled == -12345000);
  CHECK(ovik_currency_from_text("922337203685477.5807", &scaled) == OVIK_OK && scaled == INT64_MAX);
  CHECK(ovik_currency_from_text("-922337203685477.5808", &scaled) == OVIK_OK && scaled == INT64_MIN);
  CHECK(ovik_currency_from_text("922337203685477.5808", &scaled) == OVIK_FAILED && ovik_error_number() == 13);
  CHECK(ovik_currency_from_text("1.23456", &scaled) == OVIK_FAILED);
  CHECK(ovik_currency_from_text("1,5", &scaled) == OVIK_FAILED);
  CHECK(ovik_currency_from_text("", &scaled) == OVIK_FAILED);

  char text[32];
  CHECK(ovik_currency_to_text(-12345000, text, sizeof text) == 7 && strcmp(text, "-1234.5") == 0);
  CHECK(ovik_currency_to_text(INT64_MIN, text, sizeof text) == 21 &&
        strcmp(text, "-922337203685477.5808") == 0);
  CHECK(ovik_currency_to_text(1, text, sizeof text) == 6 && strcmp(text, "0.0001") == 0);
  /* Like snprintf: the whole length, the text cut to the buffer. */
  CHECK(ovik_currency_to_text(-12345000, text, 4) == 7 && strcmp(text, "-12") == 0);

  double days = -1;
  CHECK(ovik_date_from_text("1899-12-30", &days) == OVIK_OK && days == 0);
  CHECK(ovik_date_from_text("2024-01-05 09:03:07", &days) == OVIK_OK);
  CHECK(ovik_date_to_text(days, text, sizeof text) == 19 && strcmp(text, "2024-01-05 09:03:07") == 0);
  CHECK(ovik_date_from_text("2024-01-05T12:00:00", &days) == OVIK_OK && days == 45296.5);
  CHECK(ovik_date_to_text(-1.25, text, sizeof text) == 19 && strcmp(text, "1899-12-29 06:00:00") == 0);
  /* The years 100 to 9999 only: what lies outside once came out as a date. */
  CHECK(ovik_date_to_text(-657434.0, text, sizeof text) == 19 && strcmp(text, "0100-01-01 00:00:00") == 0);
  CHECK(ovik_date_to_text(2958465.99998, text, sizeof text) == 19 && strcmp(text, "9999-12-31 23:59:58") == 0);
  const double outside[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300, -657435.0, 2958466.0};
  for (size_t i = 0; i < sizeof outside / sizeof outside[0]; ++i)
    CHECK(ovik_date_to_text(outside[i], text, sizeof text) == 0 && text[0] == '\0' && ovik_error_number() == 6);
  CHECK(ovik_date_from_text("2023-02-29", &days) == OVIK_FAILED && ovik_error_number() == 13);
  CHECK(ovik_date_from_text("2024-01-05 09:03", &days) == OVIK_FAILED);
  CHECK(ovik_date_from_text("2024-01-05 09:03:07 extra", &days) == OVIK_FAILED);
}

int main(void) {
  strcpy(folder, "/tmp/ovik-capi.XXXXXX");
  if (mkdtemp(folder) == NULL) {
    perror("mkdtemp");
    return 1;
  }
  settings_are_written_and_read_back();
  a_failed_call_leaves_the_error_triple_and_the_outputs_alone();
  by_reference_outputs_are_written_back();
  describing_members();
  events_reach_the_handler_until_unadvised();
  currency_and_dates_as_text();
  an_in_memory_recordset_takes_appended_fields_and_rows();
  /* Every object above was released. */
  CHECK(DllCanUnloadNow() == 0);

  char file[96];
  snprintf(file, sizeof file, "%s/test.ini", folder);
  unlink(file);
  rmdir(folder);
  if (failures == 0) printf("all checks passed\n");
  return failures;
}

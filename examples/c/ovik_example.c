/* The library from C, through its C interface: the environment object, a setting, a raised error,
 * the by-reference outputs of funPosInfoImport, and an event. It reads the settings of the
 * application folder the library lies in: run it through examples/run-example.sh. */
#include <stdio.h>

#include "ovik/ovik_c.h"

static int failed(const char* what) {
  fprintf(stderr, "%s: error %d (%s): %s\n", what, (int)ovik_error_number(), ovik_error_source(),
          ovik_error_description());
  return 1;
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
  return timers == 1 ? 0 : 1;
}

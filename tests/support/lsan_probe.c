/* A leak on purpose, made only when OVIK_LSAN_PROBE=1: scripts/lsan-probe.sh runs a test of each
 * test program so and expects LeakSanitizer to report this function. That shows the leak checker
 * really runs in the program as CTest starts it; a tracer, a sandbox or an ASAN_OPTIONS of a test's
 * own can switch it off without a word, and clean runs then prove nothing. Linked into every test
 * program, and built as a module to preload where a program cannot link it. */
#include <stdlib.h>
#include <string.h>

__attribute__((noinline, used)) void ovik_lsan_probe_leak(void) {
  char* volatile block = malloc(48);
  if (block != NULL) block[0] = 1;
  block = NULL;
}

__attribute__((constructor)) static void ovik_lsan_probe(void) {
  const char* wanted = getenv("OVIK_LSAN_PROBE");
  if (wanted != NULL && strcmp(wanted, "1") == 0) ovik_lsan_probe_leak();
}

// A small library loaded by the loader tests. daxo_test_lib_hook is also
// defined by the test executable (returning 2): which one
// daxo_test_lib_calls_hook reaches shows how the library was bound. The
// symbols are exported explicitly: the build hides everything by default.
#define DAXO_TEST_EXPORT __attribute__((visibility("default")))

extern "C" {
DAXO_TEST_EXPORT __attribute__((noinline)) int daxo_test_lib_hook() {
  return 1;
}
DAXO_TEST_EXPORT int daxo_test_lib_answer() {
  return 42;
}
DAXO_TEST_EXPORT int daxo_test_lib_calls_hook() {
  return daxo_test_lib_hook();
}
}

// A shared library that is not a package: it has no entry points.
extern "C" __attribute__((visibility("default"))) int velquor_not_a_package(void) {
  return 1;
}

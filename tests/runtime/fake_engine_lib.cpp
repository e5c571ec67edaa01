// Stands in for the engine library in the runtime root test: only the
// symbol by which the runtime finds the engine's file.
extern "C" __attribute__((visibility("default"))) int daxo_init() {
  return 0;
}

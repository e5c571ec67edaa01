// The script test package's probe: the user argument of its model "probe"
// (group "VelquorScriptTestProbe"), fetched through the package's
// DAXOGetModulesDefStruct (velquor::test::ProbeOf).
#pragma once

#include <dlfcn.h>

struct VelquorScriptTestProbe {
  /// The script the next "ScriptBuilder" runs in its first Core: through
  /// DAXO::AsynchParse when `asynch`, else DAXO::Parse. Copied.
  void (*setScript)(const char* text, bool asynch);
  /// Blocks until a builder has run its script (at most 10 s): 1 when the
  /// call answered true, 0 false, -1 when none ran.
  int (*waitScriptResult)();
  /// Blocks until "ScriptSink" components have read `n` samples in all (at
  /// most 10 s); true when they did.
  bool (*waitSinkReads)(long n);
  /// While set, a "ScriptSink" constructor blocks until it is cleared.
  void (*holdSinkConstruction)(bool hold);
  /// Blocks until a constructor is held (at most 10 s); true when one is.
  bool (*waitSinkConstructionHeld)();
};

namespace velquor::test {

/// The user argument of the model "probe" of group `group` in the package
/// library at `path`, or null when that library is not loaded.
inline void* ProbeOf(const char* path, const char* group) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  auto get =
      reinterpret_cast<int (*)(const char*, void**, int)>(dlsym(handle, "DAXOGetModulesDefStruct"));
  void* table[1] = {nullptr};
  const int n = get != nullptr ? get(group, table, 1) : 0;
  dlclose(handle);
  return n == 1 ? table[0] : nullptr;
}

}  // namespace velquor::test

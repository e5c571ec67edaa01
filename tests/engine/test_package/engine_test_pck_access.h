// Finds the probe of the engine test package once an engine has loaded it.
#pragma once

#include <dlfcn.h>

#include "engine_test_pck_probe.h"

namespace velquor::test {

/// The probe of the package at `path`, or null when that library is not
/// loaded. Valid while the engine keeps the library loaded.
inline VelquorEngineTestProbe* Probe(const char* path) {
  using ProbeFn = int (*)(const char*, void**, int);
  // The engine opened the package already: this only finds it.
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return nullptr;
  auto get = reinterpret_cast<ProbeFn>(dlsym(handle, "DAXOGetModulesDefStruct"));
  void* table[1] = {nullptr};
  const int n = get != nullptr ? get("VelquorEngineTestProbe", table, 1) : 0;
  dlclose(handle);
  return n == 1 ? static_cast<VelquorEngineTestProbe*>(table[0]) : nullptr;
}

}  // namespace velquor::test

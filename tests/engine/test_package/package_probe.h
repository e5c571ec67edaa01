// How a test reaches the probe of a test package the engine has loaded: the
// user argument of the package's model "probe", fetched through its
// DAXOGetModulesDefStruct.
#pragma once

#include <dlfcn.h>

namespace velquor::test {

/// The user argument of the model "probe" of group `group` in the package
/// library at `path`, or null when that library is not loaded (the engine
/// opened it: this only finds it). Valid while the engine keeps it loaded.
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

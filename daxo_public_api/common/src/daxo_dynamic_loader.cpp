// Run-time loading of shared libraries.
#include "daxo_dynamic_loader.h"

#include <dlfcn.h>

#include "daxo_system.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kDeepBind = 0;  // the sanitizer runtimes refuse RTLD_DEEPBIND
#else
constexpr int kDeepBind = RTLD_DEEPBIND;
#endif

}  // namespace

void DAXODynamicLoader::RecordError() {
  // dlerror() is per thread and cleared by reading: keep the text here.
  const char* text = dlerror();
  m_error = text != nullptr ? text : "unknown dynamic loader error";
}

bool DAXODynamicLoader::Open(const char* path) {
  return Open(path, false);
}

bool DAXODynamicLoader::Open(const char* path, bool global) {
  Close();
  m_error = "";
  if (path == nullptr) {
    m_error = "no library name";
    return false;
  }
  const int mode = RTLD_NOW | kDeepBind | (global ? RTLD_GLOBAL : RTLD_LOCAL);
  m_handle = DAXOPrivate::RetryWithLocalePath(
      path, [mode](const char* p) { return dlopen(p, mode); },
      [](void* handle) { return handle == nullptr; });
  if (m_handle == nullptr) {
    RecordError();
    return false;
  }
  return true;
}

void* DAXODynamicLoader::LoadSymbol(const char* symbol) {
  if (m_handle == nullptr || symbol == nullptr) {
    m_error = "no library loaded";
    return nullptr;
  }
  dlerror();  // clear, so that a null symbol value is told apart from failure
  void* address = dlsym(m_handle, symbol);
  if (address == nullptr) RecordError();
  return address;
}

bool DAXODynamicLoader::Close() {
  if (m_handle == nullptr) return true;
  const int rc = dlclose(m_handle);
  m_handle = nullptr;
  if (rc != 0) {
    RecordError();
    return false;
  }
  return true;
}

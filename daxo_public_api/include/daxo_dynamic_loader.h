// Loading shared libraries at run time and looking up their symbols.
//
// A loader holds at most one library. The library is loaded with immediate
// binding (every undefined symbol resolved at load, so a missing one fails
// the load rather than a later call) and deep binding (the library's own
// symbols take precedence over the process's, so a package sees its own
// copies of the functions it carries). Sanitizer builds leave deep binding
// out: the sanitizer runtimes do not support it.
//
// Lifetime: the destructor does NOT unload the library, since objects and
// threads created from its code may outlive the loader; call Close() once
// nothing of the library is in use any more.
//
// Threading: a loader is used by one thread at a time; different loaders may
// be used concurrently (the system loader serialises itself).
#pragma once

#include "daxo_string.h"

class DAXODynamicLoader {
 public:
  DAXODynamicLoader() = default;
  ~DAXODynamicLoader() = default;
  DAXODynamicLoader(const DAXODynamicLoader&) = delete;
  DAXODynamicLoader& operator=(const DAXODynamicLoader&) = delete;

  /// Loads the library `path` (a UTF-8 file name or path, searched as the
  /// system loader searches) with local symbol visibility, after closing a
  /// library this loader held. Returns success; on failure GetErrorMessage()
  /// tells why.
  bool Open(const char* path);
  /// As Open(path), with global symbol visibility (the library's symbols
  /// then resolve references of libraries loaded later) when `global`.
  bool Open(const char* path, bool global);
  /// The address of `symbol` in the loaded library; null when nothing is
  /// loaded or the library has no such symbol.
  void* LoadSymbol(const char* symbol);
  /// Unloads the library. True when it was unloaded or nothing was open.
  bool Close();
  /// The loader's text for the last failure of this object ("" if none).
  DAXOString GetErrorMessage() const { return m_error; }
  bool IsOpen() const { return m_handle != nullptr; }

 private:
  void RecordError();

  void* m_handle = nullptr;
  DAXOString m_error;
};

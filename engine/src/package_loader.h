// PackageLoader: loads package libraries, binds them to the engine's kernel
// and records the component models they declare.
//
// A package is opened with RTLD_NOW | RTLD_LOCAL (its symbols never serve
// another package), bound with DAXOPckInit(kernel, 0x80538), which must
// answer non-zero, and asked for its component models in the group
// "DAXOComponent" and its engine-function models in "DAXOCoreFunction"
// (DAXOGetModulesDefStruct counts with a null table, then fills one; a
// package without the group has none). A model name already offered by
// another package (in the same kind) is reported and the first one kept.
// Libraries are never closed while the engine lives (objects of their code
// may still exist); the destructor closes them, and the engine destroys the
// loader after everything else.
//
// One library, one engine: a package binds the first kernel it is given and
// keeps it, so a library already opened by a loader of this process (another
// engine's, or this one under another name) is refused.
//
// Threading: every method from any thread. Load holds the loader's lock for
// the whole load, so loads are serialised and a package's DAXOPckInit runs
// under it; the lock is recursive because DAXOPckInit may itself load another
// package through the kernel. Failures are reported once the outermost Load
// has released the lock, so a sink never runs under it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "daxo_kernel.h"
#include "engine_mutex.h"
#include "velquor/engine.h"

namespace velquor {

class PackageLoader {
 public:
  using GetModulesFn = int (*)(const char*, void**, int);
  using ReportFn = std::function<void(const std::string& text, int level)>;

  PackageLoader(DAXOKernel* kernel, ReportFn report);
  /// Closes every library, last loaded first.
  ~PackageLoader();
  PackageLoader(const PackageLoader&) = delete;
  PackageLoader& operator=(const PackageLoader&) = delete;

  /// Loads the file at `path` as package `name` (the file's base name without
  /// extension when empty). False after an error report that names the file.
  bool Load(const std::string& path, const std::string& name) DAXO_EXCLUDES(m_lock);
  /// Forgets the package's models; false when no such package is loaded.
  bool Forget(const std::string& name);
  std::vector<ModelInfo> Models() const;
  /// Every engine-function model, in load order.
  std::vector<FunctionModelInfo> FunctionModels() const;
  /// True when the file at `path` (compared by canonical path) was loaded
  /// by this loader as a package that is not forgotten.
  bool HasFile(const std::string& path) const;
  /// As Load, but a file that HasFile already is not loaded again: true.
  /// Atomic: two threads using the same file load it once.
  bool Use(const std::string& path) DAXO_EXCLUDES(m_lock);
  /// The destructor will leave every library open (and refused to later
  /// loaders): a thread of a package's code may still be running.
  void KeepLibrariesLoaded();

 private:
  bool LoadLocked(const std::string& path, const std::string& name) DAXO_REQUIRES(m_lock);
  bool HasFileLocked(const std::string& canonical) const DAXO_REQUIRES(m_lock);
  /// Records the engine-function models of the package just bound.
  void ReadFunctionModels(GetModulesFn getModules, const std::string& path, const std::string& name)
      DAXO_REQUIRES(m_lock);
  bool LoadAndReport(const std::string& path, const std::string& name, bool once)
      DAXO_EXCLUDES(m_lock);
  void Fail(const std::string& text) DAXO_REQUIRES(m_lock);  // queues a report

  DAXOKernel* m_kernel;
  ReportFn m_report;
  // Recursive: a package's DAXOPckInit may load another through the kernel
  // (a nested Load is checked on its own, see daxo_thread_annotations.h).
  mutable RecursiveMutex m_lock;
  // Every library opened (handle, path), in load order.
  std::vector<std::pair<void*, std::string>> m_libraries DAXO_GUARDED_BY(m_lock);
  std::vector<std::string> m_packages DAXO_GUARDED_BY(m_lock);
  std::vector<ModelInfo> m_models DAXO_GUARDED_BY(m_lock);
  std::vector<FunctionModelInfo> m_functionModels DAXO_GUARDED_BY(m_lock);
  // Canonical path of each loaded package, by package name.
  std::vector<std::pair<std::string, std::string>> m_files DAXO_GUARDED_BY(m_lock);
  int m_depth DAXO_GUARDED_BY(m_lock) = 0;  // nesting of Load calls
  bool m_keepLoaded DAXO_GUARDED_BY(m_lock) = false;
  // Reports queued until m_depth is 0.
  std::vector<std::string> m_failures DAXO_GUARDED_BY(m_lock);
};

}  // namespace velquor

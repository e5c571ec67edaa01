// CoreFunctions: the engine functions of an engine (daxo_core_function.h),
// built from the engine-function models of the loaded packages. They live
// beside the diagram, not in it: RunDiagram does not wait for them and
// Components() does not list them, but they share the components' name
// space: a name is either a component's or a function's, never both.
//
// Each function is reached only through virtual operations (EngineStart,
// EngineEnd, UseCount, the destructor), so that it runs its package's own
// copy of the SDK.
//
// Lifecycle: Create builds one (not started, so that its properties may be
// set first), Start makes it living, Unload ends and destroys it unless it
// is in use, EndAll and DestroyAll take every one down when the engine is
// destroyed (EndAll once the components are dead, DestroyAll once they are
// destroyed: a component may still release an interface while it goes).
//
// Threading: every method from any thread. Locks, outer first: the engine's
// diagram lock (held while a function is built or destroyed, and while
// CreateComponent checks and builds a component, so that a name cannot be
// taken twice between the check and the registration) -> the table's own
// mutex, a leaf held only around the table, never while a function is
// called. A function is ended (which may wait for its threads) with no lock
// held. The whole order: daxo_lock_order.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine_mutex.h"

class DAXOCoreFunction;
struct DAXOCoreFunctionDefinition;

namespace velquor {

class Diagram;
class DiagramLock;
class PackageLoader;
class SymbolRegistry;

class CoreFunctions {
 public:
  using ReportFn = std::function<void(const std::string& text, int level)>;

  CoreFunctions(PackageLoader& packages, DiagramLock& lock, SymbolRegistry& symbols,
                Diagram& diagram, ReportFn report);
  /// DestroyAll must have run.
  ~CoreFunctions();
  CoreFunctions(const CoreFunctions&) = delete;
  CoreFunctions& operator=(const CoreFunctions&) = delete;

  /// Offers a model defined by the embedding program (it must outlive the
  /// engine). False, reported, when its name is taken or it has no
  /// instantiate function.
  bool AddModel(DAXOCoreFunctionDefinition& definition);
  /// A model of the packages (load order), then of the program; or null.
  DAXOCoreFunctionDefinition* FindModel(const std::string& model) const;

  /// Builds function `name` of `model` without starting it. Null, reported,
  /// when the model is unknown, the name empty or taken (by a component or
  /// a function) or the model's code refuses.
  DAXOCoreFunction* Create(const std::string& model, const std::string& name);
  /// Makes a built function living. False, reported, when unknown or when
  /// its start failed.
  bool Start(const std::string& name);
  /// Create, then Start; a function that does not start is destroyed again.
  bool Load(const std::string& model, const std::string& name);
  /// Ends and destroys the function. False, reported, when unknown or while
  /// its use count is above 0 (it stays loaded then).
  bool Unload(const std::string& name);
  DAXOCoreFunction* Find(const std::string& name) const;
  /// Names in load order.
  std::vector<std::string> Names() const;

  /// The diagram's Create, refused (reported) when an engine function has
  /// the name: a failed component construction would otherwise give the
  /// function's name back to the registry.
  bool CreateComponent(const std::string& model, const std::string& name);

  /// Ends every function (last loaded first), whatever its use count.
  void EndAll();
  /// Destroys every function (ending those still living), last loaded
  /// first; a function still in use is reported.
  void DestroyAll();

 private:
  struct Entry {
    std::string name;
    std::string model;
    DAXOCoreFunction* function = nullptr;
  };
  void Fail(const std::string& text) const;
  /// Ends (when living) and deletes `function` under the diagram lock.
  void Destroy(DAXOCoreFunction* function);

  PackageLoader& m_packages;
  DiagramLock& m_lock;
  SymbolRegistry& m_symbols;
  Diagram& m_diagram;
  ReportFn m_report;
  mutable Mutex m_mutex;                                                       // a leaf
  std::vector<Entry> m_entries DAXO_GUARDED_BY(m_mutex);                       // load order
  std::vector<DAXOCoreFunctionDefinition*> m_models DAXO_GUARDED_BY(m_mutex);  // the program's
};

}  // namespace velquor

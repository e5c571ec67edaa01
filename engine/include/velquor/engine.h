// The Velquor engine: the host of every package. It owns the engine clock,
// the timer service, the report sinks, the engine properties, the element
// registry, the diagram lock, the module state notices and the loaded
// packages, and implements the kernel interface (DAXOKernel) over them.
//
// Binding: libvelquor carries its own hidden copy of the SDK; the engine binds
// that copy's DAXOPrivate::kernel to itself at construction and unbinds it at
// destruction. Every other module (a package, a test executable that links
// the runtime itself) has its own copy of DAXOPrivate::kernel: a package is
// bound by LoadPackage (DAXOPckInit), an executable binds its copy with
// velquor::KernelBinding below.
//
// Threading: every method may be called from any thread. The engine must
// outlive every event armed through it and every module bound to it; destroy
// it last (unbind KernelBinding first). Lock order inside the engine, outer
// first: diagram lock -> clock's condition mutex -> clock state -> timer
// service -> event mutexes; registries, properties, notices and sinks hold
// leaf locks and never call out while holding them; the listener hub's lock
// is the innermost (listener callbacks run on the hub's own thread with no
// engine lock held). The whole order, with
// the SDK's locks between these: daxo_lock_order.h.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "daxo_kernel.h"
#include "velquor/api.h"
#include "velquor/reports.h"

class DAXOComponent;
class DAXOCoreFunction;
struct DAXOComponentDefinition;
struct DAXOCoreFunctionDefinition;

namespace velquor {

struct EngineOptions {
  /// Attach a StderrReportSink at construction.
  bool reportToStderr = true;
  /// MessageBox also opens a window (DAXO::MsgBox); otherwise it only reports.
  bool messageBoxWindows = false;
};

/// A component model offered by a loaded package.
struct ModelInfo {
  std::string name;
  std::string version;
  std::string package;
  /// The package's record of the model (its table counts resolved); lives
  /// as long as the package library, i.e. as long as the engine.
  DAXOComponentDefinition* definition = nullptr;
};

/// An engine-function model offered by a loaded package.
struct FunctionModelInfo {
  std::string name;
  std::string version;
  std::string package;
  /// The package's record (its property count resolved); lives as long as
  /// the engine.
  DAXOCoreFunctionDefinition* definition = nullptr;
};

/// One module state notice, in arrival order.
struct ModuleStateNotice {
  std::string module;
  int state = 0;
};

/// How Engine::RunDiagram ended.
enum class RunEnd { AllDead, ShutdownRequested, TimeLimit };

/// A clock known to the engine: identifier 0 is the engine clock
/// ("Engine"), 1..255 the registered DAXOBaseClock objects.
struct ClockInfo {
  int id = 0;
  std::string name;
};

/// The engine's version text ("Engine.version").
VELQUOR_API const char* EngineVersion();

class VELQUOR_API Engine {
 public:
  explicit Engine(EngineOptions options = {});
  /// Stops the script service (queued scripts are dropped, running ones
  /// end at their next line), shuts down every component, ends the engine
  /// functions, destroys the components and the functions, stops the timer service,
  /// closes the package libraries while every service still stands (their static destructors may
  /// call the kernel), unbinds the engine's SDK copy, then tears down the rest.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  /// The kernel to hand to packages and to bind in other modules.
  DAXOKernel* kernel();

  // --- packages ---------------------------------------------------------------
  /// Loads and binds the package file (name: the file's base name when
  /// empty). False, with an error report naming the file, on any failure.
  bool LoadPackage(const std::string& path, const std::string& name = {});
  /// Forgets the package's models (the library stays loaded).
  bool UnloadPackage(const std::string& name);
  /// Every model of the loaded packages, in load order.
  std::vector<ModelInfo> Models() const;
  /// Every engine-function model of the loaded packages, in load order.
  std::vector<FunctionModelInfo> FunctionModels() const;
  /// As LoadPackage, except that a file this engine has already loaded
  /// (same canonical path) is not loaded again: true.
  bool UsePackage(const std::string& path);

  // --- diagram ----------------------------------------------------------------
  // Components are built by their model's code and run by the engine; see
  // the banner of each call for what blocks. Create, start, shut down and
  // destroy a given component from one thread at a time.
  /// Offers a model defined by the embedding program (it must outlive the
  /// engine). False, reported, when its name is taken or it cannot be
  /// instantiated.
  bool AddModel(DAXOComponentDefinition& definition);
  /// Builds component `name` of `model`. False, with a report naming both,
  /// when the model is unknown, the name taken or the model's code refuses.
  bool CreateComponent(const std::string& model, const std::string& name);
  /// The component, or null. Valid until it is destroyed.
  DAXOComponent* Component(const std::string& name) const;
  /// Component names in creation order.
  std::vector<std::string> Components() const;
  /// Connects an output to an input by full names ("cam.image",
  /// "viewer.input"): the output's type must pass the input's filter; the
  /// input becomes a reader of the output's FIFO. False, reported, otherwise.
  bool Connect(const std::string& output, const std::string& input);
  /// Connects each (output, input) pair in order, stopping at the first one
  /// that fails (reported). The components at either end re-derive their
  /// elements from their connections once, after the last link, rather
  /// than after each: a component with n inputs built by n links costs
  /// O(n) instead of O(n^2). A link that needs an element made by such a
  /// re-derivation belongs in a later call.
  bool ConnectAll(const std::vector<std::pair<std::string, std::string>>& links);
  /// Detaches an input from its output (blocks while its reader gives back
  /// the samples it holds, at most 10 s).
  bool Disconnect(const std::string& input);
  /// Renames a component and all its elements.
  bool RenameComponent(const std::string& oldName, const std::string& newName);
  /// Starts one component; false (reported) when unknown or its start failed.
  bool StartComponent(const std::string& name);
  /// Asks the component to die and waits until it is dead (blocks; the
  /// component's own limit applies). False when unknown or still running.
  bool ShutdownComponent(const std::string& name);
  /// Shuts the component down if it runs, then destroys it.
  bool DestroyComponent(const std::string& name);
  /// Starts the clock when it does not run yet (and delivers the listener
  /// notices of that start before any component is born), then every
  /// component whose "autoStart" is set, in creation order. True when all
  /// started.
  bool StartDiagram();
  /// Asks every living component to die, then waits for each (blocks).
  void ShutdownDiagram();
  /// Blocks until every component has died, RequestShutdown (or the
  /// kernel's Shutdown) is called, or `limit` µs of real time have passed
  /// (negative: no limit). Shuts nothing down itself.
  RunEnd RunDiagram(DAXODelay limit = -1);
  /// Ends RunDiagram; any thread.
  void RequestShutdown();

  // --- engine functions -------------------------------------------------------
  // Built from the packages' engine-function models, beside the diagram:
  // not run by RunDiagram, not listed by Components(), but a name is either
  // a component's or a function's. See DAXOKernel's LoadCoreFunction.
  /// Offers an engine-function model defined by the embedding program (it
  /// must outlive the engine). False, reported, when the name is taken.
  bool AddFunctionModel(DAXOCoreFunctionDefinition& definition);
  /// Builds function `name` of `model` without starting it (so that its
  /// properties may be set). Null, reported, on failure.
  DAXOCoreFunction* CreateCoreFunction(const std::string& model, const std::string& name);
  /// Starts a function built by CreateCoreFunction.
  bool StartCoreFunction(const std::string& name);
  /// Builds and starts it.
  bool LoadCoreFunction(const std::string& model, const std::string& name);
  /// Ends and destroys it; false, reported, when unknown or in use.
  bool UnloadCoreFunction(const std::string& name);
  /// The function, or null. Valid until it is unloaded.
  DAXOCoreFunction* CoreFunction(const std::string& name) const;
  /// Function names in load order.
  std::vector<std::string> CoreFunctions() const;

  // --- scripts ----------------------------------------------------------------
  // The diagram script run by the engine, as DAXO::Parse runs it (see
  // DAXOKernel, "scripting"): `run` starts the diagram without waiting.
  /// Runs the lines on the calling thread; true when all succeeded.
  bool Parse(const std::string& text);
  bool ParseFile(const std::string& path);
  /// Queue the work on the engine's script thread; true when queued.
  bool AsynchParse(const std::string& text);
  bool AsynchParseFile(const std::string& path);
  /// Blocks until every queued script has run (or been dropped).
  void WaitForScripts();
  /// Folders in which a script's `load` of a bare package name looks
  /// (default: those of VELQUOR_PACKAGE_PATH).
  void SetScriptPackageFolders(std::vector<std::string> folders);

  // --- clock ------------------------------------------------------------------
  /// Starts engine time at 0 (real time unless a speed was set); a restart
  /// starts again from 0. Every clock change wakes every engine-time wait.
  void StartClock();
  void PauseClock();
  void ResumeClock();
  /// Thousandths of real time: 1000 real time, 0 holds time, negative runs
  /// backwards.
  void SetClockSpeed(int speed);
  /// Jumps engine time to `t` (µs).
  void JumpClock(DAXOTimestamp t);
  /// Current engine time (µs).
  DAXOTimestamp Now();

  // --- listeners and clocks ---------------------------------------------------
  /// Blocks until every listener notice posted before the call (clock
  /// changes, diagram run and shutdown) has been delivered. Returns at once
  /// from inside a listener's callback.
  void FlushListenerNotices();
  /// The engine clock, then the registered clocks, by identifier.
  std::vector<ClockInfo> Clocks() const;
  /// The lowest identifier of a clock named `name`, or -1.
  int FindClock(const std::string& name) const;

  // --- reports ----------------------------------------------------------------
  /// Attaches a sink: it receives every later report.
  void AddReportSink(std::shared_ptr<ReportSink> sink);
  /// Delivers a report to every sink (what the kernel's Report does).
  void Report(const std::string& text, int level, int code = 0, bool engineFlag = true);

  // --- properties -------------------------------------------------------------
  /// Creates or replaces an engine property (its type follows the setter).
  void SetBoolProperty(const std::string& name, bool value);
  void SetIntegerProperty(const std::string& name, long value);
  void SetFloatProperty(const std::string& name, double value);
  void SetStringProperty(const std::string& name, const std::string& value);
  /// Same contracts as the kernel's getters.
  bool GetBoolProperty(const std::string& name, bool* found = nullptr);
  long GetIntegerProperty(const std::string& name, bool* found = nullptr);
  double GetFloatProperty(const std::string& name, bool* found = nullptr);
  std::string GetStringProperty(const std::string& name, bool* found = nullptr);

  // --- element registry and notices -------------------------------------------
  void* FindSymbol(const std::string& fullName, DAXOSymbolKind kind);
  /// Names of the elements unregistered so far, in order.
  std::vector<std::string> RemovalNotices() const;
  /// Names of the outputs created so far (each once it is registered with
  /// its special properties), in order.
  std::vector<std::string> OutputNotices() const;
  /// Calls `listener` for every later removal (on the unregistering thread,
  /// with no engine lock held).
  void AddRemovalListener(std::function<void(const std::string&)> listener);
  /// The last state word notified for a module (`found` false: none yet).
  int ModuleState(const std::string& module, bool* found = nullptr) const;
  std::vector<ModuleStateNotice> ModuleStateNotices() const;

  // --- diagram lock -----------------------------------------------------------
  /// Takes the diagram lock only if it is free or already the caller's.
  bool TryLockDiagram(const std::string& reason);
  /// The reason given by the current holder; empty when the lock is free.
  std::string DiagramLockHolder() const;

  // --- engine state -----------------------------------------------------------
  /// Set by the kernel's Exit (its shutdown event is set too).
  bool IsExiting() const;
  /// The kernel's Release calls so far.
  int ReleaseCount() const;
  void SetCheckLevel(int level);

  // --- diagnostics ------------------------------------------------------------
  /// Multi-event waits served by the kernel (WaitForEvents) so far.
  long MultiEventWaits() const;
  /// Triggers armed in the timer service now.
  std::size_t ArmedTriggers() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

/// Binds the DAXOPrivate::kernel of the module that compiles this (an
/// executable, a library other than a package) to an engine for its
/// lifetime, and restores the previous binding afterwards. Inline on
/// purpose: it must write the calling module's copy, not libvelquor's.
class KernelBinding {
 public:
  explicit KernelBinding(Engine& engine) : m_previous(DAXOPrivate::kernel) {
    DAXOPrivate::kernel = engine.kernel();
  }
  ~KernelBinding() { DAXOPrivate::kernel = m_previous; }
  KernelBinding(const KernelBinding&) = delete;
  KernelBinding& operator=(const KernelBinding&) = delete;

 private:
  DAXOKernel* m_previous;
};

}  // namespace velquor

/// Lets the runtime find the engine library's folder (GetRuntimeRootDirectory
/// looks this symbol up); it does nothing.
extern "C" VELQUOR_API void daxo_init(void);

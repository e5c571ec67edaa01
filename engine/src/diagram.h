// Diagram: the components of an engine, created from the models of the loaded
// packages (or of models the embedding program adds), and their lifecycle:
// start, shut down, destroy, and running until every component has died.
//
// Components are built by their model's code (the definition's instantiate
// function) and reached only through virtual operations (EngineStart,
// EngineShutdown, the destructor), so that each runs its own copy of the SDK.
// The main threads of threaded components are the diagram's: started by the
// kernel's StartComponentThread, joined once their component is dead, so no
// thread still runs a package's code when the engine closes the libraries.
//
// Threading: every method from any thread, but one control thread at a time
// for create, start, shutdown and destroy of the same component (the
// embedding program's, or the tool's). Locks, outer first: the engine's
// diagram lock (held while components are created and destroyed, never
// while they start or die: a dying component may take it itself) -> the
// diagram's own mutex, a leaf held only around its tables, never while a
// component is called. State notices (StateChanged) come from component
// threads and only take the leaf mutex. The whole order: daxo_lock_order.h.
//
// Run and shutdown notices go to the engine's listener hub, posted under the
// leaf mutex so that they follow the order of the transitions: "running"
// when StartAll begins and the diagram was not running, "shutting down"
// when a running diagram's shutdown begins (RequestShutdown or ShutdownAll,
// whichever comes first). Starting or shutting down single components posts
// nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "daxo_kernel.h"
#include "daxo_types.h"
#include "engine_mutex.h"
#include "velquor/engine.h"

class DAXOComponent;
class DAXOModule;
struct DAXOComponentDefinition;

namespace velquor {

class DiagramLock;
class ListenerHub;
class PackageLoader;
class SymbolRegistry;

class Diagram {
 public:
  using ReportFn = std::function<void(const std::string& text, int level)>;
  /// Runs the life of a threaded component (the kernel's ComponentMainThread).
  using LifeFn = std::function<void(DAXOComponent*)>;
  /// `symbols`: the engine's element registry (components are registered
  /// under their names; elements are found there by full name).
  /// `listeners`: where run and shutdown notices go (none when null); it
  /// must outlive the diagram.
  Diagram(PackageLoader& packages, DiagramLock& lock, SymbolRegistry& symbols, ReportFn report,
          LifeFn life, ListenerHub* listeners = nullptr);
  /// DestroyAll must have run.
  ~Diagram();
  Diagram(const Diagram&) = delete;
  Diagram& operator=(const Diagram&) = delete;

  /// Offers a model defined by the embedding program (its code must stay
  /// loaded as long as the engine). False, reported, when the name is taken
  /// or the record has no name or no instantiate function.
  bool AddModel(DAXOComponentDefinition& definition);
  /// Every model: the packages' (load order), then the added ones.
  DAXOComponentDefinition* FindModel(const std::string& model) const;

  /// Builds component `name` of `model`. False, reported with the reason,
  /// when the model is unknown, the name is empty or taken, or the model's
  /// code refuses (instance limit, constructor failure).
  bool Create(const std::string& model, const std::string& name);
  DAXOComponent* Find(const std::string& name) const;
  /// Names in creation order.
  std::vector<std::string> Names() const;

  /// Connects output `output` to input `input` (full names, e.g.
  /// "source.output" and "sink.input"). False, reported, when either is
  /// unknown or the input refuses (type, reader limit).
  bool Connect(const std::string& output, const std::string& input);
  /// Connects each (output, input) pair in order, stopping at the first that
  /// fails; every module whose connections changed then re-derives its
  /// elements once (Connect does so after each link).
  bool ConnectAll(const std::vector<std::pair<std::string, std::string>>& links);
  /// Detaches the input from whatever it reads (blocks while its reader
  /// gives its samples back). False, reported, when the input is unknown.
  bool Disconnect(const std::string& input);

  /// Renames a component with all its elements (engine names included).
  /// False, reported, when unknown or when the new name is taken or empty.
  bool Rename(const std::string& oldName, const std::string& newName);

  /// Starts one component. False, reported, when it is unknown or its start
  /// failed (the component reported why).
  bool Start(const std::string& name);
  /// Starts every component whose "autoStart" property is true, in creation
  /// order; true when all of them started. The diagram is running from
  /// then until its shutdown begins.
  bool StartAll();
  /// Asks the component to die and waits until it is dead (at most the
  /// component's own limit), then joins its main thread.
  bool Shutdown(const std::string& name);
  /// Asks every component to die first (so that they die together, not one
  /// after the other), then shuts each down, last created first.
  void ShutdownAll();
  /// Shuts the component down if needed and destroys it. False when unknown;
  /// a component whose main thread did not end is left alive (reported).
  bool Destroy(const std::string& name);
  /// Destroys every component, last created first. False when some main
  /// thread could not be joined: the caller must then keep the packages'
  /// code loaded.
  bool DestroyAll();

  /// Starts the main thread of `component` (the kernel's operation).
  bool StartThread(DAXOComponent* component);
  /// Starts an extra thread of `owner` running `entry(record)`.
  bool StartExtraThread(void (*entry)(void*), void* record, const void* owner);
  /// A state notice from a component (the kernel's NotifyModuleState).
  void StateChanged(const std::string& module, int state);
  /// Blocks until every component has died (true at once without
  /// components), RequestShutdown is called, or `limit` µs of real time have
  /// passed (negative: no limit). Shuts nothing down itself.
  RunEnd Run(DAXODelay limit);
  /// Wakes Run; any thread (a component may ask the engine to stop). Begins
  /// the shutdown of a running diagram.
  void RequestShutdown();

 private:
  struct Entry {
    std::string name;
    std::string model;
    DAXOComponent* component = nullptr;
    int state = 0;         // last notified state word (may be stale: see AllDead)
    bool givenUp = false;  // its last Shutdown gave up waiting for its death
  };
  struct Life {
    const void* owner = nullptr;  // the component (or module) whose thread it is
    std::thread thread;
    // Guarded by the diagram's m_mutex (which the analysis cannot name from
    // here); set when the thread's body returned.
    bool finished = false;
  };
  bool Launch(const void* owner, std::function<void()> body);

  Entry* FindEntry(const std::string& name) DAXO_REQUIRES(m_mutex);
  const Entry* FindEntry(const std::string& name) const DAXO_REQUIRES(m_mutex);
  bool AllDead() const DAXO_REQUIRES(m_mutex);
  bool GivenUp(const std::string& name) const;
  /// Joins the main threads of `component` (every component's when null)
  /// once they have finished, waiting at most `wait` for them. False when
  /// one of them is still running (it stays recorded).
  bool JoinThreads(const void* owner, std::chrono::milliseconds wait);
  void Fail(const std::string& text) const;
  /// Lets `module` re-declare its elements after a change (errors dropped).
  void Notify(DAXOModule* module) const;
  bool AutoStart(const std::string& name, DAXOComponent* component) const;
  /// Marks the diagram running or not and posts the notice of a change.
  void SetRunning(bool running) DAXO_REQUIRES(m_mutex);
  /// The component's "priority" (128 when it has none or it cannot be read).
  long Priority(const std::string& name, DAXOComponent* component) const;

  PackageLoader& m_packages;
  DiagramLock& m_lock;
  ReportFn m_report;
  LifeFn m_life;
  SymbolRegistry& m_symbols;
  mutable Mutex m_mutex;  // a leaf
  std::condition_variable m_changed;
  // Added by the program.
  std::vector<DAXOComponentDefinition*> m_models DAXO_GUARDED_BY(m_mutex);
  std::vector<Entry> m_entries DAXO_GUARDED_BY(m_mutex);  // creation order
  std::vector<std::unique_ptr<Life>> m_lives DAXO_GUARDED_BY(m_mutex);
  bool m_shutdownRequested DAXO_GUARDED_BY(m_mutex) = false;
  ListenerHub* const m_listeners;
  bool m_running DAXO_GUARDED_BY(m_mutex) = false;  // between StartAll and its shutdown
};

}  // namespace velquor

// DAXOComponent: the base of every component. Built from its model's
// DAXOComponentDefinition: the standard module properties, then the standard
// component properties ("threaded", "priority", "autoStart",
// "componentModelVersion", "primaryThreadID", all special), then the
// definition's property rows, which are the component's own properties.
//
// Lifecycle: a new component is dead (DAXO::DeadState) and counts as having
// run its death already. Start makes it living: a threaded component gets a
// main thread on which the engine runs Birth, Core until the die event, and
// the death sequence (DAXOKernel::ComponentMainThread); a sequential one runs
// Birth inside Start and Core on its writers' threads. Die asks for death;
// Shutdown asks and waits; the death sequence (lose the life, Banzai, wait
// for every life, Death, Die4Good) ends in DAXO::DeadState, from which Start
// may run again.
//
// Engine entry points: the engine runs a threaded component's life from its
// own copy of the SDK, so it reaches the component only through virtual
// operations (Birth, SignalBirth, AskedToDie, PrimitiveFailed,
// PerformanceMonitoring, Core, RunDeathSequence, EngineStart, EngineDie,
// EngineShutdown, Kind): virtual dispatch lands in the code of the module
// that built the object. Those operations must stay virtual.
//
// A reading or writing call that fails (see daxo_module.h) ends the life:
// once the Birth or Core during which it failed returns, the life ends as if
// that Birth or Core had thrown DAXO::ErrorException, in both models.
//
// Threading: constructed, started, shut down and destroyed on the engine's
// control thread; Birth, Core and the death sequence run on the component's
// main thread (threaded) or on the caller's (sequential). The property
// callbacks run on the thread that writes the property, under the module's
// value locks (see daxo_module.h); they take no other lock than the module's
// threads lock. Locks, in the SDK's order (daxo_lock_order.h): lifecycle
// lock, death lock, then the module's. The death lock is held around a
// sequential component's Birth and death sequence, so that it dies once.
#pragma once

#include "daxo_module.h"
#include "daxo_pair.h"

class DAXOComponent : public DAXOModule {
 public:
  /// The location shown by the engine: x and y are -1 and z 0 at
  /// construction.
  struct Point {
    DAXOInt32 x;
    DAXOInt32 y;
    DAXOInt32 z;
  };

  /// Builds the component named `name` from `definition` (not owned; it
  /// must outlive the component). Throws DAXO::ErrorException (after the
  /// error report) when a property of the definition cannot be created.
  DAXOComponent(const char* name, DAXOComponentDefinition& definition);
  /// Gives the instance back to the model's instance limit; reports an
  /// error when the component is not dead.
  ~DAXOComponent() override;

  /// "component".
  const char* Kind() const override;

  /// Serves `input` on the caller's thread (a writer of a connected output):
  /// Core for every due sample, under the death lock, unless the component
  /// is dying or dead. Exceptions end the component as in its start; a
  /// time-out or an unknown integer is thrown on to the writer.
  void SequentialCore(DAXOInput* input) override;
  // Elements made from the rows of the component's definition: by record
  // (component outputs take no '.' or ':' in their names), by row index, or
  // by the row's name (the model name) with the element's short name.
  using DAXOModule::NewInput;
  using DAXOModule::NewProperty;
  DAXOOutput& NewOutput(const DAXOOutputDefinition& definition, const char* shortName = nullptr);
  DAXOInput& NewInput(int index, const char* shortName = nullptr);
  DAXOOutput& NewOutput(int index, const char* shortName = nullptr);
  DAXOProperty* NewProperty(int index, const char* shortName = nullptr);
  DAXOInput& NewInput(const char* model, const char* shortName);
  DAXOOutput& NewOutput(const char* model, const char* shortName);
  DAXOProperty* NewProperty(const char* model, const char* shortName);
  DAXOAction& NewAction(int index, const char* shortName = nullptr);
  DAXOAction& NewAction(const char* model, const char* shortName);
  using DAXOModule::NewAction;

  /// Re-declares the dynamic elements (called by CallDynamic with the
  /// cursors placed after the definition's own elements). The default
  /// clears the cursors: nothing is removed.
  virtual void Dynamic();
  /// Runs Dynamic() again unless the component is living (or already in
  /// it): under the engine's diagram lock, the lifecycle lock and the
  /// module lock, with the four cursors placed; then removes what was not
  /// declared again. An exception from Dynamic() sets DAXO::ErrorState and
  /// is dropped; the removal happens all the same.
  void CallDynamic();
  /// CallDynamic (the engine calls it after creating the component and after
  /// changing its connections).
  void ElementsChanged() override { CallDynamic(); }
  /// Places the cursors as CallDynamic does, without running anything.
  void ResetDynamic();

  // Property writes re-run Dynamic() (a component may derive its dynamic
  // elements from its property values).
  using DAXOModule::Set;
  void Set(DAXOProperty& property, bool value) override;
  void Set(DAXOProperty& property, long value) override;
  void Set(DAXOProperty& property, double value) override;
  void Set(DAXOProperty& property, const DAXOString& value) override;
  void Set(DAXOProperty& property, const DAXOEnumStruct& value) override;

  /// An extra thread running `function` on this component (see
  /// DAXOModule::CreateThread).
  void CreateThread(void (DAXOModule::*function)());
  /// An extra thread running `function(argument)`; (created, thread id).
  DAXOCouple<bool, unsigned long> CreateThread(void (*function)(void*), void* argument);
  /// One step of the component's work; every component defines it.
  virtual void Core() = 0;
  // Defaults do nothing.
  virtual void Birth() {}
  virtual void Banzai() {}
  virtual void Death() {}
  /// Frees every output's buffer, under the module lock.
  virtual void FreeBuffers();
  /// The location's address (valid as long as the component).
  virtual Point* GetLocation() { return &m_location; }
  virtual void SetLocation(const Point& location) { m_location = location; }

  // --- engine entry points (virtual: see the banner) ----------------------
  /// Sets "primaryThreadID" to the calling (main) thread's kernel id and the
  /// birth event (Start may be waiting for it). Called once Birth has
  /// returned.
  virtual void SignalBirth();
  /// True once the component was asked to die (DAXO::DyingState or the die
  /// event): the engine stops calling Core.
  virtual bool AskedToDie();
  /// True once a reading or writing call failed in this life (reported, and
  /// DAXO::ErrorState set): the engine ends the life after the Birth or Core
  /// that was running returns.
  virtual bool PrimitiveFailed();
  /// "primaryThreadID" back to -1, then the death sequence: marks death called (and dying, with the
  /// die event, when it was not yet: a fatal exception ends the life), LoseOneLife, Banzai,
  /// Wait4Death, CallDeath, Die4Good. Blocks at most as long as Wait4Death. The component may be
  /// destroyed by its owner as soon as DAXO::DeadState is set, i.e. the moment this returns.
  virtual void RunDeathSequence();
  /// Start and Shutdown as the engine's diagram calls them: the engine's
  /// copy of the SDK must not run the lifecycle of a component built by a
  /// package, so it goes through these. Same contracts as Start and
  /// Shutdown (EngineStart throws what Start throws).
  virtual void EngineStart() { Start(); }
  virtual void EngineDie() { Die(); }
  virtual void EngineShutdown() { Shutdown(); }

  // --- lifecycle (engine control thread) -------------------------------------
  /// Starts the component: a living one only repeats its state notice.
  /// Otherwise checks that every own property needing initialisation was
  /// set (if not: kernel error, throws DAXO::ErrorException, LivingState
  /// clear and ErrorState set), applies the definition's threading model,
  /// then starts the main thread (threaded; waits up to 3 s for Birth when
  /// "Engine.sequentialStart" is true) or runs Birth on the caller
  /// (sequential). Failing to create the thread raises Error.
  void Start();
  /// Asks the component to die, runs a sequential component's death, and
  /// waits (polling, at most 10 s, then reports) until it is dead; then
  /// resets the reading state and frees the buffers. Blocks.
  void Shutdown();
  /// Calls Death() and reports and drops any exception it throws.
  void CallDeath();
  /// The last step of every death: reports "Component <name> is dead.",
  /// zeroes the period properties and leaves only DAXO::DeadState (with
  /// StartAutomaticallyState when set).
  void Die4Good();
  /// Ends the component from its own code: threaded, throws
  /// DAXO::ModuleDied (let it leave Core); sequential, runs the death
  /// sequence at once and returns.
  void CommitSuicide();
  /// A sequential component's death, once: later calls do nothing.
  void SequentialDeath();
  /// Resets the reading state of inputs and FIFO readers (none yet) and
  /// clears DAXO::DyingState.
  void CleanUp();
  bool BirthSignalled() const { return m_birthEvent.State(); }

  DAXOComponentDefinition* Definition() const { return m_definition; }
  /// The threading model chosen through the "threaded" property.
  bool IsThreaded();

  /// Action callback: gives the component the name of the output that feeds
  /// its first input ("cam.image" gives "cam_image", or "cam_image_1" ...
  /// "cam_image_20" when taken), through the engine. Refused while the
  /// engine runs; reports what stops it.
  static void ActionRenameAfterUpstreamComponent(DAXOModule* module, int actionIndex);

  // Set callbacks of the standard properties.
  static void SetThreadedPropertyCallback(DAXOProperty& property);
  /// Values outside 0..255 (read as unsigned, so negative ones too) are set
  /// back to 128 and raise an error; others go to every thread's priority.
  static void SetPriorityPropertyCallback(DAXOProperty& property);
  static void SetAutoStartPropertyCallback(DAXOProperty& property);

  // Standard component property definitions.
  static const DAXOPropertyDefinition ThreadedPropertyDefinition;
  static const DAXOPropertyDefinition PriorityPropertyDefinition;
  static const DAXOPropertyDefinition AutoStartPropertyDefinition;
  static const DAXOPropertyDefinition VersionPropertyDefinition;
  static const DAXOPropertyDefinition PrimaryThreadIDPropertyDefinition;

 protected:
  DAXOMutex2 m_lifecycleLock;
  DAXOMutex m_deathLock;
  // Written under the death lock by the sequential model; atomic because
  // the threaded model's death runs on the main thread without it.
  std::atomic<bool> m_deathCalled{true};
  DAXOEvent m_birthEvent;
  bool m_inDynamic DAXO_GUARDED_BY(m_lifecycleLock) = false;

 private:
  /// The death sequence proper; the caller holds the death lock or runs the
  /// threaded model.
  void DeathSequence();
  /// Reacts to an exception of the sequential start (Birth): reports,
  /// marks dying, runs the death sequence. Call from a catch block.
  void SequentialStartFailed();
  void FatalReport(const DAXOString& text);
  /// After a sequential Birth or Core: throws DAXO::ErrorException when a
  /// reading or writing call failed and the component did not end itself,
  /// so that the death follows the path of a step that raised Error.
  void EndLifeOnFailure();
  /// Core for each due sample of `input` (input subsampling; samples not due
  /// are taken and given back). `releaseAll`: every input gives back what it
  /// holds after each Core.
  void ServeInput(DAXOInput& input, bool releaseAll = false);
  void ReleaseAllInputs();
  void SetIfPresent(const char* property, long value);
  // Steps of Start, which holds the lifecycle lock around them.
  /// Makes the threading model one the definition allows (with a warning).
  void ApplyThreadingModel();
  /// Counts the life and has the engine start the main thread; waits for
  /// Birth when "Engine.sequentialStart" is true. False (the life given back,
  /// death marked called) when the thread could not be started.
  bool LaunchMainThread();
  /// Birth and the inputs received so far, on the caller's thread, under
  /// the death lock; an exception ends the life (SequentialStartFailed).
  void BirthOnCaller();

  DAXOComponentDefinition* m_definition;
  std::atomic<bool> m_threaded{false};
  Point m_location{-1, -1, 0};
};

namespace DAXO {
/// The engine's kill operation on the component's instance name.
bool KillComponent(DAXOComponent& component);
}  // namespace DAXO

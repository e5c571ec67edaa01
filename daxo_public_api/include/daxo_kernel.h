// The engine kernel: the host object an engine hands to a package when it
// binds it (DAXOPckInit). Every engine service the SDK uses is one virtual
// operation here; the DAXO:: and DAXOPrivate:: functions of the SDK are thin
// forwarders over them.
//
// Binding: DAXOPrivate::kernel is null until the package is bound and null
// again after DAXO::Exit. It is written only while no component of the
// package runs, so readers take no lock.
//
// Threading: every operation may be called from any thread at any time; an
// implementation must be thread-safe. No operation may call back into the
// caller while holding an engine lock, except where stated (the diagram
// lock is held by its taker across its own calls).
//
// Neutral services: operations this engine has no use for (recording,
// distributed clocks, HMI keys, synchronisers, engine functions, scripting)
// have non-pure defaults here that answer a documented
// neutral value; an engine may override them. Everything the SDK's main road
// relies on is pure.
#pragma once

#include "daxo_types.h"

class DAXOComponent;
class DAXOModule;
class DAXOInput;
class DAXOOutput;
class DAXOEvent;
class DAXOCondition;
class DAXOMutex;
class DAXOSynchronizer;

/// What a registered full name denotes (element name registry).
enum class DAXOSymbolKind : int {
  Module = 0,
  Component = 1,
  Input = 2,
  Output = 3,
  Property = 4,
  Action = 5,
  Object = 6,  // any other engine object, e.g. "Engine.time"
};

class DAXOKernel {
 public:
  virtual ~DAXOKernel() = default;

  // --- lifetime --------------------------------------------------------------
  /// Asks the engine to stop: the diagram is shut down. Called by DAXO::Exit.
  virtual void Exit() = 0;
  /// The package drops its reference to the kernel; the kernel must not be
  /// used by that package afterwards. Called by DAXO::Exit after Exit().
  virtual void Release() = 0;

  // --- time ------------------------------------------------------------------
  // Engine time is signed 64-bit microseconds. Speed is in thousandths of
  // real time: 1000 real time, 0 stopped, negative backwards.

  /// Current engine time. The two flags are accepted for compatibility
  /// (precise reading, synchronised reading); this engine's reading is always
  /// both.
  virtual DAXOTimestamp CurrentTime(bool precise, bool synchronised) = 0;
  /// Jumps engine time to `t`; wakes every engine-time wait. False when the
  /// clock refuses (never on this engine).
  virtual bool SetCurrentTime(DAXOTimestamp t) = 0;
  /// Replay speed in thousandths (its sign gives the direction).
  virtual int TimeSpeed() = 0;
  /// Sets the speed; wakes every engine-time wait.
  virtual bool SetTimeSpeed(int speed) = 0;
  /// The effective speed of the clock in thousandths: 0 while paused or not
  /// running, otherwise TimeSpeed().
  virtual int GetAbsoluteTimeSpeed() = 0;
  /// 0 running, 1 paused, 2 stopped (the clock does not advance).
  virtual int TimeState() = 0;
  virtual bool IsPaused() = 0;
  /// Pauses or resumes the clock; wakes every engine-time wait.
  virtual void SetPaused(bool paused) = 0;
  /// Engine time at which the clock was last (re)based.
  virtual DAXOTimestamp TimeReference() = 0;
  /// Monotonic system time in microseconds (the clock of timer triggers).
  virtual DAXOTimestamp GetSystemAccurateTiming() = 0;
  /// The time-change condition: its waiters are woken whenever the speed,
  /// the pause state or the time itself changes. Waiters arm it with
  /// WaitX between BeginTimeComputation and the wait, and release it with
  /// AchieveWaitX; the condition's protecting mutex is the one taken by
  /// BeginTimeComputation.
  virtual DAXOCondition* TimeChangeCondition() = 0;
  /// Brackets one engine-time computation: Begin takes the clock's mutex so
  /// that speed and time read after it are consistent with the time-change
  /// condition; End gives it back (after the wait's AchieveWaitX).
  virtual void BeginTimeComputation() = 0;
  virtual void EndTimeComputation() = 0;

  // Neutral: no replay index here.
  virtual void SetTimeAdapt(int) {}
  /// Neutral: 0 (no recording to replay).
  virtual DAXOTimestamp GetFirstTimestamp() { return 0; }
  /// Neutral: 0 (no recording to replay).
  virtual DAXOTimestamp GetLastTimestamp() { return 0; }

  // --- events and timers ------------------------------------------------------
  /// Blocks until one of `events[0..n-1]` is set or `timeout` microseconds of
  /// real time have passed (-1: no time-out). Returns the lowest index of an
  /// event found set, -3 on time-out, any other value on error. `msg` asks
  /// for message-queue awareness, which this platform does not have.
  virtual int WaitForEvents(int n, DAXOEvent** events, DAXODelay timeout, bool msg) = 0;
  /// Arms `event` to be set when GetSystemAccurateTiming() reaches `when`.
  /// False when no timer is available.
  virtual bool SetEventTrigger(DAXOEvent* event, DAXOTimestamp when) = 0;
  /// Drops `event` from the timer service; no effect if it is not armed.
  virtual void ResetEventTrigger(DAXOEvent* event) = 0;

  // --- reports ----------------------------------------------------------------
  /// Delivers one report: text, level (0 info, 1 warning, 2 error, 3 echo),
  /// the caller's code and whether the SDK itself made it (engine flag).
  virtual void Report(const char* text, int level, int code, bool engineFlag) = 0;
  /// Shows a message window or prints it; `kind` as DAXO::MsgBox.
  virtual void MessageBox(const char* text, int kind, int code, bool engineFlag) = 0;

  // --- engine state and properties -------------------------------------------
  /// Engine state bits: DAXO::Running 0x1, Paused 0x2, ShuttingDown 0x4,
  /// Resetting 0x8.
  virtual int GetState() = 0;
  /// Check level of I/O element accessors (0: no checks).
  virtual int CheckLevel() = 0;
  /// Engine properties ("Engine.sequentialStart", "Engine.shutdownTimeout",
  /// "Engine.version", ...). `found` (may be null) tells whether it exists;
  /// a missing property reads as false, 0, 0.0 or an empty string.
  virtual bool GetBoolProperty(const char* name, bool* found) = 0;
  virtual long GetIntegerProperty(const char* name, bool* found) = 0;
  virtual double GetFloatProperty(const char* name, bool* found) = 0;
  /// The returned text stays valid until the property is set again.
  virtual const char* GetStringProperty(const char* name, bool* found) = 0;
  /// An event set when the engine starts shutting its diagram down.
  virtual DAXOEvent* GetShutdownEvent() = 0;
  /// Neutral: the configuration value of a key, or null when unknown.
  virtual const char* GetGlobalConfigValue(const char*) { return nullptr; }
  /// Neutral: "Velquor".
  virtual const char* About() { return "Velquor"; }

  // Neutral: no recording, replay or distribution on this engine.
  virtual bool IsRecording() { return false; }
  virtual bool IsReplaying() { return false; }
  virtual bool IsDistributedAsMaster() { return false; }
  virtual bool IsDistributedAsSlave() { return false; }
  /// Neutral: DAXO::DefaultKeysState (0x600: run and shutdown keys).
  virtual int GetKeysState() { return 0x600; }
  /// Number of FIFO overflows signalled so far.
  virtual long GetNbFifoOverflows() = 0;
  /// A process-wide mutex for code that must serialise against every
  /// component (rarely needed).
  virtual DAXOMutex* GlobalOSMutex() = 0;

  // --- engine control ---------------------------------------------------------
  /// Runs the diagram (starts every component meant to start). Until an
  /// engine has a diagram to run: false.
  virtual bool Run() { return false; }
  /// Shuts the diagram down. Until an engine has a diagram: false.
  virtual bool Shutdown() { return false; }
  /// Pauses / resumes engine time.
  virtual bool Pause() {
    SetPaused(true);
    return true;
  }
  virtual bool Play() {
    SetPaused(false);
    return true;
  }
  // Product-level controls with no use here. Neutral: false.
  virtual bool Reset() { return false; }
  virtual bool Stop() { return false; }
  virtual bool Next() { return false; }
  virtual bool Previous() { return false; }
  virtual bool Record() { return false; }
  virtual bool Go2Index(int) { return false; }
  virtual bool Go2PreviousIndex() { return false; }
  virtual bool Go2NextIndex() { return false; }
  virtual bool SetRecording(bool) { return false; }
  virtual bool Record(const char*, const char*, const char*, bool, bool) { return false; }
  virtual bool Replay(const char*) { return false; }
  virtual bool Copy(const char*, const char*) { return false; }

  // --- element registry and diagram lock ------------------------------------
  /// Registers `object` under its full name. False when the name is taken.
  virtual bool RegisterSymbol(const char* fullName, DAXOSymbolKind kind, void* object) = 0;
  /// Removal notice: the element named `fullName` is gone.
  virtual void UnregisterSymbol(const char* fullName) = 0;
  /// The object registered under `fullName` with that kind, or null.
  virtual void* FindSymbol(const char* fullName, DAXOSymbolKind kind) = 0;
  /// Takes the diagram lock (recursive); `reason` says why, for diagnostics.
  /// While it is held the diagram (components and connections) cannot change
  /// under the holder. It is the outermost lock (daxo_lock_order.h).
  virtual void LockDiagram(const char* reason) = 0;
  virtual void UnlockDiagram() = 0;
  /// A module's state word changed (DAXO::DeadState ... StartAutomatically).
  virtual void NotifyModuleState(const char* moduleName, int state) = 0;

  // --- component threads --------------------------------------------------------
  /// Runs the life of a threaded component on the calling thread (the one
  /// its Start created) and returns when the component is dead: calls
  /// Birth() once, then SignalBirth(), then Core() (after
  /// PerformanceMonitoring()) until AskedToDie(); DAXO::ModuleDied ends the
  /// loop quietly, any other exception from Birth or Core is reported with a
  /// fixed text naming the component and ends it too; finally
  /// RunDeathSequence(). Every call on the component is a virtual one, so
  /// that it runs the component's own copy of the SDK. Once
  /// RunDeathSequence has returned the component may already be destroyed
  /// by its owner: the engine does not touch it again. Never throws.
  virtual void ComponentMainThread(DAXOComponent* component) = 0;
  /// Starts a thread owned by the engine that runs ComponentMainThread for
  /// `component`. False when no thread could be started. The engine keeps
  /// the thread joinable, so that no thread still runs a package's code when
  /// the package's library is closed.
  virtual bool StartComponentThread(DAXOComponent* component) = 0;
  /// Starts a thread owned by the engine that calls `entry(record)`: an
  /// extra thread of `owner` (joined with its owner's threads). `entry`
  /// must copy what it needs from `record` before signalling its creator.
  /// False when no thread could be started.
  virtual bool StartModuleThread(void (*entry)(void*), void* record, DAXOModule* owner) = 0;

  // --- diagram -----------------------------------------------------------------
  // Components by instance name, connections by full element names. None of
  // these may be called from the named component's own threads: starting,
  // shutting down and killing wait for it. False (reported) on failure.
  /// Builds component `name` of `model`; starts it too when `start`.
  virtual bool CreateComponent(const char* model, const char* name, bool start) = 0;
  virtual bool StartComponent(const char* name) = 0;
  virtual bool ShutdownComponent(const char* name) = 0;
  /// Shuts the component down and destroys it.
  virtual bool KillComponent(const char* name) = 0;
  virtual bool RenameComponent(const char* oldName, const char* newName) = 0;
  /// Connects output `output` to input `input` (full names).
  virtual bool Attach(const char* output, const char* input) = 0;
  /// Detaches `input` when it reads `output`.
  virtual bool Detach(DAXOOutput* output, DAXOInput* input) = 0;
  /// The component of that name, or null.
  virtual DAXOComponent* Component(const char* name) = 0;

  // --- packages and engine functions -----------------------------------------
  /// Loads the package file at `path` under `name` (null: the file's base
  /// name). False, with a report naming the file, when it cannot be loaded.
  virtual bool RegisterPackage(const char* path, const char* name) = 0;
  /// Forgets a package's models. The library stays loaded while the engine
  /// lives: objects of its code may still exist.
  virtual bool UnregisterPackage(const char* name) = 0;
  /// Engine functions (daxo_core_function.h), outside the diagram but in
  /// its name space. LoadCoreFunction builds function `name` of model
  /// `model` and starts it: false (reported) when the model is unknown or
  /// the name is taken by a component or another function.
  /// UnloadCoreFunction ends and destroys it: false (reported) when unknown
  /// or while its use count is above 0. CoreFunction: the DAXOCoreFunction
  /// of that name, or null; the pointer is valid until the function is
  /// unloaded, and the use count protects it only from GetInterface on: an
  /// unload racing between the look-up and GetInterface frees it (whoever
  /// loads a function unloads it once its users have let it go).
  /// Neutral, for an engine without them: false / null.
  virtual bool LoadCoreFunction(const char* /*model*/, const char* /*name*/) { return false; }
  virtual bool UnloadCoreFunction(const char* /*name*/) { return false; }
  virtual void* CoreFunction(const char* /*name*/) { return nullptr; }

  // --- recording signals, clocks, listeners, synchronisers (neutral) ---------
  /// A FIFO overflowed; `output` is the DAXOOutput concerned.
  virtual void SignalFifoOverflow(void* output) = 0;
  virtual void SignalRecordSkipped() {}
  virtual void FromNowOnDataAreUnsorted() {}
  virtual void StopSendingData() {}
  virtual void StopReplaying() {}
  virtual void InitializeSession() {}
  virtual void RegisterStandardPackages() {}
  /// Neutral: clock identifiers are 0 (the engine clock).
  virtual unsigned char RegisterClock(void*) { return 0; }
  virtual void UnregisterClock(void*) {}
  virtual unsigned char GetCurrentClockID() { return 0; }
  virtual unsigned char GetMasterCurrentClockID() { return 0; }
  virtual bool SetAbsoluteTimeSpeed(int, int) { return false; }
  virtual void SignalMasterClockChanged(unsigned char) {}
  virtual void SynchClockCurrentTime() {}
  virtual DAXOTimestamp GetVirtualClockTimebase() { return 0; }
  virtual DAXOTimestamp GetVirtualClockTimebaseX() { return 0; }
  virtual void InitVirtualClockTime(long, long, int) {}
  virtual void UninitVirtualClockTime() {}
  /// Listener registration: the engine keeps the listener and calls it back.
  /// Neutral: listeners are accepted and never called.
  virtual void RegisterListener(int /*kind*/, void* /*listener*/) {}
  virtual void UnregisterListener(int /*kind*/, void* /*listener*/) {}
  virtual void UpdateKeysState() {}
  virtual void UpdateFirstLastTimestamp() {}
  /// Neutral: no synchronisers; the out-pointer is set to null.
  virtual bool GetSynchronizer(void*, DAXOSynchronizer** s) {
    if (s != nullptr) *s = nullptr;
    return false;
  }
  virtual bool ReleaseSynchronizer(void*, DAXOSynchronizer** s) {
    if (s != nullptr) *s = nullptr;
    return false;
  }
  virtual void SignalSynchronizationCommand(long) {}

  // --- scripting ------------------------------------------------------------
  // The engine's diagram script (load, component, function, connect, set,
  // run; see velquor/script.h). Errors are reports "<where>:<line>: <what>"
  // at error level; the script stops at its first failing line. A script
  // run by the engine never waits for the diagram: its `run` line starts
  // the diagram (as Run()) and goes on, and `run SECONDS` is refused.
  // Neutral, for an engine without scripts: false, nothing runs.
  /// Runs the lines of `text` on the calling thread; true when every line
  /// succeeded. From a component's thread: the script ends early (false)
  /// once the component is asked to die.
  virtual bool Parse(const char* /*text*/) { return false; }
  /// As Parse with the file at `path` (reports name the file; relative
  /// `load` paths are taken from its folder).
  virtual bool ParseFile(const char* /*path*/) { return false; }
  /// Queues `text` for the engine's script thread and returns at once: true
  /// when queued. Work still queued when the engine shuts down is dropped
  /// (reported), never run.
  virtual bool AsynchParse(const char* /*text*/) { return false; }
  virtual bool AsynchParseFile(const char* /*path*/) { return false; }

  // --- pinned look-ups --------------------------------------------------------
  // An element found by name may be destroyed before its finder uses it.
  // FindPinned finds it and pins its owner (a module) in one step under the
  // registry's lock; the owner's destruction begins with RetireOwner, which
  // waits until no pin is left and refuses new ones. The pinned finder takes
  // the owner's locks itself (never under the registry's lock: element
  // creation registers names with the module lock held) and checks that the
  // element is still the owner's before using it.
  // Neutral, for an engine without pins: FindSymbol and `ownerOf`, no pin
  // (the two steps stay open to a concurrent removal).
  /// The object under `fullName` with that kind, and `*owner` :=
  /// ownerOf(object), pinned; null (no pin) when there is none or its owner
  /// is being destroyed. `ownerOf` runs under the registry's lock and must
  /// only read a field.
  virtual void* FindPinned(const char* fullName, DAXOSymbolKind kind, void* (*ownerOf)(void*),
                           void** owner) {
    void* object = FindSymbol(fullName, kind);
    *owner = object != nullptr ? ownerOf(object) : nullptr;
    return object;
  }
  /// Gives back a pin of FindPinned.
  virtual void Unpin(void* /*owner*/) {}
  /// Blocks until `owner` has no pin and refuses new ones. The caller must
  /// hold none of the owner's locks.
  virtual void RetireOwner(void* /*owner*/) {}
  /// The retired owner's elements have left the registry: forget it.
  virtual void ForgetOwner(void* /*owner*/) {}

  // --- element notices --------------------------------------------------------
  /// An output named `fullName` was created and registered (after its
  /// special properties). Neutral: ignored.
  virtual void NotifyOutputCreated(const char* /*fullName*/) {}
};

namespace DAXOPrivate {
/// The bound engine kernel, or null.
extern DAXOKernel* kernel;

/// The kernel's report operation; without a bound kernel the text goes to
/// standard error so that nothing reported before binding is lost.
void Report(const char* text, int level, int code, bool engineFlag);
}  // namespace DAXOPrivate

namespace DAXO {
/// Monotonic system time in microseconds: the clock of DAXOTimer and of
/// event triggers. Falls back to CLOCK_MONOTONIC when no kernel is bound.
DAXOTimestamp GetSystemAccurateTiming();

/// Engine-wide reports, prefixed "External : " (level 0, 1, 2).
void ReportInfo(const char* text, int code = 0);
void ReportWarning(const char* text, int code = 0);
void ReportError(const char* text, int code = 0);
}  // namespace DAXO

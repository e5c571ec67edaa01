// The engine's services as free functions: the DAXO:: facade that
// components call and DAXOPrivate::, the SDK's own gate to the kernel.
//
// Almost every function forwards one call to the bound engine kernel
// (DAXOPrivate::kernel, include/daxo_kernel.h) and returns its answer
// unchanged; calling one before the package is bound or after DAXO::Exit is
// a usage error (the kernel pointer is null). The few that add behaviour say
// so. Report texts are built here with their fixed prefixes.
//
// Threading: the facade keeps no state and takes no lock; every function may
// be called from any thread (the kernel is thread-safe).
#pragma once

#include <atomic>

#include "daxo_kernel.h"

class DAXODynamicLoader;
class DAXOComponent;

namespace DAXO {

// Engine state bits (GetState).
constexpr int Running = 0x1;
constexpr int Paused = 0x2;
constexpr int ShuttingDown = 0x4;
constexpr int Resetting = 0x8;

// HMI key bits (GetKeysState).
constexpr int VCRKeyPlay = 0x1;
constexpr int VCRKeyStop = 0x2;
constexpr int VCRKeyRewind = 0x4;
constexpr int VCRKeyForward = 0x8;
constexpr int VCRKeyRecord = 0x10;
constexpr int VCRKeyPause = 0x20;
constexpr int VCRKeyNext = 0x40;
constexpr int VCRKeyOrganize = 0x80;
constexpr int VCRSlider = 0x100;
constexpr int VCRAllKeys = 0xFFFF;
constexpr int KernelKeyRun = 0x200;
constexpr int KernelKeyShutdown = 0x400;
constexpr int DefaultKeysState = 0x600;

// --- time ---------------------------------------------------------------------
DAXOTimestamp CurrentTime(bool precise = true, bool synchronised = true);
bool SetCurrentTime(DAXOTimestamp t);
int TimeSpeed();
bool SetTimeSpeed(int speed);
int TimeState();
DAXOTimestamp TimeReference();
void SetTimeAdapt(int adapt);
DAXOTimestamp GetFirstTimestamp();
DAXOTimestamp GetLastTimestamp();
// GetSystemAccurateTiming: include/daxo_kernel.h.

// --- engine state ---------------------------------------------------------------
int GetState();
bool IsPaused();
int CheckLevel();
bool IsDistributedAsMaster();
bool IsDistributedAsSlave();
bool IsRecording();
bool IsReplaying();
int GetKeysState();
DAXOEvent* GetShutdownEvent();
long GetNbFifoOverflows();
DAXOMutex* GlobalOSMutex();
const char* About();

// --- engine control -----------------------------------------------------------
bool Run();
bool Reset();
bool Shutdown();
bool Play();
bool Stop();
bool Pause();
bool Next();
bool Previous();
bool Record();
bool Go2Index(int index);
bool Go2PreviousIndex();
bool Go2NextIndex();
bool StartRecording();
bool StopRecording();
bool Record(const char* path, const char* folder, const char* name, bool a, bool b);
bool Replay(const char* path);
bool Copy(const char* from, const char* to);

// --- packages, engine functions, configuration -------------------------------
bool RegisterPackage(const char* path, const char* name);
bool UnregisterPackage(const char* name);
/// Engine functions (daxo_core_function.h): CoreFunction answers the
/// DAXOCoreFunction of that name, or null.
bool LoadCoreFunction(const char* model, const char* name);
bool UnloadCoreFunction(const char* name);
void* CoreFunction(const char* name);
const char* GetGlobalConfigValue(const char* key);

/// Properties anywhere in the engine by full name ("Engine.sequentialStart",
/// ...), answered by the kernel; `found` (may be null) tells whether the
/// property exists.
bool GetBoolProperty(const char* name, bool* found = nullptr);
long GetIntegerProperty(const char* name, bool* found = nullptr);
double GetFloatProperty(const char* name, bool* found = nullptr);

// --- synchronisers ----------------------------------------------------------------
bool GetSynchronizer(void* key, DAXOSynchronizer** synchronizer);
bool ReleaseSynchronizer(void* key, DAXOSynchronizer** synchronizer);

// --- diagram ------------------------------------------------------------------------
// Forwarded to the engine (see DAXOKernel). Not from the named component's
// own threads.
bool CreateComponent(const char* model, const char* name, bool start);
bool StartComponent(const char* name);
bool RunComponent(const char* name);
bool ShutdownComponent(const char* name);
bool KillComponent(const char* name);
bool RenameComponent(const char* oldName, const char* newName);
bool Attach(const char* output, const char* input);
bool Attach2(const char* output, const char* input);
DAXOComponent* Component(const char* name);
/// Diagram-script lines run by the engine (DAXOKernel, "scripting"): Parse
/// and ParseFile on the calling thread, true when every line succeeded;
/// the Asynch forms queue the work on the engine's script thread and answer
/// whether it was queued. Errors are reports naming the line (and file).
bool Parse(const char* text);
bool ParseFile(const char* path);
bool AsynchParse(const char* text);
bool AsynchParseFile(const char* path);

// --- functions with behaviour of their own ----------------------------------------
/// Shows `text` in a message window titled "Velquor" (kind as DAXO::MsgBox).
void MessageBox(const char* text, int kind, int code);
/// Does nothing (no replay indexes on this engine).
void SetIndex();
/// Reports "External report : " + text at `level` with `code`.
void Report(const char* text, int level, int code);

}  // namespace DAXO

namespace DAXOPrivate {

/// A computed real-time wait of at most this many microseconds counts as
/// already elapsed.
constexpr DAXODelay MinimumWaitTime = 1;

/// Reports `text` at error level with the engine flag set, then throws
/// DAXO::ErrorException.
[[noreturn]] void KernelError(const char* text, int code);
/// Shows `text` in a message window titled "Velquor Engine" when
/// `engineFlag` is set, "Velquor" otherwise.
void MessageBox(const char* text, int kind, int code, bool engineFlag);

/// The engine's own string property `name` ("Engine.version"), or an empty
/// text; `found` as above. The text stays valid until the property is set.
const char* EngineStringProperty(const char* name, bool* found = nullptr);

// Pass-throughs to the kernel (one operation each).
int GetAbsoluteTimeSpeed();
bool SetAbsoluteTimeSpeed(int speed, int clock);
unsigned char GetCurrentClockID();
unsigned char GetMasterCurrentClockID();
void SignalMasterClockChanged(unsigned char clock);
void SynchClockCurrentTime();
DAXOTimestamp GetVirtualClockTimebase();
DAXOTimestamp GetVirtualClockTimebaseX();
void InitVirtualClockTime(long a, long b, int c);
void UninitVirtualClockTime();
void SignalRecordSkipped();
void SignalFifoOverflow(void* output);
long GetNbFifoOverflows();
void FromNowOnDataAreUnsorted();
void StopSendingData();
void StopReplaying();
void InitializeSession();
void RegisterStandardPackages();
int GetKeysState();

}  // namespace DAXOPrivate

/// A clock known to the engine: an identifier the engine gives it when it
/// registers (1..255; 0, the engine clock's, when the engine has no room or
/// keeps no clocks), and a name. Derived clocks define their own time
/// operations; the engine calls none of them. A module that is also a clock
/// renames its clock with it (DAXOModule::Rename).
/// Threading: construct, rename and destroy from one thread.
class DAXOBaseClock {
 public:
  /// Copies `name` (null gives an empty name) and registers the clock.
  explicit DAXOBaseClock(const char* name);
  /// Unregisters the clock.
  virtual ~DAXOBaseClock();
  DAXOBaseClock(const DAXOBaseClock&) = delete;
  DAXOBaseClock& operator=(const DAXOBaseClock&) = delete;

  virtual void Register();
  virtual void Unregister();
  /// Neutral: false.
  virtual bool IsSynchronizable() { return false; }
  virtual bool IsReplayable() { return false; }

  /// Unregisters (through the virtual Unregister), takes the new name and
  /// registers again.
  void RenameClock(const char* name);
  unsigned char GetClockID() const { return m_clockID; }
  const char* GetClockName() const;

 private:
  unsigned char m_clockID = 0;
  char* m_name = nullptr;  // owned copy; never null after construction
  bool m_registered = false;
};

/// Kinds of engine listeners, as handed to the kernel's registration.
enum class DAXOListenerKind : int {
  RecordingState = 0,
  RunShutdown = 1,
  TimeState = 2,
  HMIKeys = 3,
  HMIKeysHandler = 4,
};

/// Base of the engine listeners: registered with the engine at construction
/// (or on demand), unregistered at destruction; the kernel receives the
/// address of this base (the first and only base of each listener class, so
/// the same address as the listener class's).
///
/// The Velquor engine calls the callbacks on one notice thread of its own,
/// with no engine lock held, in the order of the changes (engine/src/
/// listener_hub.h): a callback may set events, read the clock, and register
/// or unregister listeners, its own included. It delivers the time-state
/// callbacks (jump, speed change, pause and resume of the engine clock) and
/// the run/shutdown ones; it never calls RecordingStateChanged (it does not
/// record) nor KeysStateChanged (it has no HMI keys).
///
/// Lifetime: once Unregister (or the destructor of a listener class) has
/// returned, the engine never calls the listener again and no callback on it
/// still runs; Unregister from inside the listener's own callback stops the
/// later calls without waiting. The listener classes register in their own
/// constructors and unregister in their own destructors, so a callback never
/// meets a half-built or half-destroyed listener class. A class derived from
/// one (the most derived class, when there are several levels) calls
/// Unregister() first thing in its destructor: by the time a base's
/// destructor runs, the derived members are gone and the object's virtual
/// table is being switched under a callback that may be running. Likewise
/// it builds with registration deferred where the listener class offers it
/// (DAXOTimeStateListener(int), DAXOHMIKeysListener(false)) and calls
/// Register() at the end of its constructor; the other listener classes
/// register at once, so a notice that arrives while the derived class is
/// still being built reaches it unfinished.
///
/// Threading: Register and Unregister from any thread, one at a time per
/// listener, except that a callback may unregister its own listener while
/// another thread unregisters or destroys it: Unregister always asks the
/// kernel, whose unregistration waits for a callback still running.
class DAXOListenerBase {
 public:
  virtual ~DAXOListenerBase();
  DAXOListenerBase(const DAXOListenerBase&) = delete;
  DAXOListenerBase& operator=(const DAXOListenerBase&) = delete;

  void Register();
  void Unregister();
  bool IsRegistered() const { return m_registered.load(); }

 protected:
  /// Registers nothing: the listener class does, once it is built.
  explicit DAXOListenerBase(DAXOListenerKind kind) : m_kind(kind) {}

 private:
  DAXOListenerKind m_kind;
  std::atomic<bool> m_registered{false};
};

class DAXORecordingStateListener : public DAXOListenerBase {
 public:
  DAXORecordingStateListener() : DAXOListenerBase(DAXOListenerKind::RecordingState) { Register(); }
  ~DAXORecordingStateListener() override { Unregister(); }
  virtual void RecordingStateChanged(bool /*recording*/) {}
};

class DAXORunShutdownListener : public DAXOListenerBase {
 public:
  DAXORunShutdownListener() : DAXOListenerBase(DAXOListenerKind::RunShutdown) { Register(); }
  ~DAXORunShutdownListener() override { Unregister(); }
  /// The diagram starts running (DAXO::Run, or the engine's own start).
  virtual void EngineRunning() {}
  /// A running diagram begins to shut down (DAXO::Shutdown, or the
  /// engine's own shutdown).
  virtual void EngineShuttingDown() {}
};

class DAXOTimeStateListener : public DAXOListenerBase {
 public:
  DAXOTimeStateListener() : DAXOListenerBase(DAXOListenerKind::TimeState) { Register(); }
  /// Registers nothing (Register() does on demand).
  explicit DAXOTimeStateListener(int) : DAXOListenerBase(DAXOListenerKind::TimeState) {}
  ~DAXOTimeStateListener() override { Unregister(); }
  /// Engine time jumped to `t` (DAXO::SetCurrentTime, or the clock (re)started
  /// at 0).
  virtual void CallbackTimeJumped(DAXOTimestamp /*t*/) {}
  /// The speed changed to `speed` (thousandths of real time).
  virtual void CallbackTimeSpeedChanged(int /*speed*/) {}
  /// Engine time paused (true) or resumed (false).
  virtual void CallbackTimePaused(bool /*paused*/) {}
};

/// Never called by the Velquor engine (no HMI keys).
class DAXOHMIKeysListener : public DAXOListenerBase {
 public:
  explicit DAXOHMIKeysListener(bool registerNow = true)
      : DAXOListenerBase(DAXOListenerKind::HMIKeys) {
    if (registerNow) Register();
  }
  ~DAXOHMIKeysListener() override { Unregister(); }
  virtual void KeysStateChanged(int /*keys*/) {}
};

/// Registered for its whole life; asks the engine to refresh the keys and
/// the first and last timestamps (neutral on the Velquor engine, which has
/// neither keys nor recorded timestamps).
class DAXOHMIKeysHandler : public DAXOListenerBase {
 public:
  DAXOHMIKeysHandler() : DAXOListenerBase(DAXOListenerKind::HMIKeysHandler) { Register(); }
  ~DAXOHMIKeysHandler() override { Unregister(); }
  void UpdateKeysState();
  void UpdateFirstLastTimestamp();
};

/// Passes synchronisation commands to the engine.
class DAXOSynchronizer {
 public:
  virtual ~DAXOSynchronizer() = default;
  void SignalSynchronizationCommand(long command);
};

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
bool LoadCoreFunction(const char* path, const char* name);
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
/// registers, and a name. Derived clocks define their own time operations.
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
/// (or on demand), unregistered at destruction. The engine calls the derived
/// class's callbacks from its own threads.
class DAXOListenerBase {
 public:
  virtual ~DAXOListenerBase();
  DAXOListenerBase(const DAXOListenerBase&) = delete;
  DAXOListenerBase& operator=(const DAXOListenerBase&) = delete;

  void Register();
  void Unregister();
  bool IsRegistered() const { return m_registered; }

 protected:
  DAXOListenerBase(DAXOListenerKind kind, bool registerNow);

 private:
  DAXOListenerKind m_kind;
  bool m_registered = false;
};

class DAXORecordingStateListener : public DAXOListenerBase {
 public:
  DAXORecordingStateListener() : DAXOListenerBase(DAXOListenerKind::RecordingState, true) {}
  virtual void RecordingStateChanged(bool /*recording*/) {}
};

class DAXORunShutdownListener : public DAXOListenerBase {
 public:
  DAXORunShutdownListener() : DAXOListenerBase(DAXOListenerKind::RunShutdown, true) {}
  virtual void EngineRunning() {}
  virtual void EngineShuttingDown() {}
};

class DAXOTimeStateListener : public DAXOListenerBase {
 public:
  DAXOTimeStateListener() : DAXOListenerBase(DAXOListenerKind::TimeState, true) {}
  /// Registers nothing (Register() does on demand).
  explicit DAXOTimeStateListener(int) : DAXOListenerBase(DAXOListenerKind::TimeState, false) {}
  virtual void CallbackTimeJumped(DAXOTimestamp /*t*/) {}
  virtual void CallbackTimeSpeedChanged(int /*speed*/) {}
  virtual void CallbackTimePaused(bool /*paused*/) {}
};

class DAXOHMIKeysListener : public DAXOListenerBase {
 public:
  explicit DAXOHMIKeysListener(bool registerNow = true)
      : DAXOListenerBase(DAXOListenerKind::HMIKeys, registerNow) {}
  virtual void KeysStateChanged(int /*keys*/) {}
};

/// Registered for its whole life; asks the engine to refresh the keys and
/// the first and last timestamps.
class DAXOHMIKeysHandler : public DAXOListenerBase {
 public:
  DAXOHMIKeysHandler() : DAXOListenerBase(DAXOListenerKind::HMIKeysHandler, true) {}
  void UpdateKeysState();
  void UpdateFirstLastTimestamp();
};

/// Passes synchronisation commands to the engine.
class DAXOSynchronizer {
 public:
  virtual ~DAXOSynchronizer() = default;
  void SignalSynchronizationCommand(long command);
};

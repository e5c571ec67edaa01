// EngineKernel: the engine's implementation of DAXOKernel, the interface that
// packages call. Every operation delegates to one of the engine's services
// (EngineParts); none holds a lock of its own across a delegation.
//
// Failures: no exception leaves a kernel operation. Each one catches, reports
// an engine error naming the operation, and answers its failure value (false,
// 0, null, -4 for waits).
//
// Neutral services (recording, replay, distributed clocks, HMI keys,
// synchronisers): answered with the interface's neutral
// value and one debug-level (echo) report per service and engine, so that a
// package relying on one is visible without flooding the reports.
// Listeners and clock registration are real (ListenerHub, ClockTable); the
// clock queries answer the engine clock (0): there is no clock selection.
//
// Threading: every operation from any thread (see the services' banners for
// their locks). The kernel's own state: atomics, and the neutral-service set
// under a leaf lock.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>

#include "clock_table.h"
#include "core_functions.h"
#include "daxo_event.h"
#include "daxo_kernel.h"
#include "daxo_mutex.h"
#include "diagram.h"
#include "diagram_lock.h"
#include "engine_clock.h"
#include "engine_mutex.h"
#include "engine_properties.h"
#include "listener_hub.h"
#include "module_notices.h"
#include "package_loader.h"
#include "report_hub.h"
#include "script_service.h"
#include "symbol_registry.h"
#include "timer_service.h"

namespace velquor {

/// The services the kernel delegates to, owned by the engine. Destroyed in
/// Engine::~Engine in a fixed order (timers first, packages last).
struct EngineParts {
  bool messageBoxWindows = false;
  std::unique_ptr<ReportHub> reports;
  // Listeners: stopped after the components are gone and before the
  // packages whose code they run are unloaded; destroyed after the clock
  // and the diagram, which post to it.
  std::unique_ptr<ListenerHub> listeners;
  std::unique_ptr<ClockTable> clocks;
  std::unique_ptr<EngineClock> clock;
  std::unique_ptr<TimerService> timers;
  std::unique_ptr<EngineProperties> properties;
  std::unique_ptr<SymbolRegistry> symbols;
  std::unique_ptr<DiagramLock> diagramLock;
  std::unique_ptr<ModuleNotices> notices;
  std::unique_ptr<PackageLoader> packages;
  std::unique_ptr<Diagram> diagram;
  // Engine functions and scripts: created after the diagram; the scripts
  // stop first and the functions go with the components (Engine::~Engine).
  std::unique_ptr<CoreFunctions> functions;
  std::unique_ptr<ScriptService> scripts;
  std::unique_ptr<DAXOEvent> shutdownEvent;
  std::unique_ptr<DAXOMutex> globalMutex;
  std::atomic<bool> exiting{false};
  std::atomic<int> releases{0};
  std::atomic<int> checkLevel{0};
  std::atomic<long> fifoOverflows{0};
  std::atomic<long> multiEventWaits{0};

  void Report(const std::string& text, int level, int code, bool engineFlag);
};

class EngineKernel final : public DAXOKernel {
 public:
  explicit EngineKernel(EngineParts& parts) : m_parts(parts) {}

  void Exit() override;
  void Release() override;

  DAXOTimestamp CurrentTime(bool precise, bool synchronised) override;
  bool SetCurrentTime(DAXOTimestamp t) override;
  int TimeSpeed() override;
  bool SetTimeSpeed(int speed) override;
  int GetAbsoluteTimeSpeed() override;
  int TimeState() override;
  bool IsPaused() override;
  void SetPaused(bool paused) override;
  DAXOTimestamp TimeReference() override;
  DAXOTimestamp GetSystemAccurateTiming() override;
  DAXOCondition* TimeChangeCondition() override;
  void BeginTimeComputation() override;
  void EndTimeComputation() override;
  void SetTimeAdapt(int) override;
  DAXOTimestamp GetFirstTimestamp() override;
  DAXOTimestamp GetLastTimestamp() override;

  int WaitForEvents(int n, DAXOEvent** events, DAXODelay timeout, bool msg) override;
  bool SetEventTrigger(DAXOEvent* event, DAXOTimestamp when) override;
  void ResetEventTrigger(DAXOEvent* event) override;

  void Report(const char* text, int level, int code, bool engineFlag) override;
  void MessageBox(const char* text, int kind, int code, bool engineFlag) override;

  int GetState() override;
  int CheckLevel() override;
  bool GetBoolProperty(const char* name, bool* found) override;
  long GetIntegerProperty(const char* name, bool* found) override;
  double GetFloatProperty(const char* name, bool* found) override;
  const char* GetStringProperty(const char* name, bool* found) override;
  DAXOEvent* GetShutdownEvent() override;
  const char* GetGlobalConfigValue(const char*) override;
  bool IsRecording() override;
  bool IsReplaying() override;
  bool IsDistributedAsMaster() override;
  bool IsDistributedAsSlave() override;
  int GetKeysState() override;
  long GetNbFifoOverflows() override;
  DAXOMutex* GlobalOSMutex() override;

  bool Reset() override;
  bool Stop() override;
  bool Next() override;
  bool Previous() override;
  bool Record() override;
  bool Go2Index(int) override;
  bool Go2PreviousIndex() override;
  bool Go2NextIndex() override;
  bool SetRecording(bool) override;
  bool Record(const char*, const char*, const char*, bool, bool) override;
  bool Replay(const char*) override;
  bool Copy(const char*, const char*) override;

  bool RegisterSymbol(const char* fullName, DAXOSymbolKind kind, void* object) override;
  void UnregisterSymbol(const char* fullName) override;
  void* FindSymbol(const char* fullName, DAXOSymbolKind kind) override;
  void* FindPinned(const char* fullName, DAXOSymbolKind kind, void* (*ownerOf)(void*),
                   void** owner) override;
  void Unpin(void* owner) override;
  void RetireOwner(void* owner) override;
  void ForgetOwner(void* owner) override;
  void NotifyOutputCreated(const char* fullName) override;
  void LockDiagram(const char* reason) override;
  void UnlockDiagram() override;
  void NotifyModuleState(const char* moduleName, int state) override;
  void ComponentMainThread(DAXOComponent* component) override;
  bool StartComponentThread(DAXOComponent* component) override;
  bool StartModuleThread(void (*entry)(void*), void* record, DAXOModule* owner) override;
  /// Starts every auto-start component of the diagram.
  bool Run() override;
  /// Asks the engine's run to end (Engine::RunDiagram returns and shuts the
  /// diagram down); never blocks, so a component may call it.
  bool Shutdown() override;

  bool CreateComponent(const char* model, const char* name, bool start) override;
  bool StartComponent(const char* name) override;
  bool ShutdownComponent(const char* name) override;
  bool KillComponent(const char* name) override;
  bool RenameComponent(const char* oldName, const char* newName) override;
  bool Attach(const char* output, const char* input) override;
  bool Detach(DAXOOutput* output, DAXOInput* input) override;
  DAXOComponent* Component(const char* name) override;

  bool RegisterPackage(const char* path, const char* name) override;
  bool UnregisterPackage(const char* name) override;
  bool LoadCoreFunction(const char*, const char*) override;
  bool UnloadCoreFunction(const char*) override;
  void* CoreFunction(const char*) override;

  // Scripting: the engine's ScriptService.
  bool Parse(const char* text) override;
  bool ParseFile(const char* path) override;
  bool AsynchParse(const char* text) override;
  bool AsynchParseFile(const char* path) override;

  void SignalFifoOverflow(void* output) override;
  void SignalRecordSkipped() override;
  void FromNowOnDataAreUnsorted() override;
  void StopSendingData() override;
  void StopReplaying() override;
  void InitializeSession() override;
  void RegisterStandardPackages() override;
  unsigned char RegisterClock(void*) override;
  void UnregisterClock(void*) override;
  unsigned char GetCurrentClockID() override;
  unsigned char GetMasterCurrentClockID() override;
  bool SetAbsoluteTimeSpeed(int, int) override;
  void SignalMasterClockChanged(unsigned char) override;
  void SynchClockCurrentTime() override;
  DAXOTimestamp GetVirtualClockTimebase() override;
  DAXOTimestamp GetVirtualClockTimebaseX() override;
  void InitVirtualClockTime(long, long, int) override;
  void UninitVirtualClockTime() override;
  void RegisterListener(int kind, void* listener) override;
  void UnregisterListener(int kind, void* listener) override;
  void UpdateKeysState() override;
  void UpdateFirstLastTimestamp() override;
  bool GetSynchronizer(void*, DAXOSynchronizer** s) override;
  bool ReleaseSynchronizer(void*, DAXOSynchronizer** s) override;
  void SignalSynchronizationCommand(long) override;

 private:
  /// Runs `body`, turning any exception into an engine error report and
  /// `failure`.
  template <typename R, typename Body>
  R Guarded(const char* operation, R failure, Body body);
  template <typename Body>
  void Guarded(const char* operation, Body body);
  void Failed(const char* operation, const char* why);
  /// One echo report the first time `service` is called.
  void Neutral(const char* service);

  EngineParts& m_parts;
  Mutex m_neutralLock;  // a leaf
  std::set<std::string> m_neutralSeen DAXO_GUARDED_BY(m_neutralLock);
};

}  // namespace velquor

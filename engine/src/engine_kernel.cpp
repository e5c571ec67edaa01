#include "engine_kernel.h"

#include <exception>

#include "component_runner.h"
#include "daxo_io.h"
#include "daxo_module.h"
#include "daxo_msgbox.h"
#include "daxo_services.h"
#include "engine_thread.h"

namespace velquor {

void EngineParts::Report(const std::string& text, int level, int code, bool engineFlag) {
  if (reports) reports->Report(ReportRecord{text, level, code, engineFlag});
}

namespace {
std::string Text(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}
}  // namespace

void EngineKernel::Failed(const char* operation, const char* why) {
  try {
    m_parts.Report(std::string("Engine: ") + operation + " failed: " + why, 2,
                   DAXO::FatalKernelError, true);
  } catch (...) {
    // Nothing left to tell it with.
  }
}

template <typename R, typename Body>
R EngineKernel::Guarded(const char* operation, R failure, Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    Failed(operation, e.what());
  } catch (...) {
    Failed(operation, "unexpected exception");
  }
  return failure;
}

template <typename Body>
void EngineKernel::Guarded(const char* operation, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    Failed(operation, e.what());
  } catch (...) {
    Failed(operation, "unexpected exception");
  }
}

void EngineKernel::Neutral(const char* service) {
  Guarded("neutral service", [&] {
    {
      MutexLock lock(m_neutralLock);
      if (!m_neutralSeen.insert(service).second) return;
    }
    m_parts.Report(
        std::string("Engine: ") + service + " is not provided by this engine (neutral answer)", 3,
        0, true);
  });
}

// --- lifetime --------------------------------------------------------------------

void EngineKernel::Exit() {
  Guarded("Exit", [&] {
    m_parts.exiting = true;
    m_parts.shutdownEvent->Set();
  });
}

void EngineKernel::Release() {
  ++m_parts.releases;
}

// --- time ------------------------------------------------------------------------

DAXOTimestamp EngineKernel::CurrentTime(bool, bool) {
  return Guarded("CurrentTime", DAXOTimestamp{0}, [&] { return m_parts.clock->Now(); });
}

bool EngineKernel::SetCurrentTime(DAXOTimestamp t) {
  return Guarded("SetCurrentTime", false, [&] {
    m_parts.clock->SetTime(t);
    return true;
  });
}

int EngineKernel::TimeSpeed() {
  return Guarded("TimeSpeed", 0, [&] { return m_parts.clock->Speed(); });
}

bool EngineKernel::SetTimeSpeed(int speed) {
  return Guarded("SetTimeSpeed", false, [&] {
    m_parts.clock->SetSpeed(speed);
    return true;
  });
}

int EngineKernel::GetAbsoluteTimeSpeed() {
  return Guarded("GetAbsoluteTimeSpeed", 0, [&] { return m_parts.clock->AbsoluteSpeed(); });
}

int EngineKernel::TimeState() {
  return Guarded("TimeState", 2, [&] { return m_parts.clock->State(); });
}

bool EngineKernel::IsPaused() {
  return Guarded("IsPaused", false, [&] { return m_parts.clock->IsPaused(); });
}

void EngineKernel::SetPaused(bool paused) {
  Guarded("SetPaused", [&] { m_parts.clock->SetPaused(paused); });
}

DAXOTimestamp EngineKernel::TimeReference() {
  return Guarded("TimeReference", DAXOTimestamp{0}, [&] { return m_parts.clock->Reference(); });
}

DAXOTimestamp EngineKernel::GetSystemAccurateTiming() {
  return SystemMicros();
}

DAXOCondition* EngineKernel::TimeChangeCondition() {
  return m_parts.clock->Condition();
}

// Not checked: the clock's condition mutex is handed across the kernel
// interface, taken by one call and released by the other.
DAXO_NO_THREAD_SAFETY_ANALYSIS void EngineKernel::BeginTimeComputation() {
  m_parts.clock->BeginComputation();
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void EngineKernel::EndTimeComputation() {
  m_parts.clock->EndComputation();
}

void EngineKernel::SetTimeAdapt(int) {
  Neutral("SetTimeAdapt");
}

DAXOTimestamp EngineKernel::GetFirstTimestamp() {
  Neutral("GetFirstTimestamp");
  return 0;
}

DAXOTimestamp EngineKernel::GetLastTimestamp() {
  Neutral("GetLastTimestamp");
  return 0;
}

// --- events and timers -------------------------------------------------------------

int EngineKernel::WaitForEvents(int n, DAXOEvent** events, DAXODelay timeout, bool) {
  ++m_parts.multiEventWaits;
  return Guarded("WaitForEvents", int{DAXO::FatalKernelError},
                 [&] { return DAXOPrivate::WaitForMultipleEvents(n, events, timeout); });
}

bool EngineKernel::SetEventTrigger(DAXOEvent* event, DAXOTimestamp when) {
  return Guarded("SetEventTrigger", false,
                 [&] { return m_parts.timers->SetEventTrigger(event, when); });
}

void EngineKernel::ResetEventTrigger(DAXOEvent* event) {
  Guarded("ResetEventTrigger", [&] { m_parts.timers->ResetEventTrigger(event); });
}

// --- reports -----------------------------------------------------------------------

void EngineKernel::Report(const char* text, int level, int code, bool engineFlag) {
  Guarded("Report", [&] { m_parts.Report(Text(text), level, code, engineFlag); });
}

void EngineKernel::MessageBox(const char* text, int kind, int code, bool engineFlag) {
  Guarded("MessageBox", [&] {
    const int level = kind < 0 ? 0 : (kind > 2 ? 2 : kind);
    m_parts.Report(Text(text), level, code, engineFlag);
    if (m_parts.messageBoxWindows) {
      DAXO::MsgBox(engineFlag ? "Velquor Engine" : "Velquor", text != nullptr ? text : "", kind);
    }
  });
}

// --- engine state and properties ------------------------------------------------------

int EngineKernel::GetState() {
  return Guarded("GetState", 0, [&] {
    int state = 0;
    if (m_parts.clock->IsStarted()) state |= 0x1;
    if (m_parts.clock->IsPaused()) state |= 0x2;
    if (m_parts.exiting) state |= 0x4;
    return state;
  });
}

int EngineKernel::CheckLevel() {
  return m_parts.checkLevel;
}

namespace {
void NotFound(bool* found) {
  if (found != nullptr) *found = false;
}
}  // namespace

bool EngineKernel::GetBoolProperty(const char* name, bool* found) {
  NotFound(found);
  return Guarded("GetBoolProperty", false,
                 [&] { return m_parts.properties->GetBool(Text(name), found); });
}

long EngineKernel::GetIntegerProperty(const char* name, bool* found) {
  NotFound(found);
  return Guarded("GetIntegerProperty", 0L,
                 [&] { return m_parts.properties->GetInteger(Text(name), found); });
}

double EngineKernel::GetFloatProperty(const char* name, bool* found) {
  NotFound(found);
  return Guarded("GetFloatProperty", 0.0,
                 [&] { return m_parts.properties->GetFloat(Text(name), found); });
}

const char* EngineKernel::GetStringProperty(const char* name, bool* found) {
  NotFound(found);
  return Guarded("GetStringProperty", "",
                 [&] { return m_parts.properties->GetString(Text(name), found); });
}

DAXOEvent* EngineKernel::GetShutdownEvent() {
  return m_parts.shutdownEvent.get();
}

const char* EngineKernel::GetGlobalConfigValue(const char*) {
  Neutral("GetGlobalConfigValue");
  return nullptr;
}

#define VELQUOR_NEUTRAL(Signature, Name, Answer) \
  Signature {                                    \
    Neutral(Name);                               \
    return Answer;                               \
  }

VELQUOR_NEUTRAL(bool EngineKernel::IsRecording(), "IsRecording", false)
VELQUOR_NEUTRAL(bool EngineKernel::IsReplaying(), "IsReplaying", false)
VELQUOR_NEUTRAL(bool EngineKernel::IsDistributedAsMaster(), "IsDistributedAsMaster", false)
VELQUOR_NEUTRAL(bool EngineKernel::IsDistributedAsSlave(), "IsDistributedAsSlave", false)
VELQUOR_NEUTRAL(int EngineKernel::GetKeysState(), "GetKeysState", 0x600)

long EngineKernel::GetNbFifoOverflows() {
  return m_parts.fifoOverflows;
}

DAXOMutex* EngineKernel::GlobalOSMutex() {
  return m_parts.globalMutex.get();
}

// --- engine control (neutral) -----------------------------------------------------------

VELQUOR_NEUTRAL(bool EngineKernel::Reset(), "Reset", false)
VELQUOR_NEUTRAL(bool EngineKernel::Stop(), "Stop", false)
VELQUOR_NEUTRAL(bool EngineKernel::Next(), "Next", false)
VELQUOR_NEUTRAL(bool EngineKernel::Previous(), "Previous", false)
VELQUOR_NEUTRAL(bool EngineKernel::Record(), "Record", false)
VELQUOR_NEUTRAL(bool EngineKernel::Go2Index(int), "Go2Index", false)
VELQUOR_NEUTRAL(bool EngineKernel::Go2PreviousIndex(), "Go2PreviousIndex", false)
VELQUOR_NEUTRAL(bool EngineKernel::Go2NextIndex(), "Go2NextIndex", false)
VELQUOR_NEUTRAL(bool EngineKernel::SetRecording(bool), "SetRecording", false)
VELQUOR_NEUTRAL(bool EngineKernel::Record(const char*, const char*, const char*, bool, bool),
                "Record", false)
VELQUOR_NEUTRAL(bool EngineKernel::Replay(const char*), "Replay", false)
VELQUOR_NEUTRAL(bool EngineKernel::Copy(const char*, const char*), "Copy", false)

// --- element registry and diagram lock ---------------------------------------------------

bool EngineKernel::RegisterSymbol(const char* fullName, DAXOSymbolKind kind, void* object) {
  return Guarded("RegisterSymbol", false,
                 [&] { return m_parts.symbols->Register(Text(fullName), kind, object); });
}

void EngineKernel::UnregisterSymbol(const char* fullName) {
  Guarded("UnregisterSymbol", [&] { m_parts.symbols->Unregister(Text(fullName)); });
}

void* EngineKernel::FindSymbol(const char* fullName, DAXOSymbolKind kind) {
  return Guarded("FindSymbol", static_cast<void*>(nullptr),
                 [&] { return m_parts.symbols->Find(Text(fullName), kind); });
}

void* EngineKernel::FindPinned(const char* fullName, DAXOSymbolKind kind, void* (*ownerOf)(void*),
                               void** owner) {
  *owner = nullptr;
  return Guarded("FindPinned", static_cast<void*>(nullptr),
                 [&] { return m_parts.symbols->FindPinned(Text(fullName), kind, ownerOf, owner); });
}

void EngineKernel::Unpin(void* owner) {
  Guarded("Unpin", [&] { m_parts.symbols->Unpin(owner); });
}

void EngineKernel::RetireOwner(void* owner) {
  Guarded("RetireOwner", [&] { m_parts.symbols->Retire(owner); });
}

void EngineKernel::ForgetOwner(void* owner) {
  Guarded("ForgetOwner", [&] { m_parts.symbols->Forget(owner); });
}

void EngineKernel::NotifyOutputCreated(const char* fullName) {
  Guarded("NotifyOutputCreated", [&] { m_parts.symbols->OutputCreated(Text(fullName)); });
}

void EngineKernel::LockDiagram(const char* reason) {
  Guarded("LockDiagram", [&] { m_parts.diagramLock->Lock(Text(reason)); });
}

void EngineKernel::UnlockDiagram() {
  Guarded("UnlockDiagram", [&] { m_parts.diagramLock->Unlock(); });
}

void EngineKernel::ComponentMainThread(DAXOComponent* component) {
  if (component == nullptr) return;
  // A script run by the component (DAXO::Parse) ends with its life.
  ScriptCaller caller(component);
  RunComponentLife(*component, [this](const std::string& text, int level, int code, bool flag) {
    m_parts.Report(text, level, code, flag);
  });
}

bool EngineKernel::StartComponentThread(DAXOComponent* component) {
  return Guarded("StartComponentThread", false,
                 [&] { return m_parts.diagram->StartThread(component); });
}

namespace {

/// An extra thread's start: the module's entry and record, run with the
/// thread listed in the module's threads. Owned by the new thread once the
/// diagram has started it, by the creator before.
struct ExtraThreadStart {
  void (*entry)(void*);
  void* record;
  DAXOModule* owner;
  std::string who;
  EngineParts* parts;
};

void RunExtraThread(void* argument) {
  std::unique_ptr<ExtraThreadStart> start(static_cast<ExtraThreadStart*>(argument));
  EngineParts* parts = start->parts;
  // Listed until the entry has returned; the entry's own life keeps the
  // module until then, the listing's until it has left the list.
  ModuleThreadListing listing(*start->owner, start->who, [parts](const std::string& text) {
    parts->Report(text, DAXO::Warning, 0, true);
  });
  start->entry(start->record);
}

}  // namespace

bool EngineKernel::StartModuleThread(void (*entry)(void*), void* record, DAXOModule* owner) {
  return Guarded("StartModuleThread", false, [&] {
    if (entry == nullptr || owner == nullptr) return false;
    auto start = std::make_unique<ExtraThreadStart>(ExtraThreadStart{
        entry, record, owner,
        std::string(owner->Kind()) + " " + (owner->name != nullptr ? owner->name : ""), &m_parts});
    if (!m_parts.diagram->StartExtraThread(&RunExtraThread, start.get(), owner)) return false;
    start.release();  // the thread's now
    return true;
  });
}

bool EngineKernel::Run() {
  return Guarded("Run", false, [&] { return m_parts.diagram->StartAll(); });
}

bool EngineKernel::Shutdown() {
  Guarded("Shutdown", [&] { m_parts.diagram->RequestShutdown(); });
  return true;
}

void EngineKernel::NotifyModuleState(const char* moduleName, int state) {
  Guarded("NotifyModuleState", [&] {
    const std::string module = Text(moduleName);
    m_parts.notices->Notify(module, state);
    m_parts.diagram->StateChanged(module, state);
    m_parts.Report("Engine: module " + module + " state " + std::to_string(state), 3, state, true);
  });
}

// --- diagram -----------------------------------------------------------------------------

bool EngineKernel::CreateComponent(const char* model, const char* name, bool start) {
  return Guarded("CreateComponent", false, [&] {
    return m_parts.functions->CreateComponent(Text(model), Text(name)) &&
           (!start || m_parts.diagram->Start(Text(name)));
  });
}

bool EngineKernel::StartComponent(const char* name) {
  return Guarded("StartComponent", false, [&] { return m_parts.diagram->Start(Text(name)); });
}

bool EngineKernel::ShutdownComponent(const char* name) {
  return Guarded("ShutdownComponent", false, [&] { return m_parts.diagram->Shutdown(Text(name)); });
}

bool EngineKernel::KillComponent(const char* name) {
  return Guarded("KillComponent", false, [&] { return m_parts.diagram->Destroy(Text(name)); });
}

bool EngineKernel::RenameComponent(const char* oldName, const char* newName) {
  return Guarded("RenameComponent", false,
                 [&] { return m_parts.diagram->Rename(Text(oldName), Text(newName)); });
}

bool EngineKernel::Attach(const char* output, const char* input) {
  return Guarded("Attach", false,
                 [&] { return m_parts.diagram->Connect(Text(output), Text(input)); });
}

bool EngineKernel::Detach(DAXOOutput* output, DAXOInput* input) {
  return Guarded("Detach", false, [&] {
    if (output == nullptr || input == nullptr || input->ConnectedOutput() != output) return false;
    return m_parts.diagram->Disconnect(input->Name());
  });
}

DAXOComponent* EngineKernel::Component(const char* name) {
  return Guarded("Component", static_cast<DAXOComponent*>(nullptr),
                 [&] { return m_parts.diagram->Find(Text(name)); });
}

// --- packages and engine functions ----------------------------------------------------------

bool EngineKernel::RegisterPackage(const char* path, const char* name) {
  return Guarded("RegisterPackage", false,
                 [&] { return m_parts.packages->Load(Text(path), Text(name)); });
}

bool EngineKernel::UnregisterPackage(const char* name) {
  return Guarded("UnregisterPackage", false, [&] { return m_parts.packages->Forget(Text(name)); });
}

bool EngineKernel::LoadCoreFunction(const char* model, const char* name) {
  return Guarded("LoadCoreFunction", false,
                 [&] { return m_parts.functions->Load(Text(model), Text(name)); });
}

bool EngineKernel::UnloadCoreFunction(const char* name) {
  return Guarded("UnloadCoreFunction", false,
                 [&] { return m_parts.functions->Unload(Text(name)); });
}

void* EngineKernel::CoreFunction(const char* name) {
  return Guarded("CoreFunction", static_cast<void*>(nullptr), [&]() -> void* {
    // As the SDK's own type: a DAXOCoreFunction*, not one of its bases.
    return m_parts.functions->Find(Text(name));
  });
}

// --- scripting ------------------------------------------------------------------------------

bool EngineKernel::Parse(const char* text) {
  return Guarded("Parse", false, [&] { return m_parts.scripts->Parse(Text(text)); });
}

bool EngineKernel::ParseFile(const char* path) {
  return Guarded("ParseFile", false, [&] { return m_parts.scripts->ParseFile(Text(path)); });
}

bool EngineKernel::AsynchParse(const char* text) {
  return Guarded("AsynchParse", false, [&] { return m_parts.scripts->AsynchParse(Text(text)); });
}

bool EngineKernel::AsynchParseFile(const char* path) {
  return Guarded("AsynchParseFile", false,
                 [&] { return m_parts.scripts->AsynchParseFile(Text(path)); });
}

// --- recording signals, clocks, listeners, synchronisers ------------------------------------

void EngineKernel::SignalFifoOverflow(void*) {
  ++m_parts.fifoOverflows;
}

#define VELQUOR_NEUTRAL_VOID(Signature, Name) \
  Signature {                                 \
    Neutral(Name);                            \
  }

VELQUOR_NEUTRAL_VOID(void EngineKernel::SignalRecordSkipped(), "SignalRecordSkipped")
VELQUOR_NEUTRAL_VOID(void EngineKernel::FromNowOnDataAreUnsorted(), "FromNowOnDataAreUnsorted")
VELQUOR_NEUTRAL_VOID(void EngineKernel::StopSendingData(), "StopSendingData")
VELQUOR_NEUTRAL_VOID(void EngineKernel::StopReplaying(), "StopReplaying")
VELQUOR_NEUTRAL_VOID(void EngineKernel::InitializeSession(), "InitializeSession")
VELQUOR_NEUTRAL_VOID(void EngineKernel::RegisterStandardPackages(), "RegisterStandardPackages")
VELQUOR_NEUTRAL(bool EngineKernel::SetAbsoluteTimeSpeed(int, int), "SetAbsoluteTimeSpeed", false)
VELQUOR_NEUTRAL_VOID(void EngineKernel::SignalMasterClockChanged(unsigned char),
                     "SignalMasterClockChanged")
VELQUOR_NEUTRAL_VOID(void EngineKernel::SynchClockCurrentTime(), "SynchClockCurrentTime")
VELQUOR_NEUTRAL(DAXOTimestamp EngineKernel::GetVirtualClockTimebase(), "GetVirtualClockTimebase", 0)
VELQUOR_NEUTRAL(DAXOTimestamp EngineKernel::GetVirtualClockTimebaseX(), "GetVirtualClockTimebaseX",
                0)
VELQUOR_NEUTRAL_VOID(void EngineKernel::InitVirtualClockTime(long, long, int),
                     "InitVirtualClockTime")
VELQUOR_NEUTRAL_VOID(void EngineKernel::UninitVirtualClockTime(), "UninitVirtualClockTime")
VELQUOR_NEUTRAL_VOID(void EngineKernel::UpdateKeysState(), "UpdateKeysState")
VELQUOR_NEUTRAL_VOID(void EngineKernel::UpdateFirstLastTimestamp(), "UpdateFirstLastTimestamp")
VELQUOR_NEUTRAL_VOID(void EngineKernel::SignalSynchronizationCommand(long),
                     "SignalSynchronizationCommand")

bool EngineKernel::GetSynchronizer(void*, DAXOSynchronizer** s) {
  Neutral("GetSynchronizer");
  if (s != nullptr) *s = nullptr;
  return false;
}

bool EngineKernel::ReleaseSynchronizer(void*, DAXOSynchronizer** s) {
  Neutral("ReleaseSynchronizer");
  if (s != nullptr) *s = nullptr;
  return false;
}

// --- clocks and listeners --------------------------------------------------------------------

// The clock's name is read once, through the shared layout of DAXOBaseClock
// (GetClockName only reads a field; no clock code runs here).
unsigned char EngineKernel::RegisterClock(void* clock) {
  return Guarded("RegisterClock", static_cast<unsigned char>(ClockTable::kEngineClock), [&] {
    if (clock == nullptr) return static_cast<unsigned char>(ClockTable::kEngineClock);
    return m_parts.clocks->Register(clock,
                                    Text(static_cast<DAXOBaseClock*>(clock)->GetClockName()));
  });
}

void EngineKernel::UnregisterClock(void* clock) {
  Guarded("UnregisterClock", [&] { m_parts.clocks->Unregister(clock); });
}

// No clock selection: the engine clock is always the current and master one.
unsigned char EngineKernel::GetCurrentClockID() {
  return ClockTable::kEngineClock;
}

unsigned char EngineKernel::GetMasterCurrentClockID() {
  return ClockTable::kEngineClock;
}

void EngineKernel::RegisterListener(int kind, void* listener) {
  Guarded("RegisterListener", [&] { m_parts.listeners->Register(kind, listener); });
}

void EngineKernel::UnregisterListener(int kind, void* listener) {
  Guarded("UnregisterListener", [&] { m_parts.listeners->Unregister(kind, listener); });
}

}  // namespace velquor

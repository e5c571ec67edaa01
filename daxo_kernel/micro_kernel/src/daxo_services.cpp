// The DAXO:: and DAXOPrivate:: forwarders to the engine kernel, the report
// texts, clocks and listeners. See include/daxo_services.h.
#include "daxo_services.h"

#include <cstring>

#include "daxo_string.h"

namespace {
DAXOKernel& K() {
  return *DAXOPrivate::kernel;
}
}  // namespace

// --- time ---------------------------------------------------------------------
DAXOTimestamp DAXO::CurrentTime(bool precise, bool synchronised) {
  return K().CurrentTime(precise, synchronised);
}
bool DAXO::SetCurrentTime(DAXOTimestamp t) {
  return K().SetCurrentTime(t);
}
int DAXO::TimeSpeed() {
  return K().TimeSpeed();
}
bool DAXO::SetTimeSpeed(int speed) {
  return K().SetTimeSpeed(speed);
}
int DAXO::TimeState() {
  return K().TimeState();
}
DAXOTimestamp DAXO::TimeReference() {
  return K().TimeReference();
}
void DAXO::SetTimeAdapt(int adapt) {
  K().SetTimeAdapt(adapt);
}
DAXOTimestamp DAXO::GetFirstTimestamp() {
  return K().GetFirstTimestamp();
}
DAXOTimestamp DAXO::GetLastTimestamp() {
  return K().GetLastTimestamp();
}

// --- engine state -------------------------------------------------------------
int DAXO::GetState() {
  return K().GetState();
}
bool DAXO::IsPaused() {
  return K().IsPaused();
}
int DAXO::CheckLevel() {
  return K().CheckLevel();
}
bool DAXO::IsDistributedAsMaster() {
  return K().IsDistributedAsMaster();
}
bool DAXO::IsDistributedAsSlave() {
  return K().IsDistributedAsSlave();
}
bool DAXO::IsRecording() {
  return K().IsRecording();
}
bool DAXO::IsReplaying() {
  return K().IsReplaying();
}
int DAXO::GetKeysState() {
  return K().GetKeysState();
}
DAXOEvent* DAXO::GetShutdownEvent() {
  return K().GetShutdownEvent();
}
long DAXO::GetNbFifoOverflows() {
  return K().GetNbFifoOverflows();
}
DAXOMutex* DAXO::GlobalOSMutex() {
  return K().GlobalOSMutex();
}
const char* DAXO::About() {
  return K().About();
}

// --- diagram ----------------------------------------------------------------------
bool DAXO::CreateComponent(const char* model, const char* name, bool start) {
  return K().CreateComponent(model, name, start);
}
bool DAXO::StartComponent(const char* name) {
  return K().StartComponent(name);
}
bool DAXO::RunComponent(const char* name) {
  return K().StartComponent(name);
}
bool DAXO::ShutdownComponent(const char* name) {
  return K().ShutdownComponent(name);
}
bool DAXO::KillComponent(const char* name) {
  return K().KillComponent(name);
}
bool DAXO::RenameComponent(const char* oldName, const char* newName) {
  return K().RenameComponent(oldName, newName);
}
bool DAXO::Attach(const char* output, const char* input) {
  return K().Attach(output, input);
}
bool DAXO::Attach2(const char* output, const char* input) {
  return K().Attach(output, input);
}
DAXOComponent* DAXO::Component(const char* name) {
  return K().Component(name);
}
bool DAXO::Parse(const char* text) {
  return K().Parse(text);
}
bool DAXO::ParseFile(const char* path) {
  return K().ParseFile(path);
}
bool DAXO::AsynchParse(const char* text) {
  return K().AsynchParse(text);
}
bool DAXO::AsynchParseFile(const char* path) {
  return K().AsynchParseFile(path);
}

// --- engine control -----------------------------------------------------------
bool DAXO::Run() {
  return K().Run();
}
bool DAXO::Reset() {
  return K().Reset();
}
bool DAXO::Shutdown() {
  return K().Shutdown();
}
bool DAXO::Play() {
  return K().Play();
}
bool DAXO::Stop() {
  return K().Stop();
}
bool DAXO::Pause() {
  return K().Pause();
}
bool DAXO::Next() {
  return K().Next();
}
bool DAXO::Previous() {
  return K().Previous();
}
bool DAXO::Record() {
  return K().Record();
}
bool DAXO::Go2Index(int index) {
  return K().Go2Index(index);
}
bool DAXO::Go2PreviousIndex() {
  return K().Go2PreviousIndex();
}
bool DAXO::Go2NextIndex() {
  return K().Go2NextIndex();
}
bool DAXO::StartRecording() {
  return K().SetRecording(true);
}
bool DAXO::StopRecording() {
  return K().SetRecording(false);
}
bool DAXO::Record(const char* path, const char* folder, const char* name, bool a, bool b) {
  return K().Record(path, folder, name, a, b);
}
bool DAXO::Replay(const char* path) {
  return K().Replay(path);
}
bool DAXO::Copy(const char* from, const char* to) {
  return K().Copy(from, to);
}

// --- packages, engine functions, configuration -------------------------------
bool DAXO::RegisterPackage(const char* path, const char* name) {
  return K().RegisterPackage(path, name);
}
bool DAXO::UnregisterPackage(const char* name) {
  return K().UnregisterPackage(name);
}
bool DAXO::LoadCoreFunction(const char* model, const char* name) {
  return K().LoadCoreFunction(model, name);
}
bool DAXO::UnloadCoreFunction(const char* name) {
  return K().UnloadCoreFunction(name);
}
void* DAXO::CoreFunction(const char* name) {
  return K().CoreFunction(name);
}
const char* DAXO::GetGlobalConfigValue(const char* key) {
  return K().GetGlobalConfigValue(key);
}

bool DAXO::GetBoolProperty(const char* name, bool* found) {
  return K().GetBoolProperty(name, found);
}
long DAXO::GetIntegerProperty(const char* name, bool* found) {
  return K().GetIntegerProperty(name, found);
}
double DAXO::GetFloatProperty(const char* name, bool* found) {
  return K().GetFloatProperty(name, found);
}

// --- synchronisers ------------------------------------------------------------
bool DAXO::GetSynchronizer(void* key, DAXOSynchronizer** synchronizer) {
  return K().GetSynchronizer(key, synchronizer);
}
bool DAXO::ReleaseSynchronizer(void* key, DAXOSynchronizer** synchronizer) {
  return K().ReleaseSynchronizer(key, synchronizer);
}
void DAXOSynchronizer::SignalSynchronizationCommand(long command) {
  K().SignalSynchronizationCommand(command);
}

// --- functions with behaviour of their own ------------------------------------
void DAXO::MessageBox(const char* text, int kind, int code) {
  DAXOPrivate::MessageBox(text, kind, code, false);
}

void DAXO::SetIndex() {}

void DAXO::Report(const char* text, int level, int code) {
  DAXOStackedString<40> full("External report : ");
  full += text;
  DAXOPrivate::Report(full, level, code, false);
}

void DAXOPrivate::KernelError(const char* text, int code) {
  Report(text, DAXO::Error, code, true);
  throw DAXO::ErrorException;
}

void DAXOPrivate::MessageBox(const char* text, int kind, int code, bool engineFlag) {
  K().MessageBox(text, kind, code, engineFlag);
}

const char* DAXOPrivate::EngineStringProperty(const char* name, bool* found) {
  return K().GetStringProperty(name, found);
}

// --- DAXOPrivate pass-throughs --------------------------------------------------
int DAXOPrivate::GetAbsoluteTimeSpeed() {
  return K().GetAbsoluteTimeSpeed();
}
bool DAXOPrivate::SetAbsoluteTimeSpeed(int speed, int clock) {
  return K().SetAbsoluteTimeSpeed(speed, clock);
}
unsigned char DAXOPrivate::GetCurrentClockID() {
  return K().GetCurrentClockID();
}
unsigned char DAXOPrivate::GetMasterCurrentClockID() {
  return K().GetMasterCurrentClockID();
}
void DAXOPrivate::SignalMasterClockChanged(unsigned char clock) {
  K().SignalMasterClockChanged(clock);
}
void DAXOPrivate::SynchClockCurrentTime() {
  K().SynchClockCurrentTime();
}
DAXOTimestamp DAXOPrivate::GetVirtualClockTimebase() {
  return K().GetVirtualClockTimebase();
}
DAXOTimestamp DAXOPrivate::GetVirtualClockTimebaseX() {
  return K().GetVirtualClockTimebaseX();
}
void DAXOPrivate::InitVirtualClockTime(long a, long b, int c) {
  K().InitVirtualClockTime(a, b, c);
}
void DAXOPrivate::UninitVirtualClockTime() {
  K().UninitVirtualClockTime();
}
void DAXOPrivate::SignalRecordSkipped() {
  K().SignalRecordSkipped();
}
void DAXOPrivate::SignalFifoOverflow(void* output) {
  K().SignalFifoOverflow(output);
}
long DAXOPrivate::GetNbFifoOverflows() {
  return K().GetNbFifoOverflows();
}
void DAXOPrivate::FromNowOnDataAreUnsorted() {
  K().FromNowOnDataAreUnsorted();
}
void DAXOPrivate::StopSendingData() {
  K().StopSendingData();
}
void DAXOPrivate::StopReplaying() {
  K().StopReplaying();
}
void DAXOPrivate::InitializeSession() {
  K().InitializeSession();
}
void DAXOPrivate::RegisterStandardPackages() {
  K().RegisterStandardPackages();
}
int DAXOPrivate::GetKeysState() {
  return K().GetKeysState();
}

// --- clocks ---------------------------------------------------------------------
namespace {
char* CopyName(const char* name) {
  const char* text = name != nullptr ? name : "";
  const std::size_t n = std::strlen(text);
  char* copy = new char[n + 1];
  std::memcpy(copy, text, n + 1);
  return copy;
}
}  // namespace

DAXOBaseClock::DAXOBaseClock(const char* name) : m_name(CopyName(name)) {
  // Not through the virtual Register: a derived clock is not built yet.
  m_clockID = K().RegisterClock(this);
  m_registered = true;
}

DAXOBaseClock::~DAXOBaseClock() {
  if (m_registered && DAXOPrivate::kernel != nullptr) DAXOPrivate::kernel->UnregisterClock(this);
  delete[] m_name;
}

void DAXOBaseClock::Register() {
  if (m_registered) return;
  m_clockID = K().RegisterClock(this);
  m_registered = true;
}

void DAXOBaseClock::Unregister() {
  if (!m_registered) return;
  K().UnregisterClock(this);
  m_registered = false;
}

void DAXOBaseClock::RenameClock(const char* name) {
  Unregister();
  char* fresh = CopyName(name);
  delete[] m_name;
  m_name = fresh;
  Register();
}

const char* DAXOBaseClock::GetClockName() const {
  return m_name;
}

// --- listeners ------------------------------------------------------------------
// Every listener class unregisters in its own destructor already; this one
// covers classes derived from the base directly.
DAXOListenerBase::~DAXOListenerBase() {
  Unregister();
}

// The kernel receives this base's address, as void*: the engine casts it
// back to DAXOListenerBase* and from there to the listener class.
void DAXOListenerBase::Register() {
  if (m_registered.exchange(true)) return;
  K().RegisterListener(static_cast<int>(m_kind), static_cast<DAXOListenerBase*>(this));
}

// Tells the kernel even when the flag is already down: a callback that
// unregistered its own listener may still be running, and the kernel's
// unregistration is what waits for it (it ignores unknown listeners).
void DAXOListenerBase::Unregister() {
  m_registered = false;
  if (DAXOPrivate::kernel != nullptr) {
    DAXOPrivate::kernel->UnregisterListener(static_cast<int>(m_kind), this);
  }
}

void DAXOHMIKeysHandler::UpdateKeysState() {
  K().UpdateKeysState();
}
void DAXOHMIKeysHandler::UpdateFirstLastTimestamp() {
  K().UpdateFirstLastTimestamp();
}

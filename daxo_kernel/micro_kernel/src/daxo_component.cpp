// DAXOComponent: construction from the model's definition, the callbacks of
// the standard component properties, and the lifecycle (start, death,
// shutdown).
#include "daxo_component.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_thread.h"
#include "private/diagram_lock_scope.h"

// name, default, unit, needs2BeInitialized, canBeModifiedAfterStart, readOnly,
// locked, subtype.
const DAXOPropertyDefinition DAXOComponent::ThreadedPropertyDefinition{
    "threaded", new DAXOPropertyValue(false), nullptr, false, false, false, true};
const DAXOPropertyDefinition DAXOComponent::PriorityPropertyDefinition{
    "priority", new DAXOPropertyValue(128L), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOComponent::AutoStartPropertyDefinition{
    "autoStart", new DAXOPropertyValue(true), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOComponent::VersionPropertyDefinition{
    "componentModelVersion", new DAXOPropertyValue(""), nullptr, false, false, true, true};
const DAXOPropertyDefinition DAXOComponent::PrimaryThreadIDPropertyDefinition{
    "primaryThreadID", new DAXOPropertyValue(-1L), nullptr, false, false, true, true};

DAXOComponent::DAXOComponent(const char* name, DAXOComponentDefinition& definition)
    : DAXOModule(name, true, true), m_definition(&definition) {
  // Never started: dead, and its death counts as done.
  ChangeState(DAXO::DeadState, DAXO::LivingState);

  DAXOProperty* threaded = NewSpecialProperty(ThreadedPropertyDefinition);
  DirectSet(*threaded, definition.threaded);
  m_threaded = definition.threaded;
  threaded->SetSetCallback(&SetThreadedPropertyCallback);
  DAXOProperty* priority = NewSpecialProperty(PriorityPropertyDefinition);
  DirectSet(*priority, static_cast<long>(definition.priority));
  priority->SetSetCallback(&SetPriorityPropertyCallback);
  NewSpecialProperty(AutoStartPropertyDefinition)->SetSetCallback(&SetAutoStartPropertyCallback);
  DirectSet(*NewSpecialProperty(VersionPropertyDefinition),
            DAXOString(definition.version != nullptr ? definition.version : ""));
  NewSpecialProperty(PrimaryThreadIDPropertyDefinition);

  // A table still counted "until the zero row" is walked to that row.
  const DAXOUInt32 n = definition.nbProperties;
  for (DAXOUInt32 i = 0; definition.properties != nullptr && i < n; ++i) {
    const DAXOPropertyDefinition& row = definition.properties[i];
    if (n == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) break;
    NewProperty(row);
  }
  for (DAXOUInt32 i = 0; definition.inputs != nullptr && i < definition.nbInputs; ++i) {
    const DAXOInputDefinition& row = definition.inputs[i];
    if (definition.nbInputs == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) {
      break;
    }
    NewInput(row);
  }
  for (DAXOUInt32 i = 0; definition.outputs != nullptr && i < definition.nbOutputs; ++i) {
    const DAXOOutputDefinition& row = definition.outputs[i];
    if (definition.nbOutputs == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) {
      break;
    }
    NewOutput(row);
  }
  for (DAXOUInt32 i = 0; definition.actions != nullptr && i < definition.nbActions; ++i) {
    const DAXOActionDefinition& row = definition.actions[i];
    if (definition.nbActions == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) {
      break;
    }
    NewAction(row);
  }
}

DAXOComponent::~DAXOComponent() {
  DAXOUInt32& limit = m_definition->maxInstances;
  if (limit != 0) limit = (limit == 0xFFFFFFFF) ? 1 : limit + 1;
  if ((State() & DAXO::DeadState) == 0) {
    DAXOStreamedString text("The destructor of component ");
    text << name << " was called though " << name << " is still alive.";
    DAXOPrivate::Report(text, DAXO::Error, 1, true);
  }
}

namespace {

/// The row of a definition table: by index, or the first row named `model`
/// (tables end with a row without a name). Null when there is none.
template <class Row>
const Row* TableRow(const Row* table, DAXOUInt32 count, int index) {
  if (table == nullptr || index < 0) return nullptr;
  for (DAXOUInt32 i = 0; i < count; ++i) {
    if (count == DAXOComponentDefinition::CountUntilZeroRow && table[i].name == nullptr) break;
    if (static_cast<DAXOUInt32>(index) == i) return &table[i];
  }
  return nullptr;
}

template <class Row>
const Row* TableRow(const Row* table, const char* model) {
  for (int i = 0; table != nullptr && model != nullptr && table[i].name != nullptr; ++i) {
    if (std::strcmp(table[i].name, model) == 0) return &table[i];
  }
  return nullptr;
}

DAXOStreamedString NoModel(const char* kind, const char* model, const char* name) {
  DAXOStreamedString text("Call to New");
  text << kind << "(" << (model != nullptr ? model : "") << ", " << (name != nullptr ? name : "")
       << ") failed. The given model (" << (model != nullptr ? model : "") << ") does not exist.";
  return text;
}

}  // namespace

DAXOOutput& DAXOComponent::NewOutput(const DAXOOutputDefinition& definition,
                                     const char* shortName) {
  return CreateOutput(definition, shortName, "^[a-zA-Z][a-zA-Z_0-9]*$");
}

DAXOInput& DAXOComponent::NewInput(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->inputs, m_definition->nbInputs, index);
  if (row == nullptr) Error("Call to NewInput failed. Bad input definition.", 2);
  return NewInput(*row, shortName);
}

DAXOOutput& DAXOComponent::NewOutput(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->outputs, m_definition->nbOutputs, index);
  if (row == nullptr) Error("Call to NewOutput failed. Bad output definition.", 2);
  return NewOutput(*row, shortName);
}

DAXOProperty* DAXOComponent::NewProperty(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->properties, m_definition->nbProperties, index);
  if (row == nullptr) Error("Call to NewProperty failed. Bad property definition.", 2);
  return NewProperty(*row, shortName);
}

DAXOInput& DAXOComponent::NewInput(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->inputs, model);
  if (row == nullptr) Error(NoModel("Input", model, shortName), 2);
  return NewInput(*row, shortName);
}

DAXOOutput& DAXOComponent::NewOutput(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->outputs, model);
  if (row == nullptr) Error(NoModel("Output", model, shortName), 2);
  return NewOutput(*row, shortName);
}

DAXOProperty* DAXOComponent::NewProperty(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->properties, model);
  if (row == nullptr) Error(NoModel("Property", model, shortName), 2);
  return NewProperty(*row, shortName);
}

DAXOAction& DAXOComponent::NewAction(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->actions, m_definition->nbActions, index);
  if (row == nullptr) Error("Call to NewAction failed. Bad action definition.", 2);
  return NewAction(*row, shortName);
}

DAXOAction& DAXOComponent::NewAction(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->actions, model);
  if (row == nullptr) Error(NoModel("Action", model, shortName), 2);
  return NewAction(*row, shortName);
}

// --- dynamic elements ------------------------------------------------------------------

namespace {

/// Rows of a definition table (a count "until the zero row" is walked).
template <class Row>
int OwnRows(const Row* table, DAXOUInt32 count) {
  if (table == nullptr) return 0;
  if (count != DAXOComponentDefinition::CountUntilZeroRow) return static_cast<int>(count);
  int n = 0;
  while (table[n].name != nullptr) ++n;
  return n;
}

}  // namespace

void DAXOComponent::Dynamic() {
  ClearDynamicCursors();
}

void DAXOComponent::ResetDynamic() {
  const DAXOComponentDefinition& d = *m_definition;
  PlaceDynamicCursors(OwnRows(d.inputs, d.nbInputs), OwnRows(d.outputs, d.nbOutputs),
                      OwnRows(d.properties, d.nbProperties), OwnRows(d.actions, d.nbActions));
}

void DAXOComponent::CallDynamic() {
  DAXOPrivate::DiagramLockScope diagram("Calling Dynamic");
  {
    DAXOMutexGuard lifecycle(m_lifecycleLock);
    if ((State() & DAXO::LivingState) == 0 && !m_inDynamic) {
      m_inDynamic = true;
      // The module lock is taken by each creation and removal, not around
      // them all: removing an input detaches it, which takes its writer's
      // connection mutex (connection mutexes come before module locks).
      ResetDynamic();
      ChangeStateQuietly(0, DAXO::ErrorState);
      try {
        Dynamic();
      } catch (...) {
        ChangeStateQuietly(DAXO::ErrorState, 0);
      }
      RemoveFromDynamicCursors();
      m_inDynamic = false;
    }
  }
  NotifyState();
}

void DAXOComponent::Set(DAXOProperty& property, bool value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, long value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, double value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, const DAXOString& value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, const DAXOEnumStruct& value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

// --- extra threads ---------------------------------------------------------------------

void DAXOComponent::CreateThread(void (DAXOModule::*function)()) {
  StartExtraThread(function, "Failed to create a component thread that runs a member function");
}

namespace {

/// The start record of a thread running a free function; lives on the
/// creator's stack until `started` is set.
struct FreeThreadStart {
  int reserved0;
  int reserved1;
  std::atomic<bool>* started;
  bool* created;
  unsigned long* threadId;
  DAXOComponent* component;
  void (*function)(void*);
  void* argument;
};

void FreeThreadEntry(void* record) {
  auto* start = static_cast<FreeThreadStart*>(record);
  DAXOComponent* component = start->component;
  void (*function)(void*) = start->function;
  void* argument = start->argument;
  component->OneMoreLife();
  *start->created = true;
  *start->threadId = DAXO::GetCurrentThreadId();
  start->started->store(true);
  try {
    function(argument);
  } catch (...) {
    DAXOStreamedString text(component->name != nullptr ? component->name : "");
    text << ": unhandled exception thrown from a component thread.";
    DAXOPrivate::Report(text, DAXO::Error, 2, true);
  }
  component->LoseOneLife();
}

}  // namespace

DAXOCouple<bool, unsigned long> DAXOComponent::CreateThread(void (*function)(void*),
                                                            void* argument) {
  bool found = false;
  DAXOPrivate::EngineStringProperty("Engine.version", &found);
  if (!found) {
    Error(
        "This component needs to create a component thread that runs a non-member function. "
        "Your engine version does NOT support creating component threads that run non-member "
        "functions. Either update your engine to Velquor >= 4.7.0 or change this component's "
        "code to use DAXOComponent::CreateThread(DAXOThreadFunction) instead of "
        "DAXOComponent::CreateThread(DAXOThreadFreeFunction, void*)",
        1);
  }
  std::atomic<bool> started{false};
  bool created = false;
  unsigned long threadId = 0;
  FreeThreadStart start{0, 1, &started, &created, &threadId, this, function, argument};
  if (function == nullptr || DAXOPrivate::kernel == nullptr ||
      !DAXOPrivate::kernel->StartModuleThread(&FreeThreadEntry, &start, this)) {
    Error("Failed to create a component thread that runs a non-member function", 1);
  }
  while (!started.load()) DAXO::Wait4AWhile();
  return DAXOCouple<bool, unsigned long>(created, threadId);
}

const char* DAXOComponent::Kind() const {
  return "component";
}

bool DAXOComponent::IsThreaded() {
  return m_threaded.load();
}

// The callbacks run under the value locks of the property's module: they
// read the stored value directly.

void DAXOComponent::SetThreadedPropertyCallback(DAXOProperty& property) {
  auto* component = static_cast<DAXOComponent*>(property.Owner());
  component->m_threaded = property.BoolValue();
}

void DAXOComponent::SetPriorityPropertyCallback(DAXOProperty& property) {
  auto* component = static_cast<DAXOComponent*>(property.Owner());
  const auto priority = static_cast<DAXOUInt32>(property.IntegerValue());
  if (priority > 255) {
    component->DirectSet(property, 128L);
    component->Error(
        "Invalid priority value. Component's priority should be set between 0 and 255.", 1);
  }
  component->ApplyPriority(static_cast<int>(priority));
}

void DAXOComponent::SetAutoStartPropertyCallback(DAXOProperty& property) {
  auto* component = static_cast<DAXOComponent*>(property.Owner());
  if (property.BoolValue()) {
    component->ChangeState(DAXO::StartAutomaticallyState, 0);
  } else {
    component->ChangeState(0, DAXO::StartAutomaticallyState);
  }
}

// --- lifecycle -------------------------------------------------------------------

namespace {

constexpr DAXODelay kBirthTimeout = 3000000;
constexpr DAXODelay kRefusesToDieLimit = 10000000;

const char kThreadedNotAllowed[] =
    "Threaded behaviour is not allowed anymore for this component (its threading model may have "
    "changed since last save operation).";
const char kSequentialNotAllowed[] =
    "Sequential behaviour is not allowed anymore for this component (its threading model may "
    "have changed since last save operation).";
const char kCatchUp[] = " Trying to catch up but the component might crash later.";

}  // namespace

void DAXOComponent::SignalBirth() {
  // Runs on the component's main thread: "primaryThreadID" names it while
  // the component lives.
  SetIfPresent("primaryThreadID", DAXO::CurrentTID());
  m_birthEvent.Set();
}

bool DAXOComponent::AskedToDie() {
  return (State() & DAXO::DyingState) != 0 || DieEvent().State();
}

bool DAXOComponent::PrimitiveFailed() {
  return m_primitiveFailed.load();
}

void DAXOComponent::EndLifeOnFailure() {
  // A component that ended itself (CommitSuicide) after the failure is dead
  // already: its death must not run or be marked twice.
  if (m_primitiveFailed.load() && !m_deathCalled) throw DAXO::ErrorException;
}

void DAXOComponent::SetIfPresent(const char* property, long value) {
  if (HasProperty(property)) DirectSet(*Property(property), value);
}

void DAXOComponent::Start() {
  {
    DAXOMutexGuard guard(ModuleLock());
    if ((State() & DAXO::LivingState) != 0) {
      NotifyState();
      return;
    }
    m_primitiveFailed = false;
    ChangeState(DAXO::LivingState, DAXO::ErrorState);
  }
  DAXOMutexGuard lifecycle(m_lifecycleLock);

  const int own = NbProperties();
  for (int i = 0; i < own; ++i) {
    auto* property = static_cast<DAXOPropertyImplementation*>(Property(i));
    bool uninitialised;
    {
      ValueGuard values(*this);
      uninitialised = property->definition.needs2BeInitialized;
    }
    if (uninitialised) {
      ChangeState(DAXO::ErrorState, DAXO::LivingState);
      lifecycle.unlock();
      DAXOStreamedString text("Unable to start component ");
      text << name << ". Its property " << property->Name() << " needs to be initialized.";
      DAXOPrivate::KernelError(text, 1);
    }
  }

  // Outputs made with a size got their buffer when they were created, and
  // keep it until the component frees its buffers: only the others are
  // allocated here (a second allocation would be refused).
  try {
    const int outputs = NbOutputs();
    for (int i = 0; i < outputs; ++i) {
      auto& out = static_cast<DAXOOutputImplementation&>(Output(i));
      if (out.itemCount == 0) out.AllocOutputBuffer(out.definition.size, true);
    }
  } catch (int) {
    ChangeState(0, DAXO::LivingState);
    lifecycle.unlock();
    throw;
  }

  {
    DAXOMutexGuard guard(ModuleLock());
    DieEvent().Reset();
    AllLivesLostEvent().Reset();
    ChangeState(0, DAXO::DyingState | DAXO::DeadState);
  }

  const DAXOUInt32 kind = m_definition->kind;
  if (IsThreaded() && (kind & DAXO::Threaded) == 0) {
    Report(kThreadedNotAllowed, DAXO::Warning, 0);
    // Written directly: the property is not modifiable while living.
    DirectSet(*Property("threaded"), false);
    m_threaded = false;
  }
  if (!IsThreaded() && (kind & DAXO::Sequential) == 0) {
    Report(kSequentialNotAllowed, DAXO::Warning, 0);
    DirectSet(*Property("threaded"), true);
    m_threaded = true;
  }

  m_threadedReads = IsThreaded();
  if (IsThreaded()) {
    // The main thread's life is counted before the thread exists, so that a
    // death racing with its start still waits for it.
    m_deathCalled = false;
    m_birthEvent.Reset();
    OneMoreLife();
    // The engine owns the main thread and runs the life on it: without an
    // engine there is nobody to run it.
    if (DAXOPrivate::kernel == nullptr || !DAXOPrivate::kernel->StartComponentThread(this)) {
      LoseOneLife();
      m_deathCalled = true;
      ChangeState(DAXO::ErrorState | DAXO::DeadState, DAXO::LivingState);
      lifecycle.unlock();
      Error("Failed to start component main thread", 1);
    }
    if (DAXO::GetBoolProperty("Engine.sequentialStart")) {
      DAXOEvent* events[2] = {&m_birthEvent, &DieEvent()};
      const int fired = DAXOEvent::Wait(2, events, kBirthTimeout);
      if (fired == DAXO::TimeOut) {
        Report("Couldn't start. Birth didn't occur correctly (3s timeout).", DAXO::Info, 0);
      } else if (fired == 1) {
        Report("Couldn't start. Birth didn't occur correctly (died at birth).", DAXO::Info, 0);
      }
    }
  } else {
    SetIfPresent("primaryThreadID", 0);
    DAXOMutexGuard death(m_deathLock);
    m_deathCalled = false;
    OneMoreLife();
    try {
      Birth();
      EndLifeOnFailure();
      // A Birth that ended its own life (CommitSuicide) is dead already.
      if (!m_deathCalled) ChangeState(0, DAXO::DeadState);
      // What the inputs received before the start is served now.
      const int inputs = NbInputs();
      for (int i = 0; i < inputs && !m_deathCalled; ++i) ServeInput(Input(i));
    } catch (...) {
      SequentialStartFailed();
    }
  }
  NotifyState();
}

void DAXOComponent::ServeInput(DAXOInput& input, bool releaseAll) {
  auto& in = static_cast<DAXOInputImplementation&>(input);
  // The current input is the one being served, and none outside a call.
  struct Current {
    DAXOInput*& slot;
    ~Current() { slot = nullptr; }
  } current{m_currentInput};
  m_currentInput = &input;
  // A sampling or wait-for-next reader always finds the newest sample: one
  // Core per call, or it would never stop.
  if (in.readerType >= DAXO::Wait4NextReader) {
    if (!input.DataAvailableInFIFO()) return;
    PerformanceMonitoring();
    Core();
    if (releaseAll) ReleaseAllInputs();
    EndLifeOnFailure();
    return;
  }
  while (!m_deathCalled && (State() & DAXO::DyingState) == 0 && input.DataAvailableInFIFO()) {
    if (in.subsamplingCounter >= in.subsampling - 1) {
      in.subsamplingCounter = 0;
      const int before = input.NbDataAvailableInFIFO();
      PerformanceMonitoring();
      Core();
      if (releaseAll) ReleaseAllInputs();
      EndLifeOnFailure();
      // A Core that does not read its input would be served for ever.
      if (input.NbDataAvailableInFIFO() >= before) break;
    } else {
      StartReading(input);
      StopReading(input);
      ++in.subsamplingCounter;
    }
  }
}

void DAXOComponent::ReleaseAllInputs() {
  const int inputs = NbInputs();
  for (int i = 0; i < inputs; ++i) StopReading(Input(i));
}

void DAXOComponent::SequentialCore(DAXOInput* input) {
  if (input == nullptr) return;
  DAXOMutexGuard death(m_deathLock);
  if (m_deathCalled || (State() & DAXO::DyingState) != 0) return;
  DAXOStreamedString prefix(Kind());
  prefix << " " << name;
  auto dieWithError = [&](bool error) {
    ChangeState(DAXO::DyingState | (error ? DAXO::ErrorState : 0), 0);
    DieEvent().Set();
    if (!m_deathCalled) DeathSequence();
  };
  try {
    ServeInput(*input, true);
  } catch (int code) {
    if (code == DAXO::ModuleDied) return;
    if (code == DAXO::ErrorException) {
      DAXO::ReportWarning(DAXOStreamedString(prefix) << " (sequential) died due to an error.", 1);
      dieWithError(true);
      return;
    }
    ChangeState(DAXO::ErrorState, 0);
    death.unlock();
    if (code == DAXO::TimeOut) {
      DAXOPrivate::KernelError(
          DAXOStreamedString("Component ") << name << " : Time out (deadlock?) on an input", 1);
    }
    throw;
  } catch (const char* what) {
    FatalReport(DAXOStreamedString(prefix) << " : Fatal error : Unhandled string thrown: "
                                           << (what != nullptr ? what : "") << kCatchUp);
    dieWithError(true);
  } catch (const std::exception& e) {
    FatalReport(DAXOStreamedString(prefix)
                << " : Fatal error : Unhandled std::exception thrown: " << e.what() << kCatchUp);
    dieWithError(true);
  } catch (...) {
    FatalReport(DAXOStreamedString(prefix)
                << " : Fatal error : Unhandled exception thrown." << kCatchUp);
    dieWithError(true);
  }
}

void DAXOComponent::FatalReport(const DAXOString& text) {
  DAXOPrivate::MessageBox(text, 2, 2, true);
  DAXO::ReportError(text, 0);
}

void DAXOComponent::SequentialStartFailed() {
  DAXOStreamedString prefix(Kind());
  prefix << " " << name;
  try {
    throw;
  } catch (int code) {
    if (code != DAXO::ErrorException) {
      DAXOStreamedString text(prefix);
      text << " : Fatal error : Unhandled integer exception thrown." << kCatchUp;
      FatalReport(text);
    }
    DAXOStreamedString text(prefix);
    text << " (sequential) died due to an error.";
    DAXO::ReportWarning(text, 1);
  } catch (const std::exception& e) {
    DAXOStreamedString text(prefix);
    text << " : Fatal error : Unhandled std::exception thrown: " << e.what() << kCatchUp;
    FatalReport(text);
  } catch (...) {
    DAXOStreamedString text(prefix);
    text << " : Fatal error : Unhandled exception thrown." << kCatchUp;
    FatalReport(text);
  }
  if (!m_deathCalled) DeathSequence();
}

void DAXOComponent::DeathSequence() {
  if ((State() & DAXO::DyingState) == 0 || !DieEvent().State()) Die();
  m_deathCalled = true;
  LoseOneLife();
  try {
    Banzai();
  } catch (...) {
    // A failing Banzai must not keep the component from dying.
    DAXOStreamedString text(name);
    text << ": unhandled exception thrown from Banzai(). Trying to catch up. The component "
            "might crash later.";
    DAXOPrivate::Report(text, DAXO::Error, 2, true);
  }
  Wait4Death();
  CallDeath();
  Die4Good();
}

void DAXOComponent::RunDeathSequence() {
  // Before the death sequence: once it ends, the component may be gone.
  SetIfPresent("primaryThreadID", -1);
  DeathSequence();
}

void DAXOComponent::CallDeath() {
  const char* tail = ". Trying to catch up. The component might crash later.";
  try {
    Death();
  } catch (int code) {
    DAXOStreamedString text(name);
    if (code == DAXO::ErrorException) {
      text << ": DAXO::ErrorException thrown from Death()" << tail;
      DAXOPrivate::Report(text, DAXO::Error, 0, true);
    } else {
      text << ": unhandled integer exception thrown from Death()" << tail;
      DAXOPrivate::Report(text, DAXO::Error, 2, true);
    }
  } catch (const std::exception& e) {
    DAXOStreamedString text(name);
    text << ": unhandled std::exception thrown from Death() (" << e.what() << ")" << tail;
    DAXOPrivate::Report(text, DAXO::Error, 2, true);
  } catch (...) {
    DAXOStreamedString text(name);
    text << ": unhandled exception thrown from Death()" << tail;
    DAXOPrivate::Report(text, DAXO::Error, 2, true);
  }
}

void DAXOComponent::Die4Good() {
  {
    const int inputs = NbInputs();
    for (int i = 0; i < inputs; ++i) {
      auto& in = static_cast<DAXOInputImplementation&>(Input(i));
      if (in.heldCount > 0) StopReading(in);
    }
  }
  DAXOStreamedString text("Component ");
  text << name << " is dead.";
  DAXOPrivate::Report(text, DAXO::Info, 0, true);
  SetIfPresent("counter", 0);
  SetIfPresent("averagePeriod", 0);
  SetIfPresent("minPeriod", 0);
  SetIfPresent("maxPeriod", 0);
  ResetPeriodStatistics();
  m_birthEvent.Reset();
  // The engine hears of the dead state before it is stored: once it is
  // stored, Shutdown may return and the owner destroy the component, so the
  // store is the last touch of this object.
  const DAXOUInt32 dead = (State() & ~(DAXO::DyingState | DAXO::LivingState)) | DAXO::DeadState;
  if (DAXOPrivate::kernel != nullptr) {
    DAXOPrivate::kernel->NotifyModuleState(name, static_cast<int>(dead));
  }
  ChangeStateQuietly(DAXO::DeadState, DAXO::DyingState | DAXO::LivingState);
}

void DAXOComponent::CommitSuicide() {
  Die();
  if (IsThreaded()) throw DAXO::ModuleDied;
  // Sequential: the caller (Birth or Core) runs under the death lock.
  if (!m_deathCalled) DeathSequence();
}

void DAXOComponent::SequentialDeath() {
  if (IsThreaded()) return;
  SetIfPresent("primaryThreadID", -1);
  DAXOMutexGuard death(m_deathLock);
  if (!m_deathCalled) DeathSequence();
}

void DAXOComponent::CleanUp() {
  {
    DAXOMutexGuard guard(ModuleLock());
    for (DAXOListIterator it = m_inputs.First(); it != nullptr; ++it) {
      auto& in = static_cast<DAXOInputImplementation&>(*m_inputs.Value(it));
      DAXOMutexGuard input(in.mutex);
      in.insideStartReading = false;
      in.heldCount = 0;
      in.subsamplingCounter = 0;
    }
    for (DAXOListIterator it = m_outputs.First(); it != nullptr; ++it) {
      static_cast<DAXOOutputImplementation&>(*m_outputs.Value(it)).monitor->ReleaseAllReaders();
    }
  }
  ChangeState(0, DAXO::DyingState);
}

void DAXOComponent::FreeBuffers() {
  DAXOMutexGuard guard(ModuleLock());
  for (DAXOListIterator it = m_outputs.First(); it != nullptr; ++it) {
    static_cast<DAXOOutputImplementation&>(*m_outputs.Value(it)).FreeBuffer();
  }
}

void DAXOComponent::Shutdown() {
  Die();
  if (!IsThreaded()) {
    SetIfPresent("primaryThreadID", -1);
    DAXOMutexGuard death(m_deathLock);
    if (!m_deathCalled) DeathSequence();
  }
  const DAXOTimestamp begin = DAXO::GetSystemAccurateTiming();
  while ((State() & DAXO::DeadState) == 0) {
    if (DAXO::GetSystemAccurateTiming() - begin > kRefusesToDieLimit) {
      DAXOStreamedString text("Component ");
      text << name << " refuses to die after 10 seconds. The component model "
           << (m_definition->name != nullptr ? m_definition->name : "") << " must be bugged.";
      DAXOPrivate::Report(text, DAXO::Warning, 1, true);
      break;
    }
    DAXO::Wait4AWhile();
  }
  const bool dead = (State() & DAXO::DeadState) != 0;
  // Readers of the outputs give back what they hold before the buffers go.
  // No module lock around it: connection mutexes come before module locks.
  const int outputs = NbOutputs();
  for (int i = 0; i < outputs; ++i) {
    static_cast<DAXOOutputImplementation&>(Output(i)).HandshakeReaders();
  }
  CleanUp();
  // A component that refuses to die may still write into its buffers.
  if (dead) FreeBuffers();
  NotifyState();
}

// --- renaming after the upstream component --------------------------------------------

bool DAXO::KillComponent(DAXOComponent& component) {
  return DAXOPrivate::kernel != nullptr && DAXOPrivate::kernel->KillComponent(component.name);
}

namespace {

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? colon : colon - start));
    if (colon == std::string::npos) return parts;
    start = colon + 1;
  }
}

}  // namespace

void DAXOComponent::ActionRenameAfterUpstreamComponent(DAXOModule* module, int) {
  auto* self = dynamic_cast<DAXOComponent*>(module);
  if (self == nullptr) {
    DAXO::ReportError("Internal error while renaming after upstream component.", 0);
    return;
  }
  if ((DAXO::GetState() & DAXO::Running) != 0) {
    self->Report("This action is not allowed when Velquor is running.", DAXO::Error, 0);
    return;
  }
  if (self->NbInputs() == 0) {
    self->Report(
        "This action scans what is connected to this component's first input, but this "
        "component does not seem to have any inputs.",
        DAXO::Error, 0);
    return;
  }
  const std::string own = self->name != nullptr ? self->name : "";
  const bool macro = !own.empty() && own[0] == '@';
  DAXOOutput* upstream = self->Input(0).ConnectedOutput();
  if (upstream == nullptr) {
    std::string text =
        "This action scans what is connected to this component's first input. Please connect it "
        "in order to rename after upstream component.";
    if (macro) text += " Note however that you cannot rename after a macro-component input.";
    self->Report(text.c_str(), DAXO::Error, 0);
    return;
  }
  std::string outputName = upstream->Name();
  const bool upstreamMacro = !outputName.empty() && outputName[0] == '@';
  std::replace(outputName.begin(), outputName.end(), '.', '_');
  const std::vector<std::string> p = SplitColons(outputName);
  const std::vector<std::string> c = SplitColons(own);
  const char* cannotAccess =
      "Cannot access macro-component output name: renaming after native component & output "
      "inside.";
  if (macro) {
    if (c.size() != p.size()) self->Report(cannotAccess, DAXO::Warning, 0);
  } else if (c.size() > 1) {
    self->Report(
        "Renaming a component inside a Macro-Component *instance* is forbidden. You may "
        "however rename a component in the Macro-Component *model*: Right-click on the "
        "macro-component and select Edit Macro-Component.",
        DAXO::Error, 0);
    return;
  } else if (p.size() > 1) {
    self->Report(cannotAccess, DAXO::Warning, 0);
  }
  std::string base;
  int appended = 0;
  for (const std::string& part : p) {
    if (part.empty()) continue;
    if (appended == 1) base += upstreamMacro ? "::" : "_";
    if (appended > 1) base += "_";
    base += part;
    ++appended;
  }
  for (int k = 0; k <= 20; ++k) {
    const std::string candidate = k == 0 ? base : base + "_" + std::to_string(k);
    DAXOComponent* holder = DAXOPrivate::kernel != nullptr
                                ? DAXOPrivate::kernel->Component(candidate.c_str())
                                : nullptr;
    if (holder == self) {
      self->Report("Component is already named after its upstream component's output.",
                   DAXO::Warning, 0);
      return;
    }
    if (holder != nullptr) continue;
    try {
      if (!DAXO::RenameComponent(own.c_str(), candidate.c_str())) throw 0;
    } catch (...) {
      self->Report(("Unable to rename component after upstream component: suitable name found ('" +
                    candidate + "') but renaming failed.")
                       .c_str(),
                   DAXO::Error, 0);
    }
    return;
  }
  self->Report(
      "Could not find an available name for component. You may change the upstream "
      "component name and try again.",
      DAXO::Error, 0);
}

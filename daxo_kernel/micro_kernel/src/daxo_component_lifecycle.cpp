// DAXOComponent's lifecycle: Start (birth on the component's own thread
// or, for a sequential component, on the caller's), the reading of inputs
// for sequential components, the death sequence, and Shutdown.
//
// States: dead (never started, or ended) -> living -> dying -> dead. The
// engine hears of every change (NotifyModuleState); the dead state is told
// before it is stored, and its store is the last touch of a component
// whose Shutdown may be waiting to destroy it.
//
// Locks: Start holds the lifecycle lock, and inside it the death lock for
// a sequential component. A sequential component's reads and death run
// under its death lock, on its writer's thread with the writer's
// connection mutex held (daxo_module_rw.cpp): connection mutex, then the
// reader's death lock. The module lock is taken and released inside these,
// never held around them.
#include <algorithm>
#include <cstring>
#include <exception>

#include "daxo_component.h"
#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_thread.h"

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

// The first own property that needs to be set before a start and was not.
DAXOPropertyImplementation* UninitialisedProperty(DAXOComponent& component) {
  const int own = component.NbProperties();
  for (int i = 0; i < own; ++i) {
    auto* property = static_cast<DAXOPropertyImplementation*>(component.Property(i));
    DAXOModule::ValueGuard values(component);
    if (property->definition.needs2BeInitialized) return property;
  }
  return nullptr;
}

// Outputs made with a size got their buffer when they were created, and
// keep it until the component frees its buffers: only the others are
// allocated here (a second allocation would be refused).
void AllocateUnsizedOutputs(DAXOComponent& component) {
  const int outputs = component.NbOutputs();
  for (int i = 0; i < outputs; ++i) {
    auto& out = static_cast<DAXOOutputImplementation&>(component.Output(i));
    if (out.itemCount == 0) out.AllocOutputBuffer(out.definition.size, true);
  }
}

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

  if (DAXOPropertyImplementation* property = UninitialisedProperty(*this)) {
    ChangeState(DAXO::ErrorState, DAXO::LivingState);
    lifecycle.unlock();
    DAXOStreamedString text("Unable to start component ");
    text << name << ". Its property " << property->Name() << " needs to be initialized.";
    DAXOPrivate::KernelError(text, 1);
  }
  try {
    AllocateUnsizedOutputs(*this);
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

  ApplyThreadingModel();
  m_threadedReads = IsThreaded();
  if (IsThreaded()) {
    if (!LaunchMainThread()) {
      ChangeState(DAXO::ErrorState | DAXO::DeadState, DAXO::LivingState);
      lifecycle.unlock();
      Error("Failed to start component main thread", 1);
    }
  } else {
    BirthOnCaller();
  }
  NotifyState();
}

void DAXOComponent::ApplyThreadingModel() {
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
}

bool DAXOComponent::LaunchMainThread() {
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
    return false;
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
  return true;
}

void DAXOComponent::BirthOnCaller() {
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
      if (in.reader.HeldCount() > 0) StopReading(in);
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
      DAXOMutexGuard input(in.reader.Mutex());
      in.reader.LeaveLocked();
      in.reader.ForgetHoldsLocked();
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

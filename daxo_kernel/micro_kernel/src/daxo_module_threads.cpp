// The threads of a module (extra threads it starts, the thread list the
// engine keeps in it and the built-in properties that read or steer the
// listed threads) and its period statistics.
//
// Locks: the thread list is guarded by the threads lock, taken under the
// module's value locks (module lock, property lock) by the property
// callbacks and by EngineThreadBegins; the thread objects are called with
// it held (daxo_lock_order.h).
#include <atomic>

#include "daxo_kernel.h"
#include "daxo_module.h"
#include "daxo_property.h"
#include "daxo_services.h"
#include "daxo_thread.h"

namespace {

/// What the creator hands to a new extra thread; lives on the creator's
/// stack until `started` is set.
struct ModuleThreadStart {
  DAXOModule* module;
  void (DAXOModule::*function)();
  std::atomic<bool>* started;
};

void ModuleThreadEntry(void* argument) {
  auto* start = static_cast<ModuleThreadStart*>(argument);
  DAXOModule* module = start->module;
  void (DAXOModule::*function)() = start->function;
  // The life is counted before the creator goes on, so that a death racing
  // with the start waits for this thread.
  module->OneMoreLife();
  start->started->store(true);
  try {
    (module->*function)();
  } catch (int code) {
    if (code != DAXO::ModuleDied && code != DAXO::ErrorException) {
      DAXOStreamedString text(module->name != nullptr ? module->name : "");
      text << ": unhandled integer exception thrown from an extra thread.";
      DAXOPrivate::Report(text, DAXO::Error, 2, true);
    }
  } catch (const std::exception& e) {
    DAXOStreamedString text(module->name != nullptr ? module->name : "");
    text << ": unhandled std::exception thrown from an extra thread (" << e.what() << ").";
    DAXOPrivate::Report(text, DAXO::Error, 2, true);
  } catch (...) {
    DAXOStreamedString text(module->name != nullptr ? module->name : "");
    text << ": unhandled exception thrown from an extra thread.";
    DAXOPrivate::Report(text, DAXO::Error, 2, true);
  }
  module->LoseOneLife();
}

}  // namespace

void DAXOModule::StartExtraThread(void (DAXOModule::*function)(), const char* failure) {
  std::atomic<bool> started{false};
  ModuleThreadStart start{this, function, &started};
  if (function == nullptr || DAXOPrivate::kernel == nullptr ||
      !DAXOPrivate::kernel->StartModuleThread(&ModuleThreadEntry, &start, this)) {
    Error(failure, 1);
  }
  while (!started.load()) DAXO::Wait4AWhile();
}

void DAXOModule::CreateThread(void (DAXOModule::*function)()) {
  StartExtraThread(function, "Failed to create module thread");
}

// --- the thread list ---------------------------------------------------------------------

void DAXOModule::AddThread(DAXOThread* thread) {
  DAXOMutexGuard guard(m_threadsLock);
  m_threads.PushBack(thread);
}

void DAXOModule::RemoveThread(DAXOThread* thread) {
  DAXOMutexGuard guard(m_threadsLock);
  DAXOListIterator it = m_threads.Find(thread);
  if (it != nullptr) m_threads.Remove(it);
}

bool DAXOModule::EngineThreadBegins(DAXOThread* thread) {
  if (thread == nullptr) return false;
  try {
    // Under the value locks: SetProcessorProperty runs under them too, so
    // a change of "processor" is either read below or finds the thread
    // listed.
    ValueGuard guard(*this);
    AddThread(thread);
    OneMoreLife();
    auto* processor =
        static_cast<DAXOPropertyImplementation*>(FindPropertyByName("processor", false));
    if (processor != nullptr && processor->value.type == DAXO::PropertyTypeInteger) {
      // -1 leaves the thread where its creator's affinity put it.
      const long value = processor->value.value.integer;
      if (value != -1) thread->SetProcessor(static_cast<int>(value));
    }
    return true;
  } catch (...) {
    // Only the list's allocation can fail, before the life is taken.
    return false;
  }
}

void DAXOModule::EngineThreadEnds(DAXOThread* thread) {
  RemoveThread(thread);
  LoseOneLife();
}

// --- callbacks of the built-in properties that reach the threads ------------------------
// They run under the module's value locks (the set or get that called them).

void DAXOModule::SetProcessorProperty(DAXOProperty& property) {
  DAXOModule* module = property.Owner();
  const auto processor =
      static_cast<int>(static_cast<DAXOPropertyImplementation&>(property).value.value.integer);
  DAXOMutexGuard guard(module->m_threadsLock);
  for (DAXOListIterator it = module->m_threads.First(); it != nullptr; ++it) {
    module->m_threads.Value(it)->SetProcessor(processor);
  }
}

void DAXOModule::ApplyPriority(int priority) {
  DAXOMutexGuard guard(m_threadsLock);
  for (DAXOListIterator it = m_threads.First(); it != nullptr; ++it) {
    m_threads.Value(it)->SetPriority(priority);
  }
}

void DAXOModule::GetPerfMonProperties(DAXOProperty& property, void* value) {
  DAXOModule* module = property.Owner();
  const bool load = static_cast<DAXOPropertyImplementation&>(property).shortName == "CPULoad";
  long sum = 0;
  {
    DAXOMutexGuard guard(module->m_threadsLock);
    for (DAXOListIterator it = module->m_threads.First(); it != nullptr; ++it) {
      DAXOThread* thread = module->m_threads.Value(it);
      sum += load ? thread->GetCPULoad() : thread->GetContextSwitches();
    }
  }
  // The loads are in hundredths of a percent: the property shows whole
  // percents, rounded (0 without threads).
  *static_cast<long*>(value) = load ? (sum + 50) / 100 : sum;
}

// --- period statistics ---------------------------------------------------------------

void DAXOModule::ResetPeriodStatistics() {
  m_periods.count = 0;
  m_periods.position = 0;
  m_periods.sum = 0;
}

void DAXOModule::PerformanceMonitoring() {
  if (!HasProperty("counter") || !HasProperty("nbPeriods")) return;
  DAXOProperty& counter = *Property("counter");
  DirectSet(counter, static_cast<long>(counter.IntegerValue() + 1));

  PeriodStatistics& p = m_periods;
  DAXOProperty& nbPeriods = *Property("nbPeriods");
  if (nbPeriods.PropertyChanged() || p.ring == nullptr) {
    long n = nbPeriods.IntegerValue();
    if (n < 1) n = 1;
    if (n > p.capacity) {
      int capacity = 1;
      while (capacity < n) capacity <<= 1;
      delete[] p.ring;
      p.ring = new DAXOTimestamp[static_cast<size_t>(capacity)];
      p.capacity = capacity;
    }
    p.window = static_cast<int>(n);
    for (int i = 0; i < p.window; ++i) p.ring[i] = -1;
    nbPeriods.AcknowledgePropertyChanged();
    ResetPeriodStatistics();
  }
  const DAXOTimestamp now = DAXO::CurrentTime(true, true);
  if (p.count == 0) {
    p.last = now;
    p.count = 1;
    return;
  }
  const bool full = p.count - 1 >= p.window;  // periods stored so far fill it
  const DAXOTimestamp period = now - p.last;
  p.last = now;
  if (full) p.sum -= p.ring[p.position];
  p.ring[p.position] = period;
  p.sum += period;
  ++p.count;
  p.position = (p.position + 1) % p.window;
  const long m = p.count - 1 < p.window ? p.count - 1 : p.window;
  DAXOTimestamp lowest = p.ring[0];
  DAXOTimestamp highest = p.ring[0];
  for (int i = 0; i < p.window; ++i) {
    if (p.ring[i] < 0) continue;  // not measured yet
    if (lowest < 0 || p.ring[i] < lowest) lowest = p.ring[i];
    if (p.ring[i] > highest) highest = p.ring[i];
  }
  DirectSet(*Property("averagePeriod"), static_cast<long>(p.sum / m));
  DirectSet(*Property("maxPeriod"), static_cast<long>(highest));
  DirectSet(*Property("minPeriod"), static_cast<long>(lowest));
}

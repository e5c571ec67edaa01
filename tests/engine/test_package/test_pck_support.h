// What the engine's test packages share: the one lock and condition their
// probes wait on, a wait with a generous time-out, and threaded models.
// Each package is one translation unit, so each gets its own copies.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "daxo_component.h"
#include "daxo_definitions.h"

namespace {

std::mutex g_lock;                  // the package's shared state
std::condition_variable g_changed;  // notified after each change of it

/// Waits under g_lock until `done()` holds (false after 10 s).
template <class Done>
bool WaitUntil(Done done) {
  std::unique_lock<std::mutex> guard(g_lock);
  return g_changed.wait_for(guard, std::chrono::seconds(10), done);
}

template <class C>
DAXOComponent* New(const char* name, DAXOComponentDefinition& definition) {
  return new C(name, definition);
}

/// `d` made a threaded model of priority 128.
inline DAXOComponentDefinition Threaded(DAXOComponentDefinition d) {
  d.kind = DAXO::Threaded;
  d.threaded = true;
  d.priority = 128;
  return d;
}

inline DAXOComponentDefinition Threaded(const char* model,
                                        DAXOComponentInstantiationFunction make) {
  return Threaded(DAXOComponentDefinition{model, "1.0.0", make});
}

}  // namespace

// DiagramLock: the recursive lock that keeps the diagram (components and
// connections) from changing under its holder. It records the holder's
// reason for diagnostics: who holds it now, a warning when a taker has been
// blocked for long (naming the holder's reason) and when a holder kept it
// for long.
//
// Threading: any thread. Lock blocks (no time-out) unless the caller already
// holds it; Unlock by a thread that does not hold it is ignored. The internal
// mutex is a leaf lock; reports are made after it is released. The diagram
// lock itself is the outermost lock (daxo_lock_order.h): its holder may
// call every other engine service.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "engine_mutex.h"

namespace velquor {

class DiagramLock {
 public:
  using Warn = std::function<void(const std::string&)>;

  /// `warn` receives the diagnostics; `slow` is the hold / wait time past
  /// which they are made.
  DiagramLock(Warn warn, std::chrono::milliseconds slow);

  void Lock(const std::string& reason) DAXO_EXCLUDES(m_mutex);
  /// Takes the lock only when it is free or already the caller's.
  bool TryLock(const std::string& reason) DAXO_EXCLUDES(m_mutex);
  void Unlock() DAXO_EXCLUDES(m_mutex);
  /// The holder's reason (the one given by its outermost Lock); empty when
  /// free.
  std::string Holder() const DAXO_EXCLUDES(m_mutex);

 private:
  bool TakeIfAvailable(const std::string& reason) DAXO_REQUIRES(m_mutex);

  Warn m_warn;
  std::chrono::milliseconds m_slow;
  mutable Mutex m_mutex;  // a leaf
  std::condition_variable m_released;
  std::thread::id m_owner DAXO_GUARDED_BY(m_mutex);
  int m_depth DAXO_GUARDED_BY(m_mutex) = 0;
  std::string m_reason DAXO_GUARDED_BY(m_mutex);
  std::chrono::steady_clock::time_point m_since DAXO_GUARDED_BY(m_mutex);
};

/// Holds the engine's diagram lock for a scope.
class DiagramScope {
 public:
  DiagramScope(DiagramLock& lock, const std::string& reason) : m_lock(lock) { m_lock.Lock(reason); }
  ~DiagramScope() { m_lock.Unlock(); }
  DiagramScope(const DiagramScope&) = delete;
  DiagramScope& operator=(const DiagramScope&) = delete;

 private:
  DiagramLock& m_lock;
};

/// What a component's code threw, in words for a report ("error code 7",
/// a C string's text, a standard exception's what(), "unknown error").
std::string DescribeException(std::exception_ptr error);

}  // namespace velquor

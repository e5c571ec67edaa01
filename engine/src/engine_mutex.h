// The engine's own mutexes: std::mutex and std::recursive_mutex as lock
// capabilities of clang's thread-safety analysis (libstdc++'s are not
// annotated, so a field guarded by one of them could not be checked), and a
// scoped holder that a std::condition_variable can wait on.
//
//   Mutex m_lock;
//   int m_count DAXO_GUARDED_BY(m_lock);
//   ...
//   MutexLock lock(m_lock);
//   m_changed.wait(lock.Native(), [&]() DAXO_REQUIRES(m_lock) { return m_count > 0; });
//
// A predicate is a function of its own for the analysis: it names the lock
// it runs under. Where these locks stand among the SDK's: daxo_lock_order.h.
#pragma once

#include <mutex>

#include "daxo_thread_annotations.h"

namespace velquor {

template <class Std>
class BasicLock;

/// The standard mutex `Std`, same semantics; only BasicLock takes it.
template <class Std>
class DAXO_CAPABILITY("mutex") BasicMutex {
 private:
  friend class BasicLock<Std>;
  Std m_std;
};

/// Holds a BasicMutex from construction to destruction or unlock(). The
/// bodies lock through std::unique_lock, which the analysis does not see:
/// it trusts the annotations.
template <class Std>
class DAXO_SCOPED_CAPABILITY BasicLock {
 public:
  DAXO_NO_THREAD_SAFETY_ANALYSIS explicit BasicLock(BasicMutex<Std>& mutex) DAXO_ACQUIRE(mutex)
      : m_lock(mutex.m_std) {}
  DAXO_NO_THREAD_SAFETY_ANALYSIS ~BasicLock() DAXO_RELEASE() {}
  BasicLock(const BasicLock&) = delete;
  BasicLock& operator=(const BasicLock&) = delete;

  /// Releases the mutex before the end of the scope.
  DAXO_NO_THREAD_SAFETY_ANALYSIS void unlock() DAXO_RELEASE() { m_lock.unlock(); }
  /// For condition-variable waits, which release the mutex while blocked
  /// and hold it again when they return.
  std::unique_lock<Std>& Native() { return m_lock; }

 private:
  std::unique_lock<Std> m_lock;
};

using Mutex = BasicMutex<std::mutex>;
using MutexLock = BasicLock<std::mutex>;
using RecursiveMutex = BasicMutex<std::recursive_mutex>;
using RecursiveMutexLock = BasicLock<std::recursive_mutex>;

}  // namespace velquor

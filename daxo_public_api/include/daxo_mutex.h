// Mutual exclusion for components and the framework: a plain mutex
// (DAXOMutex), a recursive mutex that knows its owner (DAXOMutex2) and a scope
// guard over either (DAXOMutexGuard).
//
// Threading: every operation may be called from any thread. Lock() blocks
// without time-out; TryLock() never blocks.
//
// DAXOMutex2 inside: the base mutex (the lock callers actually hold) is never
// acquired while m_hlMutex is held in a blocking way; m_hlMutex is held only
// for a few instructions around the bookkeeping (owner, depth, requested),
// and those fields are read and written only under it. Where these locks
// stand among the SDK's: daxo_lock_order.h.
//
// Lock annotations (daxo_thread_annotations.h): DAXOMutex and DAXOMutex2 are
// capabilities and DAXOMutexGuard a scoped one, so clang's -Wthread-safety
// checks every field annotated DAXO_GUARDED_BY one of them. The bodies of
// these operations are the primitives themselves and are not checked.
//
// DAXOMutex2 hides (does not override) Lock/Release/TryLock of DAXOMutex:
// never lock a DAXOMutex2 through a DAXOMutex pointer or reference, or the
// recursion count is bypassed.
#pragma once

#include <pthread.h>

#include "daxo_thread_annotations.h"
#include "daxo_types.h"

class DAXO_CAPABILITY("mutex") DAXOMutex {
 public:
  DAXOMutex();
  virtual ~DAXOMutex();
  DAXOMutex(const DAXOMutex&) = delete;
  DAXOMutex& operator=(const DAXOMutex&) = delete;

  /// Blocks until the calling thread holds the mutex. Not recursive: a thread
  /// that locks a mutex it already holds deadlocks.
  void Lock() DAXO_ACQUIRE();
  /// Releases a mutex the calling thread holds.
  void Release() DAXO_RELEASE();
  /// Takes the mutex if it is free. Returns false only when it is busy (held
  /// by any thread, the caller included), true otherwise.
  bool TryLock() DAXO_TRY_ACQUIRE(true);
  /// Destroys and re-creates the mutex: whoever held it is forgotten and the
  /// mutex is free afterwards. Only for recovery when no thread can still
  /// release it; a thread blocked in Lock() at that moment is undefined.
  void Reset();

 protected:
  pthread_mutex_t m_mutex;
};

class DAXOMutex2 : public DAXOMutex {
 public:
  DAXOMutex2();
  ~DAXOMutex2() override;

  /// Blocks until the calling thread holds the mutex. A thread that already
  /// holds it only deepens the recursion; every Lock needs one Release.
  void Lock() DAXO_ACQUIRE();
  /// Undoes one Lock of the calling thread; the mutex is free for other
  /// threads after the last one. Calling it on a free mutex does nothing.
  void Release() DAXO_RELEASE();
  /// Like Lock when the caller already holds the mutex (always true);
  /// otherwise takes it only if it is free. Never blocks.
  bool TryLock() DAXO_TRY_ACQUIRE(true);
  /// Releases the mutex completely if the calling thread holds it and returns
  /// the depth it had, so that the caller can later Lock that many times to
  /// restore it. Returns 0 (and changes nothing) when the caller does not
  /// hold it.
  int ReleaseAll();

 private:
  DAXOMutex m_hlMutex;
  volatile DAXOThreadId m_owner DAXO_GUARDED_BY(m_hlMutex);  // meaningful only while m_depth > 0
  volatile int m_depth DAXO_GUARDED_BY(m_hlMutex);           // recursion depth; 0 when free
  // Some thread is blocked acquiring the base mutex.
  volatile bool m_requested DAXO_GUARDED_BY(m_hlMutex);
};

/// Holds a DAXOMutex or a DAXOMutex2 for a scope: locks at construction,
/// releases at destruction if still locked. A guard belongs to the thread that
/// made it. Not copyable.
class DAXO_SCOPED_CAPABILITY DAXOMutexGuard {
 public:
  explicit DAXOMutexGuard(DAXOMutex& mutex) DAXO_ACQUIRE(mutex);
  explicit DAXOMutexGuard(DAXOMutex2& mutex) DAXO_ACQUIRE(mutex);
  ~DAXOMutexGuard() DAXO_RELEASE();
  DAXOMutexGuard(const DAXOMutexGuard&) = delete;
  DAXOMutexGuard& operator=(const DAXOMutexGuard&) = delete;

  /// Releases the mutex. Returns false (and does nothing) if the guard had
  /// already released it.
  bool unlock() DAXO_RELEASE();
  /// Locks the mutex again (blocking). Returns false (and does nothing) if the
  /// guard holds it already.
  bool relock() DAXO_ACQUIRE();

 private:
  bool UnlockPlain();
  bool RelockPlain();
  bool UnlockRecursive();
  bool RelockRecursive();

  bool (DAXOMutexGuard::*m_unlockFun)();
  bool (DAXOMutexGuard::*m_relockFun)();
  DAXOMutex* m_plain;
  DAXOMutex2* m_recursive;
  bool m_locked;
};

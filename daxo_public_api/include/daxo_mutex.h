// Mutual exclusion for components and the framework: a plain mutex
// (DAXOMutex), a recursive mutex that knows its owner (DAXOMutex2) and a scope
// guard over either (DAXOMutexGuard).
//
// Threading: every operation may be called from any thread. Lock() blocks
// without time-out; TryLock() never blocks.
//
// DAXOMutex2 lock order: the base mutex (the lock callers actually hold) is
// never acquired while hlMutex is held in a blocking way; hlMutex is held only
// for a few instructions around the bookkeeping (owner, nbRef, requested),
// and those fields are read and written only under it.
//
// DAXOMutex2 hides (does not override) Lock/Release/TryLock of DAXOMutex:
// never lock a DAXOMutex2 through a DAXOMutex pointer or reference, or the
// recursion count is bypassed.
#pragma once

#include <pthread.h>

#include "daxo_types.h"

class DAXOMutex {
 public:
  DAXOMutex();
  virtual ~DAXOMutex();
  DAXOMutex(const DAXOMutex&) = delete;
  DAXOMutex& operator=(const DAXOMutex&) = delete;

  /// Blocks until the calling thread holds the mutex. Not recursive: a thread
  /// that locks a mutex it already holds deadlocks.
  void Lock();
  /// Releases a mutex the calling thread holds.
  void Release();
  /// Takes the mutex if it is free. Returns false only when it is busy (held
  /// by any thread, the caller included), true otherwise.
  bool TryLock();
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
  void Lock();
  /// Undoes one Lock of the calling thread; the mutex is free for other
  /// threads after the last one. Calling it on a free mutex does nothing.
  void Release();
  /// Like Lock when the caller already holds the mutex (always true);
  /// otherwise takes it only if it is free. Never blocks.
  bool TryLock();
  /// Releases the mutex completely if the calling thread holds it and returns
  /// the depth it had, so that the caller can later Lock that many times to
  /// restore it. Returns 0 (and changes nothing) when the caller does not
  /// hold it.
  int ReleaseAll();

 private:
  DAXOMutex hlMutex;
  // All three guarded by hlMutex.
  volatile DAXOThreadId owner;  // meaningful only while nbRef > 0
  volatile int nbRef;           // recursion depth; 0 when free
  volatile bool requested;      // some thread is blocked acquiring the base mutex
};

/// Holds a DAXOMutex or a DAXOMutex2 for a scope: locks at construction,
/// releases at destruction if still locked. A guard belongs to the thread that
/// made it. Not copyable.
class DAXOMutexGuard {
 public:
  explicit DAXOMutexGuard(DAXOMutex& mutex);
  explicit DAXOMutexGuard(DAXOMutex2& mutex);
  ~DAXOMutexGuard();
  DAXOMutexGuard(const DAXOMutexGuard&) = delete;
  DAXOMutexGuard& operator=(const DAXOMutexGuard&) = delete;

  /// Releases the mutex. Returns false (and does nothing) if the guard had
  /// already released it.
  bool unlock();
  /// Locks the mutex again (blocking). Returns false (and does nothing) if the
  /// guard holds it already.
  bool relock();

 private:
  bool unlock_mtx();
  bool relock_mtx();
  bool unlock_mtx2();
  bool relock_mtx2();

  bool (DAXOMutexGuard::*m_unlock_fun)();
  bool (DAXOMutexGuard::*m_relock_fun)();
  DAXOMutex* m_mtx;
  DAXOMutex2* m_mtx2;
  bool m_locked;
};

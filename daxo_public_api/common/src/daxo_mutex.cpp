// DAXOMutex, DAXOMutex2 and DAXOMutexGuard over POSIX mutexes.
//
// The lock operations are the primitives the thread-safety analysis trusts:
// their bodies lock through pthread, through a recursion count or through a
// member-function pointer, none of which it can follow, so they are marked
// DAXO_NO_THREAD_SAFETY_ANALYSIS.
#include "daxo_mutex.h"

#include <cerrno>

#include "daxo_thread.h"

// ---------------------------------------------------------------------------
// DAXOMutex

DAXOMutex::DAXOMutex() {
  pthread_mutex_init(&m_mutex, nullptr);
}

DAXOMutex::~DAXOMutex() {
  pthread_mutex_destroy(&m_mutex);
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOMutex::Lock() {
  pthread_mutex_lock(&m_mutex);
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOMutex::Release() {
  pthread_mutex_unlock(&m_mutex);
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutex::TryLock() {
  return pthread_mutex_trylock(&m_mutex) != EBUSY;
}

void DAXOMutex::Reset() {
  pthread_mutex_destroy(&m_mutex);
  pthread_mutex_init(&m_mutex, nullptr);
}

// ---------------------------------------------------------------------------
// DAXOMutex2

DAXOMutex2::DAXOMutex2() : m_owner(0), m_depth(0), m_requested(false) {}

DAXOMutex2::~DAXOMutex2() = default;

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOMutex2::Lock() {
  const DAXOThreadId self = DAXO::GetCurrentThreadId();
  m_hlMutex.Lock();
  if (m_depth > 0 && m_owner == self) {
    m_depth = m_depth + 1;
  } else {
    m_requested = true;
    // m_hlMutex must not be held while blocking on the base mutex: the
    // owner needs it to release.
    m_hlMutex.Release();
    DAXOMutex::Lock();
    m_hlMutex.Lock();
    m_requested = false;
    m_owner = self;
    m_depth = 1;
  }
  m_hlMutex.Release();
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOMutex2::Release() {
  m_hlMutex.Lock();
  // A Release without a matching Lock would drive the depth negative and
  // unlock a mutex nobody holds; it is ignored.
  if (m_depth > 0) {
    m_depth = m_depth - 1;
    if (m_depth == 0) DAXOMutex::Release();
  }
  m_hlMutex.Release();
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutex2::TryLock() {
  const DAXOThreadId self = DAXO::GetCurrentThreadId();
  bool taken = false;
  m_hlMutex.Lock();
  if (m_depth > 0 && m_owner == self) {
    m_depth = m_depth + 1;
    taken = true;
  } else if (pthread_mutex_trylock(&m_mutex) == 0) {
    // Trylock never blocks, so doing it under m_hlMutex is allowed.
    m_owner = self;
    m_depth = 1;
    taken = true;
  }
  m_hlMutex.Release();
  return taken;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS int DAXOMutex2::ReleaseAll() {
  const DAXOThreadId self = DAXO::GetCurrentThreadId();
  int depth = 0;
  m_hlMutex.Lock();
  if (m_depth > 0 && m_owner == self) {
    depth = m_depth;
    m_depth = 0;
    DAXOMutex::Release();
  }
  m_hlMutex.Release();
  return depth;
}

// ---------------------------------------------------------------------------
// DAXOMutexGuard

DAXO_NO_THREAD_SAFETY_ANALYSIS DAXOMutexGuard::DAXOMutexGuard(DAXOMutex& mutex)
    : m_unlockFun(&DAXOMutexGuard::UnlockPlain),
      m_relockFun(&DAXOMutexGuard::RelockPlain),
      m_plain(&mutex),
      m_recursive(nullptr),
      m_locked(false) {
  m_plain->Lock();
  m_locked = true;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS DAXOMutexGuard::DAXOMutexGuard(DAXOMutex2& mutex)
    : m_unlockFun(&DAXOMutexGuard::UnlockRecursive),
      m_relockFun(&DAXOMutexGuard::RelockRecursive),
      m_plain(nullptr),
      m_recursive(&mutex),
      m_locked(false) {
  m_recursive->Lock();
  m_locked = true;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS DAXOMutexGuard::~DAXOMutexGuard() {
  if (m_locked) (this->*m_unlockFun)();
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutexGuard::unlock() {
  return (this->*m_unlockFun)();
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutexGuard::relock() {
  return (this->*m_relockFun)();
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutexGuard::UnlockPlain() {
  if (!m_locked) return false;
  m_plain->Release();
  m_locked = false;
  return true;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutexGuard::RelockPlain() {
  if (m_locked) return false;
  m_plain->Lock();
  m_locked = true;
  return true;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutexGuard::UnlockRecursive() {
  if (!m_locked) return false;
  m_recursive->Release();
  m_locked = false;
  return true;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS bool DAXOMutexGuard::RelockRecursive() {
  if (m_locked) return false;
  m_recursive->Lock();
  m_locked = true;
  return true;
}

// DAXOMutex, DAXOMutex2 and DAXOMutexGuard over POSIX mutexes.
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

void DAXOMutex::Lock() {
  pthread_mutex_lock(&m_mutex);
}

void DAXOMutex::Release() {
  pthread_mutex_unlock(&m_mutex);
}

bool DAXOMutex::TryLock() {
  return pthread_mutex_trylock(&m_mutex) != EBUSY;
}

void DAXOMutex::Reset() {
  pthread_mutex_destroy(&m_mutex);
  pthread_mutex_init(&m_mutex, nullptr);
}

// ---------------------------------------------------------------------------
// DAXOMutex2

DAXOMutex2::DAXOMutex2() : owner(0), nbRef(0), requested(false) {}

DAXOMutex2::~DAXOMutex2() = default;

void DAXOMutex2::Lock() {
  const DAXOThreadId self = DAXO::GetCurrentThreadId();
  hlMutex.Lock();
  if (nbRef > 0 && owner == self) {
    nbRef = nbRef + 1;
  } else {
    requested = true;
    // hlMutex must not be held while blocking on the base mutex: the owner
    // needs it to release.
    hlMutex.Release();
    DAXOMutex::Lock();
    hlMutex.Lock();
    requested = false;
    owner = self;
    nbRef = 1;
  }
  hlMutex.Release();
}

void DAXOMutex2::Release() {
  hlMutex.Lock();
  // A Release without a matching Lock would drive the depth negative and
  // unlock a mutex nobody holds; it is ignored.
  if (nbRef > 0) {
    nbRef = nbRef - 1;
    if (nbRef == 0) DAXOMutex::Release();
  }
  hlMutex.Release();
}

bool DAXOMutex2::TryLock() {
  const DAXOThreadId self = DAXO::GetCurrentThreadId();
  bool taken = false;
  hlMutex.Lock();
  if (nbRef > 0 && owner == self) {
    nbRef = nbRef + 1;
    taken = true;
  } else if (pthread_mutex_trylock(&m_mutex) == 0) {
    // Trylock never blocks, so doing it under hlMutex is allowed.
    owner = self;
    nbRef = 1;
    taken = true;
  }
  hlMutex.Release();
  return taken;
}

int DAXOMutex2::ReleaseAll() {
  const DAXOThreadId self = DAXO::GetCurrentThreadId();
  int depth = 0;
  hlMutex.Lock();
  if (nbRef > 0 && owner == self) {
    depth = nbRef;
    nbRef = 0;
    DAXOMutex::Release();
  }
  hlMutex.Release();
  return depth;
}

// ---------------------------------------------------------------------------
// DAXOMutexGuard

DAXOMutexGuard::DAXOMutexGuard(DAXOMutex& mutex)
    : m_unlock_fun(&DAXOMutexGuard::unlock_mtx),
      m_relock_fun(&DAXOMutexGuard::relock_mtx),
      m_mtx(&mutex),
      m_mtx2(nullptr),
      m_locked(false) {
  m_mtx->Lock();
  m_locked = true;
}

DAXOMutexGuard::DAXOMutexGuard(DAXOMutex2& mutex)
    : m_unlock_fun(&DAXOMutexGuard::unlock_mtx2),
      m_relock_fun(&DAXOMutexGuard::relock_mtx2),
      m_mtx(nullptr),
      m_mtx2(&mutex),
      m_locked(false) {
  m_mtx2->Lock();
  m_locked = true;
}

DAXOMutexGuard::~DAXOMutexGuard() {
  if (m_locked) (this->*m_unlock_fun)();
}

bool DAXOMutexGuard::unlock() {
  return (this->*m_unlock_fun)();
}

bool DAXOMutexGuard::relock() {
  return (this->*m_relock_fun)();
}

bool DAXOMutexGuard::unlock_mtx() {
  if (!m_locked) return false;
  m_mtx->Release();
  m_locked = false;
  return true;
}

bool DAXOMutexGuard::relock_mtx() {
  if (m_locked) return false;
  m_mtx->Lock();
  m_locked = true;
  return true;
}

bool DAXOMutexGuard::unlock_mtx2() {
  if (!m_locked) return false;
  m_mtx2->Release();
  m_locked = false;
  return true;
}

bool DAXOMutexGuard::relock_mtx2() {
  if (m_locked) return false;
  m_mtx2->Lock();
  m_locked = true;
  return true;
}

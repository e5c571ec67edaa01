// DAXOEvent, DAXOEventBasic, DAXOPosixWaitingThread and the multi-event wait.
//
// Why a multi-event wait cannot lose a wake-up: a waiter registers itself in
// every event (under each event's mutex), then reads the states while holding
// its own mutex and sleeps on its own condition variable, which releases that
// mutex atomically. Set writes the state first and only then takes each
// registered waiter's mutex to broadcast. So either the waiter's read comes
// after Set released the waiter mutex (and sees the new state), or Set's
// broadcast comes after the waiter went to sleep (and wakes it).
#include "daxo_event.h"

#include <climits>

#include <cerrno>
#include <cstring>
#include <new>

#include "daxo_kernel.h"

namespace {

const char kEventClockError[] =
    "Could not initialize event with monotonic clock. Please contact the Velquor technical "
    "support team.";
const char kWaitingThreadClockError[] =
    "Could not initialize waiting thread with monotonic clock. Please contact the Velquor "
    "technical support team.";

/// Creates `cond` on the monotonic clock, or on the default clock when the
/// monotonic one cannot be selected. Returns the clock actually used, so that
/// deadlines are computed on the clock the time-outs are measured on.
clockid_t InitCondition(pthread_cond_t* cond, const char* errorText) {
  clockid_t clock = CLOCK_MONOTONIC;
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  if (pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) != 0) {
    if (errorText != nullptr) DAXO::ReportError(errorText);
    clock = CLOCK_REALTIME;
  }
  pthread_cond_init(cond, &attr);
  pthread_condattr_destroy(&attr);
  return clock;
}

/// now + timeout on `clock`, the nanoseconds kept below one second.
timespec Deadline(clockid_t clock, DAXODelay timeout) {
  timespec ts{};
  clock_gettime(clock, &ts);
  ts.tv_sec += static_cast<time_t>(timeout / 1000000);
  ts.tv_nsec += static_cast<long>(timeout % 1000000) * 1000;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

/// The single-event wait shared by DAXOEvent and DAXOEventBasic: `state` is
/// written under `mutex`, and every write to true broadcasts `cond`.
int WaitForState(pthread_mutex_t* mutex, pthread_cond_t* cond, const std::atomic<bool>& state,
                 clockid_t clock, DAXODelay timeout) {
  if (timeout == -1) {
    pthread_mutex_lock(mutex);
    while (!state.load()) pthread_cond_wait(cond, mutex);
    pthread_mutex_unlock(mutex);
    return 0;
  }
  if (timeout < 0) timeout = 0;
  const timespec deadline = Deadline(clock, timeout);
  pthread_mutex_lock(mutex);
  if (state.load()) {
    pthread_mutex_unlock(mutex);
    return 0;
  }
  bool timedOut = false;
  for (;;) {
    timedOut = pthread_cond_timedwait(cond, mutex, &deadline) != 0;
    if (state.load()) break;
    if (timedOut) {
      pthread_mutex_unlock(mutex);
      return DAXO::TimeOut;
    }
  }
  pthread_mutex_unlock(mutex);
  // Set exactly as the deadline passed: the wait still counts as timed out.
  return timedOut ? DAXO::TimeOut : 0;
}

int FirstSet(int n, DAXOEvent** events) {
  for (int i = 0; i < n; ++i) {
    if (events[i]->State()) return i;
  }
  return -1;
}

bool SeenBefore(DAXOEvent** events, int i) {
  for (int j = 0; j < i; ++j) {
    if (events[j] == events[i]) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// DAXOPosixWaitingThread

DAXOPosixWaitingThread::DAXOPosixWaitingThread() {
  pthread_mutex_init(&m_mutex, nullptr);
  m_clock = InitCondition(&m_condvar, kWaitingThreadClockError);
}

DAXOPosixWaitingThread::~DAXOPosixWaitingThread() {
  pthread_cond_destroy(&m_condvar);
  pthread_mutex_destroy(&m_mutex);
}

// ---------------------------------------------------------------------------
// DAXOEvent

DAXOEvent::DAXOEvent(bool initialState, const char* /*name*/)
    : m_state(initialState), m_isInTimerList(false) {
  pthread_mutex_init(&m_mutex, nullptr);
  m_clock = InitCondition(&m_condvar, kEventClockError);
}

DAXOEvent::~DAXOEvent() {
  DropTrigger();
  pthread_cond_destroy(&m_condvar);
  pthread_mutex_destroy(&m_mutex);
}

void DAXOEvent::SetLocked() {
  if (m_state.load()) return;
  m_state.store(true);
  pthread_cond_broadcast(&m_condvar);
  // One waiter mutex at a time (see the lock order in the header): two events
  // may list the same waiters in different orders.
  for (int i = 0; i < m_waitingThreads.Count(); ++i) {
    DAXOPosixWaitingThread* waiter = m_waitingThreads[i];
    pthread_mutex_lock(&waiter->m_mutex);
    pthread_cond_broadcast(&waiter->m_condvar);
    pthread_mutex_unlock(&waiter->m_mutex);
  }
}

void DAXOEvent::Set() {
  pthread_mutex_lock(&m_mutex);
  SetLocked();
  pthread_mutex_unlock(&m_mutex);
}

void DAXOEvent::Reset() {
  pthread_mutex_lock(&m_mutex);
  m_state.store(false);
  pthread_mutex_unlock(&m_mutex);
}

bool DAXOEvent::State() const {
  return m_state.load();
}

int DAXOEvent::Wait(DAXODelay timeout) {
  return WaitForState(&m_mutex, &m_condvar, m_state, m_clock, timeout);
}

int DAXOEvent::Wait(int n, DAXOEvent** events, DAXODelay timeout) {
  DAXOKernel* kernel = DAXOPrivate::kernel;
  if (kernel != nullptr) return kernel->WaitForEvents(n, events, timeout, false);
  return DAXOPrivate::WaitForMultipleEvents(n, events, timeout);
}

int DAXOEvent::MsgWait(int n, DAXOEvent** events, DAXODelay timeout) {
  DAXOKernel* kernel = DAXOPrivate::kernel;
  if (kernel != nullptr) return kernel->WaitForEvents(n, events, timeout, true);
  return DAXOPrivate::WaitForMultipleEvents(n, events, timeout);
}

bool DAXOEvent::MsgInQueue() {
  return false;
}

void DAXOEvent::DropTrigger() {
  pthread_mutex_lock(&m_mutex);
  DAXOKernel* armedBy = m_isInTimerList ? m_armedBy : nullptr;
  m_isInTimerList = false;
  m_armedBy = nullptr;
  pthread_mutex_unlock(&m_mutex);
  // Returns only once a firing in progress is over (the service fires under
  // the lock this takes), so nothing touches the event after this.
  if (armedBy != nullptr) armedBy->ResetEventTrigger(this);
}

bool DAXOEvent::SetTrigger(DAXODelay delay) {
  // The earlier arming goes first: its firing could otherwise set the event
  // after the reset below, or clear the mark of the new arming.
  DropTrigger();
  Reset();
  DAXOKernel* kernel = DAXOPrivate::kernel;  // read once: DAXO::Exit may clear it
  if (kernel == nullptr) return true;
  const DAXOTimestamp now = DAXO::GetSystemAccurateTiming();
  if (delay < 0) delay = 0;
  const DAXOTimestamp when = delay > LONG_MAX - now ? LONG_MAX : now + delay;
  // Marked before arming: a trigger that fires before SetEventTrigger
  // returns clears the mark, and it must stay cleared.
  pthread_mutex_lock(&m_mutex);
  m_isInTimerList = true;
  m_armedBy = kernel;
  pthread_mutex_unlock(&m_mutex);
  const bool armed = kernel->SetEventTrigger(this, when);
  if (!armed) {
    pthread_mutex_lock(&m_mutex);
    m_isInTimerList = false;
    m_armedBy = nullptr;
    pthread_mutex_unlock(&m_mutex);
  }
  return armed;
}

void DAXOEvent::ResetTrigger() {
  DropTrigger();
}

bool DAXOEvent::AddWaitingThread(DAXOPosixWaitingThread* waiter) {
  pthread_mutex_lock(&m_mutex);
  bool added = true;
  try {
    m_waitingThreads.Append(waiter);
  } catch (const std::bad_alloc&) {
    added = false;
  }
  pthread_mutex_unlock(&m_mutex);
  return added;
}

void DAXOEvent::RemoveWaitingThread(DAXOPosixWaitingThread* waiter) {
  pthread_mutex_lock(&m_mutex);
  m_waitingThreads.Remove(m_waitingThreads.Find(waiter));
  pthread_mutex_unlock(&m_mutex);
}

// ---------------------------------------------------------------------------
// Engine hooks

int DAXOPrivate::WaitForMultipleEvents(int n, DAXOEvent** events, DAXODelay timeout) {
  if (n < 1 || n > MaxWaitEvents || events == nullptr) return DAXO::FatalKernelError;
  for (int i = 0; i < n; ++i) {
    if (events[i] == nullptr) return DAXO::FatalKernelError;
  }
  if (timeout < 0 && timeout != -1) timeout = 0;

  int found = FirstSet(n, events);
  if (found >= 0) return found;
  if (timeout == 0) return DAXO::TimeOut;

  DAXOPosixWaitingThread self;
  timespec deadline{};
  if (timeout != -1) deadline = Deadline(self.m_clock, timeout);

  // Each distinct event gets the waiter once: Set takes the waiter's mutex,
  // which is not recursive.
  int registered = 0;
  bool failed = false;
  for (; registered < n; ++registered) {
    if (SeenBefore(events, registered)) continue;
    if (!events[registered]->AddWaitingThread(&self)) {
      failed = true;
      break;
    }
  }

  if (!failed) {
    pthread_mutex_lock(&self.m_mutex);
    for (;;) {
      found = FirstSet(n, events);
      if (found >= 0) break;
      if (timeout == -1) {
        pthread_cond_wait(&self.m_condvar, &self.m_mutex);
      } else if (pthread_cond_timedwait(&self.m_condvar, &self.m_mutex, &deadline) != 0) {
        found = FirstSet(n, events);
        break;
      }
    }
    pthread_mutex_unlock(&self.m_mutex);
  }

  // After this no Set can reach `self` any more: removal waits for a Set in
  // progress on that event to finish.
  for (int i = 0; i < registered; ++i) {
    if (!SeenBefore(events, i)) events[i]->RemoveWaitingThread(&self);
  }
  if (failed) return DAXO::FatalKernelError;
  return found >= 0 ? found : DAXO::TimeOut;
}

void DAXOPrivate::EventTriggerFired(DAXOEvent* event) {
  if (event == nullptr) return;
  pthread_mutex_lock(&event->m_mutex);
  event->m_isInTimerList = false;
  event->m_armedBy = nullptr;
  event->SetLocked();
  pthread_mutex_unlock(&event->m_mutex);
}

bool DAXOPrivate::EventIsInTimerList(DAXOEvent* event) {
  if (event == nullptr) return false;
  pthread_mutex_lock(&event->m_mutex);
  const bool held = event->m_isInTimerList;
  pthread_mutex_unlock(&event->m_mutex);
  return held;
}

// ---------------------------------------------------------------------------
// DAXOEventBasic

DAXOEventBasic::DAXOEventBasic(bool initialState) : m_state(initialState) {
  pthread_mutex_init(&m_mutex, nullptr);
  m_clock = InitCondition(&m_condvar, nullptr);
}

DAXOEventBasic::~DAXOEventBasic() {
  pthread_cond_destroy(&m_condvar);
  pthread_mutex_destroy(&m_mutex);
}

void DAXOEventBasic::Set() {
  pthread_mutex_lock(&m_mutex);
  if (!m_state.load()) {
    m_state.store(true);
    pthread_cond_broadcast(&m_condvar);
  }
  pthread_mutex_unlock(&m_mutex);
}

void DAXOEventBasic::Reset() {
  pthread_mutex_lock(&m_mutex);
  m_state.store(false);
  pthread_mutex_unlock(&m_mutex);
}

int DAXOEventBasic::Wait(DAXODelay timeout) {
  return WaitForState(&m_mutex, &m_condvar, m_state, m_clock, timeout);
}

// ---------------------------------------------------------------------------

void* DAXO::Memcpy(void* dst, const void* src, long n, DAXOEvent* done) {
  if (n > 0) std::memcpy(dst, src, static_cast<size_t>(n));
  if (done != nullptr) done->Set();
  return dst;
}

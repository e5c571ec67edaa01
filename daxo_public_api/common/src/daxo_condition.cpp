// DAXOCondition and DAXOCondition2.
#include "daxo_condition.h"

namespace {

/// Maps the result of a wait on {own event, abort event} to what the wait
/// throws; 0 throws nothing.
[[noreturn]] void ThrowWaitFailure(int result) {
  if (result == 1) throw DAXO::ModuleDied;
  if (result == DAXO::TimeOut) throw DAXO::TimeOut;
  throw DAXO::FatalKernelError;
}

/// Waits on `own` and, when there is one, `abort` (index 1).
int WaitOwnOrAbort(DAXOEvent* own, DAXOEvent* abort, DAXODelay timeout) {
  DAXOEvent* events[2] = {own, abort};
  return DAXOEvent::Wait(abort != nullptr ? 2 : 1, events, timeout);
}

}  // namespace

// ---------------------------------------------------------------------------
// DAXOCondition

DAXOCondition::DAXOCondition(DAXOMutex* mutex, DAXOEvent* abortEvent, long timeout)
    : m_mutex(mutex),
      m_abortEvent(abortEvent),
      m_timeout(timeout),
      m_waitFun(&DAXOCondition::InternalWait),
      m_waitXFun(&DAXOCondition::InternalWaitX),
      m_achieveWaitXFun(&DAXOCondition::InternalAchieveWaitX),
      m_signalFun(&DAXOCondition::InternalSignal),
      m_abortFun(&DAXOCondition::InternalAbort) {}

DAXOCondition::~DAXOCondition() = default;

void DAXOCondition::Wait() {
  (this->*m_waitFun)();
}

void* DAXOCondition::WaitX(DAXOEvent** out) {
  return (this->*m_waitXFun)(out);
}

void DAXOCondition::AchieveWaitX(void* handle) {
  (this->*m_achieveWaitXFun)(handle);
}

void DAXOCondition::Signal() {
  (this->*m_signalFun)();
}

void DAXOCondition::Abort() {
  (this->*m_abortFun)();
}

DAXOCondition::Pool::Item* DAXOCondition::Borrow() {
  Pool::Item* item = nullptr;
  if (m_pool.Empty() || !m_pool.LastValue().available) {
    // Every item is lent: a new one, reset, at the front among those in use.
    item = m_pool.EmplaceFront();
  } else {
    item = Pool::ItemOf(m_pool.Last());
    if (m_pool.Length() > 1) m_pool.MoveToFront(item);
    item->value.event.Reset();
  }
  item->value.available = false;
  return item;
}

void DAXOCondition::GiveBack(Pool::Item* item) {
  item->value.available = true;
  if (m_pool.Length() > 1) m_pool.MoveToBack(item);
}

void DAXOCondition::InternalWait() {
  Pool::Item* item = Borrow();
  m_mutex->Release();
  const int result = WaitOwnOrAbort(&item->value.event, m_abortEvent, m_timeout);
  m_mutex->Lock();
  // Returned on every outcome: an item left marked in use would never be
  // lent again, and each failed wait would grow the pool for good.
  GiveBack(item);
  if (result == 0) return;
  m_mutex->Release();
  ThrowWaitFailure(result);
}

void* DAXOCondition::InternalWaitX(DAXOEvent** out) {
  Pool::Item* item = Borrow();
  m_mutex->Release();
  if (out != nullptr) *out = &item->value.event;
  return item;
}

void DAXOCondition::InternalAchieveWaitX(void* handle) {
  m_mutex->Lock();
  if (handle != nullptr) GiveBack(static_cast<Pool::Item*>(handle));
}

void DAXOCondition::InternalSignal() {
  for (DAXOListIterator it = m_pool.Begin(); !m_pool.Finished(it); ++it) {
    DAXOEventInPool& entry = m_pool.Value(it);
    if (entry.available) break;
    entry.event.Set();
  }
}

void DAXOCondition::InternalAbort() {
  if (m_abortEvent != nullptr) m_abortEvent->Set();
}

// ---------------------------------------------------------------------------
// DAXOCondition2
//
// The operations below run under the caller's protecting mutex, which the
// analysis cannot tie to m_mutex (see the header): they are not checked.

DAXOCondition2::DAXOCondition2(DAXOMutex* mutex, DAXOEvent* abortEvent, int timeout)
    : m_mutex(mutex),
      m_abortEvent(abortEvent),
      m_events(),
      m_waiting(),
      m_count(0),
      m_timeout(timeout) {}

DAXOCondition2::~DAXOCondition2() {
  for (DAXOEvent* event : m_events) delete event;
}

bool DAXOCondition2::Valid(int id) const {
  return id >= 0 && id < m_count && m_events[id] != nullptr;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS int DAXOCondition2::Subscribe() {
  if (m_count >= MaxSubscribers) return -1;
  const int id = m_count;
  m_events[id] = new DAXOEvent(false);
  m_waiting[id] = false;
  ++m_count;
  return id;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOCondition2::Subscribe(int id) {
  if (id < 0 || id >= MaxSubscribers) return;
  if (id < m_count) {
    // A number skipped by an earlier Subscribe(id) has no event yet.
    if (m_events[id] == nullptr) {
      m_events[id] = new DAXOEvent(false);
    } else {
      m_events[id]->Reset();
    }
    m_waiting[id] = false;
    return;
  }
  m_count = id + 1;
  m_events[id] = new DAXOEvent(false);
  m_waiting[id] = false;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOCondition2::Wait(int id) {
  if (!Valid(id)) {
    m_mutex->Release();
    throw DAXO::FatalKernelError;
  }
  DAXOEvent* event = m_events[id];
  event->Reset();
  m_waiting[id] = true;
  m_mutex->Release();
  const int result = WaitOwnOrAbort(event, m_abortEvent, m_timeout);
  m_mutex->Lock();
  if (result == 0) {
    m_waiting[id] = false;
    return;
  }
  m_mutex->Release();
  ThrowWaitFailure(result);
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOCondition2::WaitX(int id, DAXOEvent** event,
                                                          DAXOEvent** abortEvent) {
  if (!Valid(id)) {
    m_mutex->Release();
    throw DAXO::FatalKernelError;
  }
  m_events[id]->Reset();
  if (event != nullptr) *event = m_events[id];
  if (abortEvent != nullptr) *abortEvent = m_abortEvent;
  m_waiting[id] = true;
  m_mutex->Release();
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOCondition2::AchieveWaitX(int id, int result) {
  m_mutex->Lock();
  if (result == 0) {
    if (Valid(id)) m_waiting[id] = false;
    return;
  }
  m_mutex->Release();
  if (result == 1) throw DAXO::ModuleDied;
  throw DAXO::FatalKernelError;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOCondition2::AbortWaitX(int id) {
  m_mutex->Lock();
  if (Valid(id)) m_waiting[id] = false;
}

DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOCondition2::Signal() {
  for (int id = 0; id < m_count; ++id) {
    if (m_waiting[id] && m_events[id] != nullptr) m_events[id]->Set();
  }
}

void DAXOCondition2::CutConnection() {
  if (m_abortEvent != nullptr) m_abortEvent->Set();
}

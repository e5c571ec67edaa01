// The reading side of an input: holds, the FIFO protocol, the detaching
// hand-shake.
#include "daxo_input_reader.h"

#include "daxo_io.h"
#include "daxo_module.h"
#include "daxo_services.h"
#include "daxo_thread.h"

namespace {
// How long a detachment waits for the reader to give its slots back.
constexpr DAXODelay kDetachLimit = 10000000;

/// A wait without time-out on `n` events that answered none of them: the
/// event service failed.
bool WaitFailed(int result, int n) {
  return result < 0 || result >= n;
}
}  // namespace

DAXOInputReader::DAXOInputReader(DAXOInputImplementation& input, DAXOMutex& mutex)
    : m_input(input), m_mutex(mutex), m_held(new DAXOFastIOHandle[1]) {}

DAXOInputReader::~DAXOInputReader() {
  delete[] m_held;
}

// --- the reading thread ---------------------------------------------------------------

void DAXOInputReader::Enter() {
  DAXOMutexGuard guard(m_mutex);
  while (m_detaching.load()) {
    guard.unlock();
    DAXO::Wait4AWhile();
    guard.relock();
  }
  m_insideStartReading = true;
}

void DAXOInputReader::MarkInside() {
  DAXOMutexGuard guard(m_mutex);
  m_insideStartReading = true;
}

void DAXOInputReader::Exit() {
  // The check and the clearing of the mark form one step under the mutex: a
  // detachment that begins in between would see the reader inside and wait
  // for an acknowledgement that never comes.
  for (;;) {
    {
      DAXOMutexGuard guard(m_mutex);
      if (!m_detaching.load() || m_heldCount != 0) {
        m_insideStartReading = false;
        return;
      }
      m_input.interruptEvent.Reset();
    }
    AcknowledgeDetachment();
  }
}

void DAXOInputReader::AcknowledgeDetachment() {
  m_input.detachAckEvent.Set();
  while (m_detaching.load()) DAXO::Wait4AWhile();
}

bool DAXOInputReader::StartTake(DAXOIOMonitorImplementation* fifo, DAXOEvent** readerEvent,
                                DAXOFastIOHandle* slot) {
  DAXOEvent* abortEvent = nullptr;  // the owner's die event: the callers wait on it already
  return fifo->StartReadingX(m_input.readerNumber, readerEvent, &abortEvent, slot);
}

DAXOFastIOHandle DAXOInputReader::AchieveTake(DAXOIOMonitorImplementation* fifo) {
  return fifo->AchieveStartReadingX(m_input.readerNumber, 0);
}

void DAXOInputReader::AbortTake(DAXOIOMonitorImplementation* fifo) {
  fifo->AbortStartReadingX(m_input.readerNumber);
}

void DAXOInputReader::GiveBack(DAXOIOMonitorImplementation* fifo, DAXOFastIOHandle slot) {
  fifo->StopReading(m_input.readerNumber, slot);
}

bool DAXOInputReader::TakeNow(DAXOFastIOHandle* slot) {
  DAXOIOMonitorImplementation* fifo = m_input.fifo;
  if (fifo == nullptr) return false;
  DAXOEvent* readerEvent = nullptr;
  if (StartTake(fifo, &readerEvent, slot)) return true;
  AbortTake(fifo);
  return false;
}

DAXOFastIOHandle DAXOInputReader::TakeNext(bool msg) {
  const int last = m_input.subsampling - 1;
  for (int k = m_input.subsamplingCounter;; ++k) {
    const DAXOFastIOHandle slot = TakeOne(msg);
    if (slot.ptr == nullptr || k >= last) {
      if (slot.ptr != nullptr) m_input.subsamplingCounter = 0;
      return slot;
    }
    GiveBack(m_input.fifo, slot);
  }
}

DAXOFastIOHandle DAXOInputReader::TakeOne(bool msg) {
  DAXOModule& owner = *m_input.owner;
  DAXOEvent& die = owner.DieEvent();
  auto dying = [&owner] { return (owner.State() & DAXO::DyingState) != 0; };
  // A detachment must find the input holding nothing: slots kept from
  // earlier calls (a sliding window) are given back and the call gives up
  // (null handle), leaving the acknowledgement to Exit.
  auto detached = [&] {
    if (HeldCount() == 0) {
      AcknowledgeDetachment();
      return false;
    }
    GiveBackAll();
    return true;
  };
  for (;;) {
    DAXOIOMonitorImplementation* fifo = m_input.fifo;
    if (fifo == nullptr) {
      DAXOEvent* events[2] = {&die, &m_input.connectionEvent};
      const int n = &die == &m_input.connectionEvent ? 1 : 2;
      const int fired = msg ? DAXOEvent::MsgWait(n, events, -1) : DAXOEvent::Wait(n, events, -1);
      if (dying()) throw DAXO::ModuleDied;
      // Waiting again on a failing event service would spin.
      if (WaitFailed(fired, n)) throw DAXO::ErrorException;
      m_input.connectionEvent.Reset();
      continue;
    }
    if (m_detaching.load()) {
      if (detached()) return {};
      continue;
    }
    DAXOEvent* readerEvent = nullptr;
    DAXOFastIOHandle slot;
    if (StartTake(fifo, &readerEvent, &slot)) return slot;
    DAXOEvent* events[3] = {readerEvent, &die, &m_input.interruptEvent};
    const int fired = msg ? DAXOEvent::MsgWait(3, events, -1) : DAXOEvent::Wait(3, events, -1);
    if (fired == 0) {
      slot = AchieveTake(fifo);
      if (slot.ptr != nullptr) return slot;
      continue;  // the sample went before we got to it
    }
    AbortTake(fifo);
    if (fired == 1 || dying()) throw DAXO::ModuleDied;
    if (fired != 2) throw DAXO::ErrorException;  // the event service failed
    m_input.interruptEvent.Reset();
    if (m_detaching.load() && detached()) return {};
  }
}

void DAXOInputReader::HoldOnly(DAXOIOMonitorImplementation* fifo, DAXOFastIOHandle slot) {
  for (int h = 0; h < HeldCount(); ++h) GiveBack(fifo, m_held[h]);
  m_held[0] = slot;
  DAXOMutexGuard guard(m_mutex);
  m_heldCount = 1;
}

void DAXOInputReader::HoldInWindow(DAXOIOMonitorImplementation* fifo, DAXOFastIOHandle slot,
                                   int n) {
  int held = HeldCount();
  while (held >= n) {
    GiveBack(fifo, m_held[0]);
    for (int i = 1; i < held; ++i) m_held[i - 1] = m_held[i];
    --held;
  }
  m_held[held++] = slot;
  DAXOMutexGuard guard(m_mutex);
  m_heldCount = held;
}

void DAXOInputReader::ReserveHeld(int n) {
  if (n <= m_heldCapacity) return;
  auto* grown = new DAXOFastIOHandle[static_cast<size_t>(n)];
  for (int i = 0; i < HeldCount(); ++i) grown[i] = m_held[i];
  delete[] m_held;
  m_held = grown;
  m_heldCapacity = n;
}

void DAXOInputReader::GiveBackAll() {
  if (DAXOIOMonitorImplementation* fifo = m_input.fifo) {
    for (int i = 0; i < HeldCount(); ++i) {
      try {
        GiveBack(fifo, m_held[i]);
      } catch (int) {
        // Reported by the FIFO: the detachment took the slot back already.
      }
    }
  }
  bool acknowledge = false;
  {
    DAXOMutexGuard guard(m_mutex);
    m_heldCount = 0;
    if (!m_insideStartReading && m_detaching.load()) {
      m_input.interruptEvent.Reset();
      acknowledge = true;
    }
  }
  if (acknowledge) AcknowledgeDetachment();
}

// --- the connecting side ------------------------------------------------------------------

bool DAXOInputReader::BeginDetaching() {
  bool mustWait = false;
  {
    DAXOMutexGuard guard(m_mutex);
    m_input.detachAckEvent.Reset();
    m_detaching = true;
    mustWait = m_insideStartReading || m_heldCount > 0;
  }
  m_input.interruptEvent.Set();
  if (mustWait && m_input.detachAckEvent.Wait(kDetachLimit) != 0) {
    DAXOStreamedString text("Input ");
    text << m_input.name
         << " did not give its samples back within 10 seconds: they are taken back.";
    DAXO::ReportWarning(text, 1);
    return false;
  }
  return true;
}

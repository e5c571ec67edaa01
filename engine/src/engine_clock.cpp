#include "engine_clock.h"

#include <time.h>

#include "listener_hub.h"

namespace velquor {

namespace {
DAXOTimestamp MonotonicMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000L + ts.tv_nsec / 1000;
}
}  // namespace

DAXOTimestamp SystemMicros() {
  // A fixed offset from CLOCK_MONOTONIC (about 11.6 days): only differences
  // of this clock mean anything, and a module that measures on its own
  // monotonic clock instead of the kernel's then stands out in tests.
  constexpr DAXOTimestamp kOffset = 1000000000000L;
  return MonotonicMicros() + kOffset;
}

EngineClock::EngineClock(ListenerHub* listeners)
    : m_listeners(listeners), m_abort(false), m_condition(&m_conditionMutex, &m_abort, -1) {}

EngineClock::~EngineClock() {
  m_conditionMutex.Lock();
  m_condition.Abort();
  m_conditionMutex.Release();
}

DAXOTimestamp EngineClock::NowLocked(DAXOTimestamp system) const {
  if (!m_started || m_paused || m_speed == 0) return m_reference;
  // __int128: elapsed x speed overflows 64 bits after ~100 days at 1000x.
  const __int128 advance = static_cast<__int128>(system - m_systemReference) * m_speed / 1000;
  return m_reference + static_cast<DAXOTimestamp>(advance);
}

template <typename Change>
void EngineClock::Apply(bool jumps, Change change) {
  m_conditionMutex.Lock();
  {
    MutexLock lock(m_state);
    const DAXOTimestamp system = SystemMicros();
    m_reference = NowLocked(system);
    m_systemReference = system;
    const int speed = m_speed;
    const bool paused = m_paused;
    change();
    if (m_listeners != nullptr) {
      if (jumps) m_listeners->PostTimeJumped(m_reference);
      if (m_speed != speed) m_listeners->PostTimeSpeedChanged(m_speed);
      if (m_paused != paused) m_listeners->PostTimePaused(m_paused);
    }
  }
  m_condition.Signal();
  m_conditionMutex.Release();
}

void EngineClock::Start() {
  Apply(true, [this]() DAXO_REQUIRES(m_state) {
    m_started = true;
    m_paused = false;
    m_reference = 0;
  });
}

void EngineClock::SetPaused(bool paused) {
  Apply(false, [this, paused]() DAXO_REQUIRES(m_state) {
    if (m_started) m_paused = paused;
  });
}

void EngineClock::SetSpeed(int speed) {
  Apply(false, [this, speed]() DAXO_REQUIRES(m_state) { m_speed = speed; });
}

void EngineClock::SetTime(DAXOTimestamp t) {
  Apply(true, [this, t]() DAXO_REQUIRES(m_state) { m_reference = t; });
}

DAXOTimestamp EngineClock::Now() {
  MutexLock lock(m_state);
  return NowLocked(SystemMicros());
}

int EngineClock::Speed() {
  MutexLock lock(m_state);
  return m_speed;
}

int EngineClock::AbsoluteSpeed() {
  MutexLock lock(m_state);
  return (!m_started || m_paused) ? 0 : m_speed;
}

int EngineClock::State() {
  MutexLock lock(m_state);
  if (!m_started) return 2;
  return m_paused ? 1 : 0;
}

bool EngineClock::IsPaused() {
  MutexLock lock(m_state);
  return m_paused;
}

bool EngineClock::IsStarted() {
  MutexLock lock(m_state);
  return m_started;
}

DAXOTimestamp EngineClock::Reference() {
  MutexLock lock(m_state);
  return m_reference;
}

}  // namespace velquor

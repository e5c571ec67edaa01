// Engine-time waits of DAXOModule and the engine-wide DAXO::WaitForTimestamp.
//
// Each wait turns engine time into a real-time wait at the speed read at that
// moment and re-evaluates whenever the engine's time-change condition fires.
// Reading the speed and the time and enrolling on the condition form one
// bracket (BeginTimeComputation ... WaitX) under the condition's protecting
// mutex; a clock change needs that mutex, so it either happened before the
// reading or it signals the enrolled waiter. WaitX releases the mutex before
// the thread blocks; AchieveWaitX takes it back and EndTimeComputation gives
// it up. Nothing that reports, arms a timer or blocks runs while the mutex
// is held.
//
// Without a bound engine the clock is the system's monotonic clock at real
// time (speed 1000, never paused) and there is no time-change condition;
// timers are then replaced by the time-out of the wait itself, since
// SetTrigger arms nothing without an engine.
#include <algorithm>
#include <climits>
#include <optional>

#include "daxo_condition.h"
#include "daxo_module.h"
#include "daxo_services.h"
#include "daxo_string.h"
#include "daxo_thread.h"
#include "daxo_time_waits.h"

namespace {

constexpr int kRealTimeSpeed = 1000;
constexpr int kStoppedTimeState = 2;
constexpr int kMaxWaitEvents = DAXOPrivate::MaxWaitEvents;
// The timestamp wait adds its time-change event and its timer to the list.
constexpr int kMaxCancelEvents = kMaxWaitEvents - 2;
constexpr int kMaxWait4Events = 254;
constexpr int kMaxMsgWait4Events = 255;

DAXOTimestamp Saturate(__int128 value) {
  if (value > LONG_MAX) return LONG_MAX;
  if (value < LONG_MIN) return LONG_MIN;
  return static_cast<DAXOTimestamp>(value);
}

DAXOTimestamp Plus(DAXOTimestamp a, DAXODelay b) {
  return Saturate(static_cast<__int128>(a) + b);
}

DAXODelay Minus(DAXOTimestamp a, DAXOTimestamp b) {
  return Saturate(static_cast<__int128>(a) - b);
}

/// Real-time microseconds in which the clock covers `engineSpan` at `speed`
/// (both of the same sign for a positive answer). `speed` must not be 0.
DAXODelay RealDelay(DAXODelay engineSpan, int speed) {
  return Saturate(static_cast<__int128>(engineSpan) * kRealTimeSpeed / speed);
}

/// Engine microseconds that pass in `real` microseconds at `speed` (> 0).
DAXODelay EngineSpan(DAXODelay real, int speed) {
  return Saturate(static_cast<__int128>(real) * speed / kRealTimeSpeed);
}

/// Engine time outside a bracket; the system clock when no engine is bound.
DAXOTimestamp EngineNow(bool precise, bool synchronised) {
  DAXOKernel* kernel = DAXOPrivate::kernel;
  return kernel != nullptr ? kernel->CurrentTime(precise, synchronised)
                           : DAXO::GetSystemAccurateTiming();
}

/// One engine-time computation: readings of the clock consistent with the
/// time-change condition, then (Enrol) the event that the next change sets.
/// The destructor ends the enrolment and the bracket, also on a throw.
class TimeBracket {
 public:
  TimeBracket() : m_kernel(DAXOPrivate::kernel) {
    if (m_kernel == nullptr) return;
    m_condition = m_kernel->TimeChangeCondition();
    m_kernel->BeginTimeComputation();
  }
  ~TimeBracket() {
    if (m_kernel == nullptr) return;
    if (m_handle != nullptr) m_condition->AchieveWaitX(m_handle);
    m_kernel->EndTimeComputation();
  }
  TimeBracket(const TimeBracket&) = delete;
  TimeBracket& operator=(const TimeBracket&) = delete;

  bool HasEngine() const { return m_kernel != nullptr; }
  /// Effective speed in thousandths: 0 while paused or stopped.
  int Speed() const {
    return m_kernel != nullptr ? m_kernel->GetAbsoluteTimeSpeed() : kRealTimeSpeed;
  }
  bool Stopped() const { return m_kernel != nullptr && m_kernel->TimeState() == kStoppedTimeState; }
  bool Paused() const { return m_kernel != nullptr && m_kernel->IsPaused(); }
  DAXOTimestamp Now(bool precise, bool synchronised) const {
    return m_kernel != nullptr ? m_kernel->CurrentTime(precise, synchronised)
                               : DAXO::GetSystemAccurateTiming();
  }
  /// Enrols for the next time change and releases the clock's mutex: call
  /// it once, after the last reading and before blocking. The event to wait
  /// on, or null when there is no engine to signal changes.
  DAXOEvent* Enrol() {
    if (m_condition == nullptr) return nullptr;
    DAXOEvent* change = nullptr;
    m_handle = m_condition->WaitX(&change);
    return change;
  }

 private:
  DAXOKernel* m_kernel;
  DAXOCondition* m_condition = nullptr;
  void* m_handle = nullptr;  // non-null while enrolled
};

/// Arms `timer` for `real` µs. Returns the time-out the wait must carry
/// itself: -1 when the engine's timer will end it, `real` when nothing was
/// armed (no engine, or the engine refused: then `refused` is set).
DAXODelay ArmTimer(DAXOEvent& timer, DAXODelay real, bool hasEngine, bool& refused) {
  refused = false;
  if (!hasEngine) return real;
  if (timer.SetTrigger(real)) return -1;
  refused = true;
  return real;
}

/// Waits for one of list[0..n-1] at most `timeout` µs of engine time
/// (timeout >= 0). `list` has room for one more entry. Returns the index of
/// the event that fired, DAXO::TimeOut, or the failure code of the wait.
int EngineTimedWait(int n, DAXOEvent** list, DAXODelay timeout) {
  DAXOTimestamp deadline = Plus(EngineNow(true, true), timeout);
  DAXOTimestamp previous = LONG_MIN;
  for (;;) {
    int result = DAXO::TimeOut;
    DAXOEvent* change = nullptr;
    {
      TimeBracket clock;
      const int speed = clock.Speed();
      const DAXOTimestamp now = clock.Now(false, false);
      // Time went back (a jump or a rewind): the whole time-out starts again.
      if (now < previous) deadline = Plus(now, timeout);
      previous = now;
      DAXODelay real = -1;  // no bound while the clock holds or runs backwards
      if (speed > 0 && !clock.Paused()) {
        real = RealDelay(std::max<DAXODelay>(Minus(deadline, now), 0), speed);
        if (real <= DAXOPrivate::MinimumWaitTime) break;
      }
      change = clock.Enrol();
      int used = n;
      if (change != nullptr) list[used++] = change;
      result = DAXOEvent::Wait(used, list, real);
    }
    if (result >= 0 && result < n) return result;
    if (change != nullptr && result == n) continue;
    if (result != DAXO::TimeOut) return result;
    if (Minus(deadline, EngineNow(true, true)) > DAXOPrivate::MinimumWaitTime) continue;
    break;
  }
  // Time is up; an event set by then still wins over the time-out.
  const int last = DAXOEvent::Wait(n, list, 0);
  return last >= 0 && last < n ? last : DAXO::TimeOut;
}

/// Refuses a wait list of n + extra entries that the multi-event wait
/// cannot take. `limit` is the largest n the call promises.
void CheckWaitCount(const char* function, int n, int limit, int extra) {
  if (n > limit) {
    DAXOStreamedString text(function);
    text << " can't wait for more than " << limit << " events simultaneously.";
    DAXOPrivate::KernelError(text, 0);
  }
  if (n + extra > kMaxWaitEvents) {
    // The die and time-change events share the list with the caller's.
    DAXOStreamedString text(function);
    text << " can't wait for more than " << (kMaxWaitEvents - extra) << " events simultaneously.";
    DAXOPrivate::KernelError(text, 0);
  }
}

}  // namespace

// --- engine-wide timestamp wait ---------------------------------------------------

bool DAXO::WaitForTimestamp(DAXOTimestamp t, int nCancel, DAXOEvent** cancelEvents, int* which,
                            bool* timeChanged) {
  if (nCancel < 0) {
    DAXOStreamedString text("DAXO::WaitForTimestamp [line:");
    text << __LINE__ << "] [nbCancelEvents:" << nCancel << "] < 0";
    DAXO::ReportError(text);
    throw DAXO::ModuleDied;
  }
  if (nCancel > kMaxCancelEvents) {
    DAXOStreamedString text("DAXO::WaitForTimestamp [line:");
    text << __LINE__ << "] [nbCancelEvents:" << nCancel << "] > " << kMaxCancelEvents;
    DAXO::ReportError(text);
    throw DAXO::ModuleDied;
  }
  if (nCancel > 0 && cancelEvents == nullptr) {
    // What the multi-event wait answers for a missing event.
    DAXOStreamedString text("DAXO::WaitForTimestamp [line:");
    text << __LINE__ << "] Failed due to an unknown problem [result:" << DAXO::FatalKernelError
         << "]";
    DAXO::ReportError(text);
    throw DAXO::ModuleDied;
  }
  if (which != nullptr) *which = -1;
  if (timeChanged != nullptr) *timeChanged = false;

  DAXOEvent timer;
  // Layout: [time change] [timer] cancel events; absent entries take no slot.
  DAXOEvent* list[kMaxWaitEvents];
  for (;;) {
    int result = DAXO::TimeOut;
    int changeIndex = -1;
    int timerIndex = -1;
    int firstCancel = 0;
    DAXODelay timeout = -1;
    {
      TimeBracket clock;
      const int speed = clock.Speed();
      int used = 0;
      if (speed == 0 || clock.Stopped()) {
        DAXOEvent* change = clock.Enrol();
        if (change != nullptr) {
          changeIndex = used;
          list[used++] = change;
        }
      } else {
        const DAXODelay real = RealDelay(Minus(t, clock.Now(false, false)), speed);
        if (real <= DAXOPrivate::MinimumWaitTime) return true;
        DAXOEvent* change = clock.Enrol();
        bool refused = false;
        timeout = ArmTimer(timer, real, clock.HasEngine(), refused);
        if (refused) {
          DAXOStreamedString text("DAXO::WaitForTimestamp [line:");
          text << __LINE__ << "] Failed to set the time trigger";
          DAXO::ReportError(text);
          throw DAXO::ModuleDied;
        }
        if (change != nullptr) {
          changeIndex = used;
          list[used++] = change;
        }
        timerIndex = used;
        list[used++] = &timer;
      }
      firstCancel = used;
      for (int k = 0; k < nCancel; ++k) list[used++] = cancelEvents[k];
      result = DAXOEvent::Wait(used, list, timeout);
      if (timerIndex >= 0) timer.ResetTrigger();
    }
    if (result >= 0 && result == changeIndex) {
      if (timeChanged != nullptr) *timeChanged = true;
      continue;
    }
    if (result >= 0 && result == timerIndex) continue;
    if (result == DAXO::TimeOut && timeout != -1) continue;  // the timer's stand-in
    if (result >= firstCancel && result < firstCancel + nCancel) {
      if (which != nullptr) *which = result - firstCancel;
      return false;
    }
    DAXOStreamedString text("DAXO::WaitForTimestamp [line:");
    text << __LINE__ << "] Failed due to an unknown problem [result:" << result << "]";
    DAXO::ReportError(text);
    throw DAXO::ModuleDied;
  }
}

bool DAXO::WaitForTimestamp(DAXOTimestamp t, DAXOEvent* cancel, bool* timeChanged) {
  DAXOEvent* cancels[1] = {cancel};
  return WaitForTimestamp(t, cancel != nullptr ? 1 : 0, cancels, nullptr, timeChanged);
}

// --- event waits --------------------------------------------------------------------

namespace {
void ThrowIfDying(const DAXOModule& module) {
  if ((module.State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
}

/// The wait list of one engine-time sleep, [time change] die [timer]
/// [cancel]; an absent entry's index is -1.
struct SleepList {
  SleepList(DAXOEvent* changeEvent, DAXOEvent& dieEvent, DAXOEvent* timerEvent,
            DAXOEvent* cancelEvent) {
    if (changeEvent != nullptr) events[change = used++] = changeEvent;
    events[die = used++] = &dieEvent;
    if (timerEvent != nullptr) events[timer = used++] = timerEvent;
    if (cancelEvent != nullptr) events[cancel = used++] = cancelEvent;
  }
  int Wait(DAXODelay timeout) { return DAXOEvent::Wait(used, events, timeout); }

  DAXOEvent* events[4];
  int used = 0;
  int change = -1;
  int die = -1;
  int timer = -1;
  int cancel = -1;
};

/// What ended one pass of a sleep.
enum class Woken { TimeChanged, TimerDue, Cancelled, Other };

/// Sorts a sleep's wait result; the die event (or a death meanwhile) throws
/// DAXO::ModuleDied. `timeout` is the time-out the wait carried itself.
Woken Sort(const DAXOModule& module, const SleepList& list, int result, DAXODelay timeout) {
  auto fired = [result](int index) { return result >= 0 && result == index; };
  if (fired(list.change)) return Woken::TimeChanged;
  if (fired(list.die)) throw DAXO::ModuleDied;
  ThrowIfDying(module);
  if (fired(list.timer) || (result == DAXO::TimeOut && timeout != -1)) return Woken::TimerDue;
  if (fired(list.cancel)) return Woken::Cancelled;
  return Woken::Other;
}

/// Runs `report` (a module's Error) and goes on: the failure is recorded and
/// reported, the wait continues.
template <class Report>
void ReportAndGoOn(Report report) {
  try {
    report();
  } catch (int code) {
    if (code != DAXO::ErrorException) throw;
  }
}
}  // namespace

bool DAXOModule::Wait4Event(DAXOEvent* event, DAXODelay timeout) {
  ThrowIfDying(*this);
  // The die event first: when both are set, death wins. Room for the
  // time-change event.
  DAXOEvent* list[3] = {&m_dieEvent, event, nullptr};
  const int n = (event == nullptr || event == &m_dieEvent) ? 1 : 2;
  const int result =
      timeout == -1 ? DAXOEvent::Wait(n, list, -1) : EngineTimedWait(n, list, timeout);
  if (result == 0) throw DAXO::ModuleDied;
  ThrowIfDying(*this);
  return n == 2 && result == 1;
}

bool DAXOModule::Wait4Event(DAXOEvent& event, DAXODelay timeout) {
  return Wait4Event(&event, timeout);
}

int DAXOModule::Wait4Events(int n, DAXOEvent** events, DAXODelay timeout, bool withDeath) {
  const int extra = (withDeath ? 1 : 0) + (timeout == -1 ? 0 : 1);
  CheckWaitCount("Wait4Events", n, kMaxWait4Events, extra);
  if (n < 0 || (n > 0 && events == nullptr)) return DAXO::FatalKernelError;
  DAXOEvent* list[kMaxWaitEvents];
  std::copy(events, events + n, list);
  int count = n;
  if (withDeath) list[count++] = &m_dieEvent;
  const int result =
      timeout == -1 ? DAXOEvent::Wait(count, list, -1) : EngineTimedWait(count, list, timeout);
  if (withDeath && result == n) throw DAXO::ModuleDied;
  ThrowIfDying(*this);
  return result;
}

int DAXOModule::MsgWait4Event(DAXOEvent* event, DAXODelay timeout) {
  DAXOEvent* list[2] = {&m_dieEvent, event};
  const int n = (event == nullptr || event == &m_dieEvent) ? 1 : 2;
  const int result = DAXOEvent::MsgWait(n, list, timeout);
  ThrowIfDying(*this);
  return result;
}

int DAXOModule::MsgWait4Events(int n, DAXOEvent** events, DAXODelay timeout, bool withDeath) {
  CheckWaitCount("MsgWait4Events", n, kMaxMsgWait4Events, withDeath ? 1 : 0);
  if (n < 0 || (n > 0 && events == nullptr)) return DAXO::FatalKernelError;
  DAXOEvent* list[kMaxWaitEvents];
  std::copy(events, events + n, list);
  int count = n;
  if (withDeath) list[count++] = &m_dieEvent;
  const int result = DAXOEvent::MsgWait(count, list, timeout);
  ThrowIfDying(*this);
  return result;
}

// --- engine-time sleeps -------------------------------------------------------------

bool DAXOModule::Rest(DAXODelay delay, DAXOEvent* cancel) {
  ThrowIfDying(*this);
  DAXOEvent timer;
  DAXODelay remaining = delay;  // engine time still to sleep
  DAXOTimestamp target = 0;
  int direction = 0;  // sign of the speed `target` was set for; 0: to be set
  for (;;) {
    // The timer is in the list only while the clock runs.
    std::optional<SleepList> list;
    int result = DAXO::TimeOut;
    DAXODelay timeout = -1;
    DAXODelay left = 0;  // engine time to the target, in the running direction
    int speed = 0;
    DAXOTimestamp segmentStart = 0;
    bool reached = false;
    {
      TimeBracket clock;
      speed = clock.Speed();
      const bool running = speed != 0 && !clock.Stopped();
      DAXODelay real = -1;
      if (running) {
        const int sign = speed > 0 ? 1 : -1;
        const DAXOTimestamp now = clock.Now(false, false);
        if (sign != direction) {
          target = Plus(now, sign > 0 ? remaining : -remaining);
          direction = sign;
        }
        left = sign > 0 ? Minus(target, now) : Minus(now, target);
        real = RealDelay(sign > 0 ? left : -left, speed);
        reached = real <= DAXOPrivate::MinimumWaitTime;
      }
      if (!reached) {
        segmentStart = DAXO::GetSystemAccurateTiming();
        DAXOEvent* change = clock.Enrol();
        bool refused = false;
        if (running) timeout = ArmTimer(timer, real, clock.HasEngine(), refused);
        list.emplace(change, m_dieEvent, running ? &timer : nullptr, cancel);
        if (refused) {
          ReportAndGoOn([&] {
            Error(
                "Rest function : Too many multimedia timers used. No more available. Contact "
                "technical support for help.");
          });
        }
        result = list->Wait(timeout);
        if (running) timer.ResetTrigger();
      }
    }
    if (reached) {
      // Yields only now that the bracket has given the clock back.
      DAXO::ReleaseCurrentThread();
      return true;
    }
    switch (Sort(*this, *list, result, timeout)) {
      case Woken::TimeChanged:
        if (list->timer >= 0) {
          // Only the engine time that really passed counts: a jump neither
          // ends nor prolongs the sleep, and a new speed applies to what is
          // left.
          const DAXODelay real = Minus(DAXO::GetSystemAccurateTiming(), segmentStart);
          const DAXODelay spent = EngineSpan(real, speed > 0 ? speed : -speed);
          remaining = std::max<DAXODelay>(Minus(left, spent), 0);
        }
        direction = 0;
        continue;
      case Woken::TimerDue:
        continue;  // the next pass ends the sleep once the target is reached
      case Woken::Cancelled:
        return false;
      case Woken::Other:
        return true;
    }
  }
}

bool DAXOModule::Wait(DAXOTimestamp t, DAXOEvent* cancel) {
  ThrowIfDying(*this);
  DAXOEvent timer;
  for (;;) {
    std::optional<SleepList> list;
    int result = DAXO::TimeOut;
    DAXODelay timeout = -1;
    {
      TimeBracket clock;
      const int speed = clock.Speed();
      // Only a clock running forwards brings `t` nearer: otherwise no timer,
      // just the next time change.
      const bool running = speed > 0 && !clock.Stopped();
      DAXODelay real = -1;
      if (running) {
        real = RealDelay(Minus(t, clock.Now(false, false)), speed);
        if (real <= DAXOPrivate::MinimumWaitTime) return true;
      }
      // Enrolling gives the clock's mutex back: the timer is armed after it.
      DAXOEvent* change = clock.Enrol();
      bool refused = false;
      if (running) timeout = ArmTimer(timer, real, clock.HasEngine(), refused);
      list.emplace(change, m_dieEvent, running ? &timer : nullptr, cancel);
      if (refused) {
        DAXOStreamedString text("DAXOEvent::Wait [line:");
        text << __LINE__
             << "] Too many multimedia timers used. No more available. Contact technical "
                "support for help.";
        ReportAndGoOn([&] { Error(text); });
      }
      result = list->Wait(timeout);
      if (running) timer.ResetTrigger();
    }
    switch (Sort(*this, *list, result, timeout)) {
      case Woken::TimeChanged:
      case Woken::TimerDue:
        continue;
      case Woken::Cancelled:
        return false;
      case Woken::Other:
        break;
    }
    DAXOStreamedString text("DAXOEvent::Wait [line:");
    text << __LINE__ << "] Failed [result: " << result << "]";
    Report(text, DAXO::Error, 0);
    return true;
  }
}

bool DAXOModule::WaitForTimestamp(DAXOTimestamp t, DAXOEvent* cancel, bool* timeChanged) {
  return WaitForTimestamp(t, cancel != nullptr ? 1 : 0, &cancel, nullptr, timeChanged);
}

bool DAXOModule::WaitForTimestamp(DAXOTimestamp t, int n, DAXOEvent** events, int* which,
                                  bool* timeChanged) {
  ThrowIfDying(*this);
  if (which != nullptr) *which = -1;
  if (n < 0 || n + 1 > kMaxCancelEvents || (n > 0 && events == nullptr)) {
    // Refused (reported, then thrown) before any list is read.
    return DAXO::WaitForTimestamp(t, n < 0 ? n : n + 1, nullptr, nullptr, timeChanged);
  }
  DAXOEvent* list[kMaxCancelEvents];
  list[0] = &m_dieEvent;
  std::copy(events, events + n, list + 1);
  int fired = -1;
  const bool reached = DAXO::WaitForTimestamp(t, n + 1, list, &fired, timeChanged);
  if (fired == 0) throw DAXO::ModuleDied;
  ThrowIfDying(*this);
  if (reached) return true;
  if (fired >= 1 && fired <= n) {
    if (which != nullptr) *which = fired - 1;
    return false;
  }
  DAXOStreamedString text("DAXOModule::WaitForTimestamp [line:");
  text << __LINE__ << "] Failed";
  ReportAndGoOn([&] { Error(text); });
  return false;
}

// EngineClock: engine time in microseconds, counted from the moment the clock
// starts, at a speed in thousandths of real time (1000 real time, 0 holds,
// negative runs backwards), with pause and jumps. It owns the time-change
// condition: every speed, pause or time change signals it, so that every
// engine-time wait wakes and re-evaluates.
//
// Engine time is rebased on every change: time = reference + elapsed system
// time x speed / 1000 while advancing, the reference alone otherwise.
//
// Threading: every method from any thread. Readers (Now, Speed, State...)
// take only the state lock. Changers take the condition's protecting mutex
// first (the one BeginTimeComputation takes), then the state lock, and signal
// the condition with the protecting mutex still held: a waiter that holds
// the protecting mutex between Begin and WaitX sees no change it could miss.
// Lock order: condition mutex -> state lock -> listener hub (posts); the
// condition mutex -> (Signal) event mutexes (see
// daxo_lock_order.h for the whole SDK's).
// Nothing here calls out with the state lock held but the listener hub's
// posts, which only queue a notice under the hub's innermost lock.
//
// Listener notices: every change posts what it changed to the listener hub
// (when one is given), under the state lock, so notices are queued in the
// order of the changes: a jump (SetTime, and Start, which jumps to 0), a
// speed that differs from the one before, a pause or resume that changes the
// paused state. Setting what is already set posts nothing.
#pragma once

#include "daxo_condition.h"
#include "daxo_event.h"
#include "daxo_mutex.h"
#include "daxo_types.h"
#include "engine_mutex.h"

namespace velquor {

class ListenerHub;

/// The engine's system time in microseconds: CLOCK_MONOTONIC plus a fixed
/// offset (steady_clock durations apply to it unchanged).
DAXOTimestamp SystemMicros();

class EngineClock {
 public:
  /// `listeners`: where changes are posted (none when null); it must
  /// outlive the clock.
  explicit EngineClock(ListenerHub* listeners = nullptr);
  /// Sets the condition's abort event. This does not make it safe to destroy
  /// the clock under a waiter: a woken waiter still touches the condition, so
  /// no time-change wait may be in progress (the engine outlives every
  /// module bound to it).
  ~EngineClock();
  EngineClock(const EngineClock&) = delete;
  EngineClock& operator=(const EngineClock&) = delete;

  /// Starts (or restarts) engine time at 0, not paused.
  void Start();
  /// Holds or releases engine time (no effect before Start).
  void SetPaused(bool paused);
  void SetSpeed(int speed);
  void SetTime(DAXOTimestamp t);

  DAXOTimestamp Now();
  int Speed();
  /// 0 while paused or not started, the speed otherwise.
  int AbsoluteSpeed();
  /// 0 running, 1 paused, 2 stopped (not started).
  int State();
  bool IsPaused();
  bool IsStarted();
  /// Engine time at the last rebase.
  DAXOTimestamp Reference();

  DAXOCondition* Condition() { return &m_condition; }
  /// Takes / gives back the condition's protecting mutex.
  void BeginComputation() DAXO_ACQUIRE(m_conditionMutex) { m_conditionMutex.Lock(); }
  void EndComputation() DAXO_RELEASE(m_conditionMutex) { m_conditionMutex.Release(); }

 private:
  /// Rebases, runs `change` and posts what it changed (a jump when
  /// `jumps`).
  template <typename Change>
  void Apply(bool jumps, Change change) DAXO_EXCLUDES(m_conditionMutex, m_state);
  DAXOTimestamp NowLocked(DAXOTimestamp system) const DAXO_REQUIRES(m_state);

  // Protects m_condition (see the banner); the condition locks and releases
  // it by itself, so m_condition is not annotated as guarded by it.
  ListenerHub* const m_listeners;
  DAXOMutex m_conditionMutex;
  DAXOEvent m_abort;
  DAXOCondition m_condition;

  Mutex m_state;
  bool m_started DAXO_GUARDED_BY(m_state) = false;
  bool m_paused DAXO_GUARDED_BY(m_state) = false;
  int m_speed DAXO_GUARDED_BY(m_state) = 1000;
  DAXOTimestamp m_reference DAXO_GUARDED_BY(m_state) = 0;        // engine time at the rebase
  DAXOTimestamp m_systemReference DAXO_GUARDED_BY(m_state) = 0;  // system time at the rebase
};

}  // namespace velquor

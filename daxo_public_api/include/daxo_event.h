// Events: manual-reset flags that threads wait on, alone or several at once,
// and that the engine's timer service can set at a given time.
//
// DAXOEvent       set/reset flag; single waits, multi-event waits, timer arming
// DAXOEventBasic  the same single-event flag without multi-waits or timers
// DAXOPosixWaitingThread  the wake-up channel of one thread blocked in a
//                 multi-event wait (registered in every event it waits on)
//
// Threading: every operation may be called from any thread; Set may also come
// from the engine's timer service. Waits block the caller (time-outs are in
// microseconds of real time on the monotonic clock; -1 waits forever). An
// event must outlive every wait on it and every armed trigger.
//
// Memory ordering: whatever a thread did before Set() is visible to a thread
// once its wait has returned because of that Set.
//
// Lock order (level 13 of daxo_lock_order.h): an event's m_mutex, then the
// m_mutex of ONE of its waiting threads at a time (Set never holds two
// waiting-thread mutexes together, so two events set concurrently cannot
// deadlock on their shared waiters). A waiting thread never takes an event
// mutex while holding its own. No event mutex is held while calling the
// engine kernel, so the timer service may take its own lock before an
// event's mutex (EventTriggerFired).
//
// The mutexes are raw pthread mutexes paired with pthread condition
// variables, which the thread-safety analysis cannot check: what they guard
// is documented only.
#pragma once

#include <pthread.h>
#include <time.h>

#include <atomic>

#include "daxo_array.h"
#include "daxo_types.h"

class DAXOKernel;

class DAXOEvent;

namespace DAXOPrivate {

/// Largest number of events one multi-event wait accepts.
constexpr int MaxWaitEvents = 254;

/// Blocks until one of `events[0..n-1]` is set or `timeout` microseconds have
/// passed (-1: no time-out; other negative values count as 0). Returns the
/// lowest index of an event found set, -3 on time-out, -4 when n is outside
/// 1..MaxWaitEvents or an event pointer is null. Events may repeat. Never
/// polls: the caller sleeps until a Set or the deadline. This is the engine's
/// multi-event wait, and DAXOEvent::Wait(n, ...) uses it directly when no
/// kernel is bound.
int WaitForMultipleEvents(int n, DAXOEvent** events, DAXODelay timeout);

/// For the engine's timer service, when a trigger armed by SetTrigger fires:
/// clears the event's timer-list mark and sets the event. Call it without
/// holding any event mutex (the timer service's own lock may be held).
void EventTriggerFired(DAXOEvent* event);

/// Whether the timer service holds `event` (armed by SetTrigger and neither
/// fired nor dropped since).
bool EventIsInTimerList(DAXOEvent* event);

}  // namespace DAXOPrivate

/// The wake-up channel of one thread in a multi-event wait. Its mutex guards
/// nothing but the hand-over between Set and the sleeping thread: Set takes
/// it (after writing the event state) and broadcasts the condition variable;
/// the waiting thread reads the event states only while holding it.
class DAXOPosixWaitingThread {
 public:
  DAXOPosixWaitingThread();
  ~DAXOPosixWaitingThread();
  DAXOPosixWaitingThread(const DAXOPosixWaitingThread&) = delete;
  DAXOPosixWaitingThread& operator=(const DAXOPosixWaitingThread&) = delete;

 private:
  friend class DAXOEvent;
  friend int DAXOPrivate::WaitForMultipleEvents(int, DAXOEvent**, DAXODelay);

  pthread_mutex_t m_mutex;
  pthread_cond_t m_condvar;
  clockid_t m_clock;  // the clock m_condvar's time-outs are measured on
};

class DAXOEvent {
 public:
  /// An event initially set or reset as asked. The name is accepted for
  /// portability and not used on this platform.
  explicit DAXOEvent(bool initialState = false, const char* name = nullptr);
  /// Drops the event from the engine's timer service when it is still armed
  /// (the timer service must not return from ResetEventTrigger while it is
  /// still firing this event). No thread may be waiting on the event any more.
  ~DAXOEvent();
  DAXOEvent(const DAXOEvent&) = delete;
  DAXOEvent& operator=(const DAXOEvent&) = delete;

  /// Sets the event and wakes every thread waiting on it. The event stays set
  /// (waits do not consume it) until Reset. Setting a set event does nothing.
  void Set();
  /// Clears the event; later waits block until the next Set.
  void Reset();
  /// Whether the event is set at the moment of the call.
  bool State() const;

  /// Blocks until the event is set (returns 0) or `timeout` microseconds have
  /// passed (-1: never; returns -3). A wait of 0 only looks. Negative values
  /// other than -1 count as 0.
  int Wait(DAXODelay timeout);

  /// Waits on several events at once through the engine's event service
  /// (DAXOPrivate::WaitForMultipleEvents when no engine is bound). Returns the
  /// index of an event found set, -3 on time-out, anything else on error.
  static int Wait(int n, DAXOEvent** events, DAXODelay timeout);
  /// The message-aware form of Wait; this platform has no message queue, so
  /// it waits exactly like Wait.
  static int MsgWait(int n, DAXOEvent** events, DAXODelay timeout);
  /// Whether a message is waiting for the calling thread: never here.
  static bool MsgInQueue();

  /// Resets the event and asks the engine's timer service to set it `delay`
  /// microseconds from now (system clock; a delay past the end of time
  /// saturates). An earlier arming is dropped first, so a stale trigger can
  /// never set the event after this call. Returns false when the bound
  /// engine has no timer left; true otherwise. Without an engine nothing is
  /// armed and it returns true. Arming is for one owner thread at a time.
  bool SetTrigger(DAXODelay delay);
  /// Asks the timer service that armed the event to drop it (nothing when it
  /// is not armed). The event's state is not changed.
  void ResetTrigger();

 private:
  friend int DAXOPrivate::WaitForMultipleEvents(int, DAXOEvent**, DAXODelay);
  friend void DAXOPrivate::EventTriggerFired(DAXOEvent*);
  friend bool DAXOPrivate::EventIsInTimerList(DAXOEvent*);

  void SetLocked();  // Set with m_mutex held
  // Clears the timer mark and drops the arming from the kernel that made it
  // (which may no longer be the bound one, e.g. after DAXO::Exit). Called
  // without m_mutex held: the timer service fires under its own lock.
  void DropTrigger();
  bool AddWaitingThread(DAXOPosixWaitingThread* waiter);
  void RemoveWaitingThread(DAXOPosixWaitingThread* waiter);

  pthread_mutex_t m_mutex;  // guards every field below
  pthread_cond_t m_condvar;
  // Written under m_mutex only. Atomic because a multi-event waiter reads it
  // under its own mutex, where the lock order forbids taking m_mutex.
  std::atomic<bool> m_state;
  DAXOArray<DAXOPosixWaitingThread*> m_waitingThreads;
  bool m_isInTimerList;
  clockid_t m_clock;                // the clock m_condvar's time-outs are measured on
  DAXOKernel* m_armedBy = nullptr;  // the kernel holding the trigger while marked
};

/// A set/reset flag with single waits only (no multi-event waits, no timer).
class DAXOEventBasic {
 public:
  explicit DAXOEventBasic(bool initialState = false);
  ~DAXOEventBasic();
  DAXOEventBasic(const DAXOEventBasic&) = delete;
  DAXOEventBasic& operator=(const DAXOEventBasic&) = delete;

  /// Same contracts as DAXOEvent::Set, Reset and Wait(DAXODelay).
  void Set();
  void Reset();
  int Wait(DAXODelay timeout);

 private:
  pthread_mutex_t m_mutex;  // guards m_state
  pthread_cond_t m_condvar;
  std::atomic<bool> m_state;
  clockid_t m_clock;
};

namespace DAXO {
/// Copies n bytes from src to dst, then sets `done` when it is not null.
/// Returns dst.
void* Memcpy(void* dst, const void* src, long n, DAXOEvent* done);
}  // namespace DAXO

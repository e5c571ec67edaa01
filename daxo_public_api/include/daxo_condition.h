// Conditions built from events, each protected by a DAXOMutex of its user.
//
// DAXOCondition   any number of anonymous waiters; Signal wakes every thread
//                 waiting at that moment. Waiters borrow events from a pool
//                 that only grows.
// DAXOCondition2  up to 32 numbered subscribers, each with its own event;
//                 Signal wakes the subscribers marked waiting.
//
// Threading: every operation, construction and destruction aside, is called
// with the protecting mutex held (it guards the pool, the subscriber table
// and the waiting marks). The mutex is never held while a thread is blocked:
// Wait releases it before blocking and takes it again before returning;
// WaitX returns with it released and the caller blocks on the handed-out
// events by itself.
//
// Lock order: protecting mutex -> event mutexes (Signal sets events with it
// held); the whole order is in daxo_lock_order.h. Pass a plain DAXOMutex:
// the condition locks and releases it through DAXOMutex, which would bypass
// the recursion count of a DAXOMutex2.
//
// Lock annotations: the protecting mutex is the caller's, which the
// thread-safety analysis cannot tie to m_mutex, so the public operations
// carry none. DAXOCondition's work goes through member-function pointers to
// the Internal operations, which are annotated and checked against m_mutex;
// DAXOCondition2's fields are annotated and its operations, which run under
// the caller's lock, are not checked.
//
// Failures of a wait are thrown as integers after the protecting mutex has
// been released: DAXO::ModuleDied (57005) when the abort event is set,
// DAXO::TimeOut (-3) on time-out, DAXO::FatalKernelError (-4) otherwise.
// The abort event stays set: every later wait throws 57005 until its owner
// resets it. A null abort event is allowed and means "cannot be aborted".
#pragma once

#include "daxo_event.h"
#include "daxo_list.h"
#include "daxo_mutex.h"
#include "daxo_types.h"

class DAXOCondition {
 public:
  /// A pool event and whether it is free to lend. Items in use stand at the
  /// front of the pool, available ones at the back.
  struct DAXOEventInPool {
    DAXOEvent event;
    bool available = true;
  };

  /// `mutex`: the protecting mutex; `abortEvent`: the event that aborts every
  /// wait (may be null); `timeout`: the time-out of Wait in microseconds
  /// (-1: none). Neither pointer is owned.
  DAXOCondition(DAXOMutex* mutex, DAXOEvent* abortEvent, long timeout);
  /// No thread may still be waiting.
  ~DAXOCondition();
  DAXOCondition(const DAXOCondition&) = delete;
  DAXOCondition& operator=(const DAXOCondition&) = delete;

  /// Blocks until the next Signal, the abort event or the time-out. Called
  /// and returns with the protecting mutex held; throws (mutex released) on
  /// abort or time-out.
  void Wait();
  /// The first half of a wait for callers that wait on more events: enrols
  /// the caller for the next Signal, stores in `*out` the event that Signal
  /// will set and returns the handle for AchieveWaitX. Returns with the
  /// protecting mutex released. The caller must end every WaitX with
  /// AchieveWaitX, whatever its own wait gave.
  void* WaitX(DAXOEvent** out);
  /// Ends a WaitX: takes the protecting mutex again (blocking) and returns
  /// the borrowed event to the pool. Returns with the mutex held.
  void AchieveWaitX(void* handle);
  /// Wakes every thread currently waiting (Wait or WaitX). Threads that start
  /// waiting afterwards wait for the next Signal.
  void Signal();
  /// Sets the abort event (nothing when there is none).
  void Abort();

 protected:
  using Pool = DAXOList<DAXOEventInPool>;

  // The default operations behind the public ones.
  void InternalWait() DAXO_REQUIRES(m_mutex);
  void* InternalWaitX(DAXOEvent** out) DAXO_RELEASE(m_mutex);
  void InternalAchieveWaitX(void* handle) DAXO_ACQUIRE(m_mutex);
  void InternalSignal() DAXO_REQUIRES(m_mutex);
  void InternalAbort();

  DAXOMutex* m_mutex;
  DAXOEvent* m_abortEvent;
  Pool m_pool DAXO_GUARDED_BY(m_mutex);
  DAXODelay m_timeout;
  void (DAXOCondition::*m_waitFun)();
  void* (DAXOCondition::*m_waitXFun)(DAXOEvent**);
  void (DAXOCondition::*m_achieveWaitXFun)(void*);
  void (DAXOCondition::*m_signalFun)();
  void (DAXOCondition::*m_abortFun)();

 private:
  Pool::Item* Borrow() DAXO_REQUIRES(m_mutex);
  void GiveBack(Pool::Item* item) DAXO_REQUIRES(m_mutex);
};

class DAXOCondition2 {
 public:
  static constexpr int MaxSubscribers = 32;

  /// `mutex`: the protecting mutex; `abortEvent`: the event that aborts every
  /// wait (may be null); `timeout`: the time-out of Wait in microseconds
  /// (-1: none). Neither pointer is owned.
  DAXOCondition2(DAXOMutex* mutex, DAXOEvent* abortEvent, int timeout);
  /// Deletes the subscribers' events. No thread may still be waiting.
  virtual ~DAXOCondition2();
  DAXOCondition2(const DAXOCondition2&) = delete;
  DAXOCondition2& operator=(const DAXOCondition2&) = delete;

  /// Adds a subscriber after the highest number in use and returns its
  /// number; -1 when all 32 numbers are taken.
  int Subscribe();
  /// Subscribes number `id` (0 to 31), or makes an existing subscriber
  /// fresh (not waiting, event reset). Numbers outside 0..31 are ignored.
  void Subscribe(int id);
  /// Blocks subscriber `id` until the next Signal, the abort event or the
  /// time-out. Called and returns with the protecting mutex held; throws
  /// (mutex released) on abort, time-out, or an id that is not subscribed.
  void Wait(int id);
  /// The first half of a wait: marks `id` waiting, hands out its event and
  /// the abort event (null when there is none) and returns with the
  /// protecting mutex released. End it with AchieveWaitX or AbortWaitX.
  void WaitX(int id, DAXOEvent** event, DAXOEvent** abortEvent);
  /// Ends a WaitX with the result of the caller's own wait (0: the subscriber
  /// event, 1: the abort event). Takes the protecting mutex (blocking); 0
  /// returns with it held, 1 throws 57005 and anything else -4, after
  /// releasing it.
  void AchieveWaitX(int id, int result);
  /// Ends a WaitX without a result: takes the protecting mutex and clears the
  /// waiting mark. Returns with the mutex held.
  void AbortWaitX(int id);
  /// Sets the event of every subscriber marked waiting.
  void Signal();
  /// Sets the abort event (nothing when there is none).
  void CutConnection();

 private:
  bool Valid(int id) const DAXO_REQUIRES(m_mutex);

  DAXOMutex* m_mutex;
  DAXOEvent* m_abortEvent;
  DAXOEvent* m_events[MaxSubscribers] DAXO_GUARDED_BY(m_mutex);
  bool m_waiting[MaxSubscribers] DAXO_GUARDED_BY(m_mutex);
  int m_count DAXO_GUARDED_BY(m_mutex);
  int m_timeout;
};

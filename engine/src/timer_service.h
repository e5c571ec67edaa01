// TimerService: sets events at given system times (the triggers armed by
// DAXOEvent::SetTrigger). One thread sleeps on a condition variable until
// the earliest deadline or a change of the set, and fires every trigger whose
// deadline GetSystemAccurateTiming() has reached, earliest first.
//
// Threading: SetEventTrigger / ResetEventTrigger from any thread; firing on
// the service's own thread. Lock order (daxo_lock_order.h): service lock ->
// event mutex -> a waiting thread's mutex. The thread fires an event (EventTriggerFired:
// clears the timer mark, sets the event) while holding the service lock, so
// that ResetEventTrigger, which takes that lock, cannot return while the
// event is being fired: an event destroyed while armed is never touched
// after its destructor's ResetEventTrigger. This cannot deadlock because no
// caller enters the service holding an event mutex (DAXOEvent releases its
// own mutex before it calls the kernel), and setting an event never calls
// back into the service.
#pragma once

#include <condition_variable>
#include <map>
#include <thread>
#include <unordered_map>

#include "daxo_event.h"
#include "daxo_types.h"
#include "engine_mutex.h"

namespace velquor {

class TimerService {
 public:
  TimerService();
  /// Stops the thread; triggers still armed are dropped unfired.
  ~TimerService();
  /// Stops the thread now; the service stays usable for ResetEventTrigger
  /// (armed events may still be destroyed) and refuses new triggers.
  void Stop() DAXO_EXCLUDES(m_lock);
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;

  /// Arms `event` for system time `when` (µs); re-arming an armed event
  /// replaces its deadline. A deadline already past fires at once.
  bool SetEventTrigger(DAXOEvent* event, DAXOTimestamp when) DAXO_EXCLUDES(m_lock);
  /// Drops `event`; when it is being fired, returns after the firing.
  void ResetEventTrigger(DAXOEvent* event) DAXO_EXCLUDES(m_lock);
  /// Number of armed triggers.
  std::size_t Armed() const DAXO_EXCLUDES(m_lock);

 private:
  using Deadlines = std::multimap<DAXOTimestamp, DAXOEvent*>;

  void Run() DAXO_EXCLUDES(m_lock);

  mutable Mutex m_lock;
  std::condition_variable m_changed;
  Deadlines m_deadlines DAXO_GUARDED_BY(m_lock);
  std::unordered_map<DAXOEvent*, Deadlines::iterator> m_armed DAXO_GUARDED_BY(m_lock);
  bool m_stop DAXO_GUARDED_BY(m_lock) = false;
  std::thread m_thread;  // last: started once the fields above exist
};

}  // namespace velquor

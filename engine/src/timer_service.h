// TimerService: sets events at given system times (the triggers armed by
// DAXOEvent::SetTrigger). One thread sleeps on a condition variable until
// the earliest deadline or a change of the set, and fires every trigger whose
// deadline GetSystemAccurateTiming() has reached, earliest first.
//
// Threading: SetEventTrigger / ResetEventTrigger from any thread; firing on
// the service's own thread. Lock order: service lock -> event mutex ->
// a waiting thread's mutex. The thread fires an event (EventTriggerFired:
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
#include <mutex>
#include <thread>
#include <unordered_map>

#include "daxo_event.h"
#include "daxo_types.h"

namespace velquor {

class TimerService {
 public:
  TimerService();
  /// Stops the thread; triggers still armed are dropped unfired.
  ~TimerService();
  /// Stops the thread now; the service stays usable for ResetEventTrigger
  /// (armed events may still be destroyed) and refuses new triggers.
  void Stop();
  TimerService(const TimerService&) = delete;
  TimerService& operator=(const TimerService&) = delete;

  /// Arms `event` for system time `when` (µs); re-arming an armed event
  /// replaces its deadline. A deadline already past fires at once.
  bool SetEventTrigger(DAXOEvent* event, DAXOTimestamp when);
  /// Drops `event`; when it is being fired, returns after the firing.
  void ResetEventTrigger(DAXOEvent* event);
  /// Number of armed triggers.
  std::size_t Armed() const;

 private:
  using Deadlines = std::multimap<DAXOTimestamp, DAXOEvent*>;

  void Run();

  mutable std::mutex m_lock;  // guards everything below
  std::condition_variable m_changed;
  Deadlines m_deadlines;
  std::unordered_map<DAXOEvent*, Deadlines::iterator> m_armed;
  bool m_stop = false;
  std::thread m_thread;  // last: started once the fields above exist
};

}  // namespace velquor

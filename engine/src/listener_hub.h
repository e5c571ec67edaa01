// ListenerHub: the engine's registered listeners (DAXOListenerBase and its
// kinds, include/daxo_services.h) and the one thread that calls them back.
//
// Delivered: time-state notices from the engine clock (CallbackTimeJumped on
// a jump and on every clock (re)start, CallbackTimeSpeedChanged when the
// speed changes, CallbackTimePaused when the clock pauses or resumes) and
// run/shutdown notices from the diagram (EngineRunning when it starts
// running, EngineShuttingDown when its shutdown begins). Never delivered:
// RecordingStateChanged (this engine does not record) and KeysStateChanged
// (it has no HMI keys, so the key state never changes); listeners of those
// kinds and DAXOHMIKeysHandler are kept, so that registering and
// unregistering them behaves the same, and never called.
//
// Posting (the Post... operations) only queues a notice: any thread, under
// any engine lock, never blocks on a callback. A notice goes to the
// listeners of its kind that were registered when it was posted and are
// still registered when its turn comes, in registration order.
//
// The notice thread: one per hub, started with the first registration. It
// takes notices in posting order and calls the listeners one at a time with
// no engine lock held, so a callback may set events, read the clock, post,
// register or unregister listeners (its own included), and call the engine's
// services. Posting order is change order (the clock and the diagram post
// under the lock that orders their changes), so each listener sees the
// changes in the order they happened. A callback that throws is reported
// (level 2) and the delivery goes on.
//
// Unregister: when it returns the listener is never called again and no call
// on it is still running (it waits for that call), except on the notice
// thread itself, where the call in progress is the caller's own: it only
// stops later calls. Hence a thread that unregisters while holding a lock
// must not hold one that the listener's callback takes (e.g. the diagram
// lock, held while a component is destroyed: the callback of a component's
// own listener must not create, connect, rename or destroy components).
//
// The listeners live in packages that carry their own copy of the SDK: the
// registered pointer is the DAXOListenerBase subobject of the listener (what
// DAXOListenerBase::Register passes), which sits at offset 0 of each
// listener class; it is cast to the engine's copy of that class and only
// its virtual callbacks are called, which run the package's code.
//
// Lock: m_lock, the innermost lock of the engine (daxo_lock_order.h, level
// 15): taken under the clock's locks and the diagram's table mutex when a
// notice is posted; nothing is called and nothing is reported under it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "daxo_types.h"
#include "engine_mutex.h"

namespace velquor {

class ListenerHub {
 public:
  using ReportFn = std::function<void(const std::string& text, int level)>;
  explicit ListenerHub(ReportFn report);
  /// Stop().
  ~ListenerHub();
  ListenerHub(const ListenerHub&) = delete;
  ListenerHub& operator=(const ListenerHub&) = delete;

  /// Keeps `listener` (a DAXOListenerBase* of kind `kind`, a
  /// DAXOListenerKind value). Registering the same listener again does
  /// nothing; an unknown kind or a null listener is reported and ignored.
  /// Ignored after Stop.
  void Register(int kind, void* listener);
  /// Forgets `listener`; see the banner for what holds on return. Unknown
  /// listeners are ignored.
  void Unregister(int kind, void* listener);

  void PostTimeJumped(DAXOTimestamp t);
  void PostTimeSpeedChanged(int speed);
  void PostTimePaused(bool paused);
  void PostEngineRunning();
  void PostEngineShuttingDown();

  /// Blocks until every notice posted before the call has been delivered.
  /// Returns at once on the notice thread (it would wait for itself) and
  /// once the hub has stopped.
  void Flush();
  /// Delivers the notices already queued, then ends and joins the notice
  /// thread and forgets every listener; later posts and registrations are
  /// ignored. Never from a callback (the thread would join itself). The engine stops the
  /// hub before it unloads the packages whose code the listeners run.
  void Stop();

 private:
  enum class Event { TimeJumped, TimeSpeedChanged, TimePaused, EngineRunning, EngineShuttingDown };
  struct Notice {
    Event event;
    long value;
    std::uint64_t serial;  // posting order
  };
  struct Registration {
    int kind;
    void* listener;
    std::uint64_t firstSerial;  // notices from this serial on reach it
  };
  struct Call {
    Event event;
    long value;
    void* listener;
  };

  void Post(Event event, long value);
  void Run();
  /// The next call to make, popping the notices that have no listener left.
  bool NextCall(Call& call) DAXO_REQUIRES(m_lock);
  void Deliver(const Call& call);
  static int KindOf(Event event);

  ReportFn m_report;
  Mutex m_lock;
  std::condition_variable m_work;      // a notice was posted, or Stop
  std::condition_variable m_progress;  // a call ended or a notice was done
  std::map<std::uint64_t, Registration> m_registrations DAXO_GUARDED_BY(m_lock);  // by id
  std::uint64_t m_nextId DAXO_GUARDED_BY(m_lock) = 1;
  std::deque<Notice> m_queue DAXO_GUARDED_BY(m_lock);
  std::uint64_t m_nextSerial DAXO_GUARDED_BY(m_lock) = 1;
  // Registration id last called for the front notice (0: none yet).
  std::uint64_t m_cursor DAXO_GUARDED_BY(m_lock) = 0;
  void* m_calling DAXO_GUARDED_BY(m_lock) = nullptr;  // listener being called
  bool m_stopping DAXO_GUARDED_BY(m_lock) = false;
  std::thread m_thread DAXO_GUARDED_BY(m_lock);
};

}  // namespace velquor

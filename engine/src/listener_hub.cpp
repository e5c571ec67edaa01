#include "listener_hub.h"

#include <exception>
#include <utility>

#include "daxo_services.h"
#include "diagram_lock.h"

namespace velquor {

namespace {
// The hub whose notice thread this is (null on every other thread): lets
// Unregister and Flush tell a call from inside a callback.
thread_local const ListenerHub* t_notifying = nullptr;

}  // namespace

ListenerHub::ListenerHub(ReportFn report) : m_report(std::move(report)) {}

ListenerHub::~ListenerHub() {
  Stop();
}

int ListenerHub::KindOf(Event event) {
  switch (event) {
    case Event::EngineRunning:
    case Event::EngineShuttingDown:
      return static_cast<int>(DAXOListenerKind::RunShutdown);
    default:
      return static_cast<int>(DAXOListenerKind::TimeState);
  }
}

void ListenerHub::Register(int kind, void* listener) {
  if (listener == nullptr || kind < static_cast<int>(DAXOListenerKind::RecordingState) ||
      kind > static_cast<int>(DAXOListenerKind::HMIKeysHandler)) {
    m_report("Engine: listener of unknown kind " + std::to_string(kind) + " ignored.", 1);
    return;
  }
  MutexLock lock(m_lock);
  if (m_stopping) return;
  for (const auto& [id, registration] : m_registrations) {
    if (registration.kind == kind && registration.listener == listener) return;
  }
  m_registrations.emplace(m_nextId++, Registration{kind, listener, m_nextSerial});
  if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
}

void ListenerHub::Unregister(int kind, void* listener) {
  MutexLock lock(m_lock);
  std::erase_if(m_registrations, [&](const auto& entry) {
    return entry.second.kind == kind && entry.second.listener == listener;
  });
  if (t_notifying == this) return;
  m_progress.wait(lock.Native(), [&]() DAXO_REQUIRES(m_lock) { return m_calling != listener; });
}

void ListenerHub::Post(Event event, long value) {
  {
    MutexLock lock(m_lock);
    if (m_stopping) return;
    const int kind = KindOf(event);
    bool addressed = false;
    for (const auto& [id, registration] : m_registrations) addressed |= registration.kind == kind;
    // Nobody to tell now means nobody to tell ever: later registrations
    // only hear later notices.
    if (!addressed) return;
    m_queue.push_back(Notice{event, value, m_nextSerial++});
  }
  m_work.notify_one();
}

void ListenerHub::PostTimeJumped(DAXOTimestamp t) {
  Post(Event::TimeJumped, t);
}
void ListenerHub::PostTimeSpeedChanged(int speed) {
  Post(Event::TimeSpeedChanged, speed);
}
void ListenerHub::PostTimePaused(bool paused) {
  Post(Event::TimePaused, paused ? 1 : 0);
}
void ListenerHub::PostEngineRunning() {
  Post(Event::EngineRunning, 0);
}
void ListenerHub::PostEngineShuttingDown() {
  Post(Event::EngineShuttingDown, 0);
}

void ListenerHub::Flush() {
  if (t_notifying == this) return;
  MutexLock lock(m_lock);
  const std::uint64_t posted = m_nextSerial;
  m_progress.wait(lock.Native(), [&]() DAXO_REQUIRES(m_lock) {
    return m_queue.empty() || m_queue.front().serial >= posted;
  });
}

void ListenerHub::Stop() {
  std::thread thread;
  {
    MutexLock lock(m_lock);
    m_stopping = true;
    thread = std::move(m_thread);
  }
  m_work.notify_all();
  if (thread.joinable()) thread.join();
  MutexLock lock(m_lock);
  m_registrations.clear();
  m_queue.clear();
  m_progress.notify_all();
}

bool ListenerHub::NextCall(Call& call) {
  while (!m_queue.empty()) {
    const Notice& notice = m_queue.front();
    const int kind = KindOf(notice.event);
    for (auto it = m_registrations.upper_bound(m_cursor); it != m_registrations.end(); ++it) {
      const Registration& registration = it->second;
      if (registration.kind != kind || registration.firstSerial > notice.serial) continue;
      m_cursor = it->first;
      call = Call{notice.event, notice.value, registration.listener};
      return true;
    }
    m_queue.pop_front();
    m_cursor = 0;
    m_progress.notify_all();
  }
  return false;
}

void ListenerHub::Run() {
  t_notifying = this;
  for (;;) {
    Call call{};
    {
      MutexLock lock(m_lock);
      if (m_calling != nullptr) {
        m_calling = nullptr;
        m_progress.notify_all();
      }
      m_work.wait(lock.Native(), [&]() DAXO_REQUIRES(m_lock) {
        return NextCall(call) || (m_stopping && m_queue.empty());
      });
      if (m_queue.empty()) return;  // stopping, and everything delivered
      m_calling = call.listener;
    }
    Deliver(call);
  }
}

void ListenerHub::Deliver(const Call& call) {
  // The registered pointer is the listener's DAXOListenerBase, at offset 0
  // of each listener class: the static_casts below do not move it.
  auto* base = static_cast<DAXOListenerBase*>(call.listener);
  try {
    switch (call.event) {
      case Event::TimeJumped:
        static_cast<DAXOTimeStateListener*>(base)->CallbackTimeJumped(call.value);
        break;
      case Event::TimeSpeedChanged:
        static_cast<DAXOTimeStateListener*>(base)->CallbackTimeSpeedChanged(
            static_cast<int>(call.value));
        break;
      case Event::TimePaused:
        static_cast<DAXOTimeStateListener*>(base)->CallbackTimePaused(call.value != 0);
        break;
      case Event::EngineRunning:
        static_cast<DAXORunShutdownListener*>(base)->EngineRunning();
        break;
      case Event::EngineShuttingDown:
        static_cast<DAXORunShutdownListener*>(base)->EngineShuttingDown();
        break;
    }
  } catch (...) {
    m_report("Engine: a listener's callback failed (" +
                 DescribeException(std::current_exception()) + ").",
             2);
  }
}

}  // namespace velquor

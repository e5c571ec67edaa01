#include "timer_service.h"

#include <chrono>

#include "engine_clock.h"

namespace velquor {

TimerService::TimerService() : m_thread([this] { Run(); }) {}

TimerService::~TimerService() {
  Stop();
}

void TimerService::Stop() {
  {
    MutexLock lock(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

bool TimerService::SetEventTrigger(DAXOEvent* event, DAXOTimestamp when) {
  if (event == nullptr) return false;
  {
    MutexLock lock(m_lock);
    if (m_stop) return false;
    auto found = m_armed.find(event);
    if (found != m_armed.end()) {
      m_deadlines.erase(found->second);
      m_armed.erase(found);
    }
    const auto deadline = m_deadlines.emplace(when, event);
    try {
      m_armed.emplace(event, deadline);
    } catch (...) {
      m_deadlines.erase(deadline);  // an orphan deadline would fire unseen
      throw;
    }
  }
  m_changed.notify_all();
  return true;
}

void TimerService::ResetEventTrigger(DAXOEvent* event) {
  MutexLock lock(m_lock);
  auto found = m_armed.find(event);
  if (found == m_armed.end()) return;
  m_deadlines.erase(found->second);
  m_armed.erase(found);
  // No wake-up needed: the thread recomputes its deadline whenever it wakes,
  // and waking early for a dropped deadline costs one loop.
}

std::size_t TimerService::Armed() const {
  MutexLock lock(m_lock);
  return m_armed.size();
}

void TimerService::Run() {
  MutexLock lock(m_lock);
  while (!m_stop) {
    if (m_deadlines.empty()) {
      m_changed.wait(lock.Native());
      continue;
    }
    const auto first = m_deadlines.begin();
    const DAXOTimestamp now = SystemMicros();
    if (first->first <= now) {
      DAXOEvent* event = first->second;
      m_armed.erase(event);
      m_deadlines.erase(first);
      // Under the service lock on purpose (see the banner).
      DAXOPrivate::EventTriggerFired(event);
      continue;
    }
    // steady_clock is CLOCK_MONOTONIC, the clock of SystemMicros. Waits are
    // capped at an hour: the conversion to nanoseconds overflows for
    // deadlines centuries away, and an overflowed wait would spin.
    constexpr DAXOTimestamp kLongestWait = 3'600'000'000;
    const DAXOTimestamp wait = first->first - now;
    m_changed.wait_for(lock.Native(),
                       std::chrono::microseconds(wait < kLongestWait ? wait : kLongestWait));
  }
}

}  // namespace velquor

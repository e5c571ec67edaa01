// Test support for the engine suites: an engine bound as this executable's
// kernel with an in-memory report sink, a counter to hand-shake with worker
// threads, and an engine-time wait written the way the SDK waits.
//
// The test executable links the runtime itself: its DAXOEvent, DAXOTimer and
// DAXO:: functions read this executable's DAXOPrivate::kernel, which
// velquor::KernelBinding sets to the engine (libvelquor's own copy is bound
// by the engine).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "daxo_condition.h"
#include "daxo_event.h"
#include "daxo_kernel.h"
#include "velquor/engine.h"

namespace velquor::test {

constexpr DAXODelay kSecond = 1000000;
constexpr DAXODelay kGenerous = 10 * kSecond;

class EngineTest : public ::testing::Test {
 protected:
  EngineTest()
      : engine(EngineOptions{false, false}),
        reports(std::make_shared<MemoryReportSink>()),
        binding(engine) {
    engine.AddReportSink(reports);
  }

  DAXOKernel* kernel() { return engine.kernel(); }
  /// How many reports so far hold `part` (at `level`, unless it is -1).
  int ReportCount(const std::string& part, int level = -1) const {
    int n = 0;
    for (const ReportRecord& r : reports->Reports()) {
      n += r.text.find(part) != std::string::npos && (level < 0 || r.level == level);
    }
    return n;
  }
  bool ReportHas(const std::string& part, int level = -1) const {
    return ReportCount(part, level) > 0;
  }

  Engine engine;
  std::shared_ptr<MemoryReportSink> reports;
  KernelBinding binding;  // after the engine: unbound before it is destroyed
};

/// A count that threads raise and wait on (hand-shakes, never sleeps).
class Counter {
 public:
  void Raise() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_value;
    }
    m_changed.notify_all();
  }
  bool WaitAtLeast(int value, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_value >= value; });
  }
  int Value() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_value;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_value = 0;
};

/// What a component's thread records for the test's thread: each item
/// appended under the lock and counted, so that the test waits for a count
/// and then reads the items (hand-shakes, never sleeps).
template <class T>
class Log {
 public:
  /// Appends `item`; answers its index.
  std::size_t Add(T item) {
    std::size_t index = 0;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      index = m_items.size();
      m_items.push_back(std::move(item));
    }
    m_added.Raise();
    return index;
  }
  bool WaitAtLeast(int count) { return m_added.WaitAtLeast(count); }
  T At(std::size_t i) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_items.at(i);
  }
  std::vector<T> All() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_items;
  }

 private:
  std::mutex m_mutex;
  std::vector<T> m_items;
  Counter m_added;
};

struct EngineTimeWait {
  bool reached = false;
  int timeChanges = 0;  // wake-ups by the time-change condition
};

/// Blocks until engine time reaches `target` (from below when the clock runs
/// forwards, from above when it runs backwards) or `budget` µs of real time
/// have passed. `waiting` is raised each time the waiter is enrolled on the
/// time-change condition, so that a test changes the clock only once the
/// waiter cannot miss it.
inline EngineTimeWait WaitForEngineTime(DAXOKernel* kernel, DAXOTimestamp target, DAXODelay budget,
                                        Counter* waiting = nullptr) {
  EngineTimeWait result;
  const DAXOTimestamp giveUp = DAXO::GetSystemAccurateTiming() + budget;
  DAXOCondition* condition = kernel->TimeChangeCondition();
  DAXOEvent timer;
  kernel->BeginTimeComputation();
  for (;;) {
    const int speed = kernel->GetAbsoluteTimeSpeed();
    const DAXOTimestamp now = kernel->CurrentTime(true, true);
    if ((speed > 0 && now >= target) || (speed < 0 && now <= target)) {
      result.reached = true;
      break;
    }
    const DAXODelay left = giveUp - DAXO::GetSystemAccurateTiming();
    if (left <= 0) break;
    bool armed = false;
    if (speed != 0) {
      const long engineLeft = speed > 0 ? target - now : now - target;
      // Rounded up: a timer that fires early only costs one more loop.
      armed = timer.SetTrigger(engineLeft * 1000 / (speed > 0 ? speed : -speed) + 1);
    }
    DAXOEvent* change = nullptr;
    void* handle = condition->WaitX(&change);
    if (waiting != nullptr) waiting->Raise();
    DAXOEvent* events[2] = {change, &timer};
    const int fired = DAXOEvent::Wait(armed ? 2 : 1, events, left);
    if (fired == 0) ++result.timeChanges;
    if (armed) timer.ResetTrigger();
    condition->AchieveWaitX(handle);
  }
  kernel->EndTimeComputation();
  return result;
}

}  // namespace velquor::test

// Helpers shared by the tests of the threads layer: a group of test threads
// with a start barrier and a watchdog. (The kernel side of events, triggers
// and multi-event waits is tested through the real engine.)
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "daxo_event.h"

namespace daxo_test {

/// Generous bound for anything a test waits on: long enough to never fire on
/// a loaded machine, short enough to report a hang as a failure.
constexpr DAXODelay kPatience = 10'000'000;

/// Threads that start their bodies together (barrier on an event) and are
/// joined under a watchdog: a group still running after `patience` is
/// reported as a hang and the test process is ended, since deadlocked threads
/// cannot be joined.
class ThreadGroup {
 public:
  explicit ThreadGroup(DAXODelay patience = 60'000'000) : m_patience(patience) {}
  ~ThreadGroup() { Join(); }

  void Add(std::function<void()> body) {
    m_threads.emplace_back([this, body = std::move(body)] {
      m_start.Wait(-1);
      body();
      if (m_running.fetch_sub(1) == 1) m_finished.Set();
    });
    m_running.fetch_add(1);
  }
  /// Releases every thread at once.
  void Start() { m_start.Set(); }
  /// Starts the threads if needed and waits for all of them.
  void Join() {
    if (m_threads.empty()) return;
    Start();
    if (m_finished.Wait(m_patience) != 0) {
      std::fprintf(stderr, "watchdog: test threads still running, probably deadlocked\n");
      std::fflush(stderr);
      std::abort();
    }
    for (std::thread& t : m_threads) t.join();
    m_threads.clear();
  }

 private:
  DAXODelay m_patience;
  DAXOEvent m_start;
  DAXOEvent m_finished;
  std::atomic<int> m_running{0};
  std::vector<std::thread> m_threads;
};

/// Runs `wait(ready)` on a thread of its own; once that thread has set
/// `ready` (just before it blocks), runs `wake` here. Returns what `wait`
/// returned.
template <class Wait, class Wake>
int WokenBy(Wait wait, Wake wake) {
  DAXOEvent ready;
  std::atomic<int> result{-100};
  std::thread waiter([&] { result = wait(ready); });
  EXPECT_EQ(ready.Wait(kPatience), 0);
  wake();
  waiter.join();
  return result;
}

/// WokenBy for a `wait()` that needs nothing done before it blocks.
template <class Wait, class Wake>
int WaitWokenBy(Wait wait, Wake wake) {
  return WokenBy(
      [&](DAXOEvent& ready) {
        ready.Set();
        return wait();
      },
      wake);
}

/// Monotonic microseconds, independent of any bound kernel.
inline long MonotonicNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000L + ts.tv_nsec / 1000;
}

/// Microseconds that `call` took, on the monotonic clock.
template <class F>
long Elapsed(F call) {
  const long begin = MonotonicNow();
  call();
  return MonotonicNow() - begin;
}

}  // namespace daxo_test

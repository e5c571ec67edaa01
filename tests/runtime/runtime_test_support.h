// Helpers shared by the runtime tests: text conversions for expectations, a
// scratch working folder, environment variables restored after a test, the
// integer a call throws, and, for the threads layer, a group of test threads
// with a start barrier and a watchdog. (The kernel side of events, triggers
// and multi-event waits is tested through the real engine.)
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "daxo_event.h"
#include "daxo_string.h"

namespace daxo_test {

/// The bytes of `s`, embedded NULs included.
inline std::string Str(const DAXOString& s) {
  return std::string(s.Beginning(), static_cast<size_t>(s.Length()));
}

/// A DAXOString holding the bytes of `s`, embedded NULs included.
inline DAXOString Daxo(const std::string& s) {
  DAXOString out;
  out.concat(static_cast<int>(s.size()), s.data());
  return out;
}

/// The integer `call` throws, or 0 when it returns.
template <class F>
int Thrown(F call) {
  try {
    call();
  } catch (int code) {
    return code;
  }
  return 0;
}

/// Environment variables changed by a test, restored when it ends.
class ScopedEnv {
 public:
  ~ScopedEnv() { Restore(); }
  void Restore() {
    for (const auto& [name, old] : m_saved) {
      old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str());
    }
    m_saved.clear();
  }
  /// Sets `name` to `value`, or unsets it for a null value.
  void Set(const char* name, const char* value) {
    const char* old = getenv(name);
    m_saved.try_emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
    value ? setenv(name, value, 1) : unsetenv(name);
  }

 private:
  std::map<std::string, std::optional<std::string>> m_saved;  // the values before the test
};

/// A fresh folder, the working directory while the test runs.
class InScratchFolder : public ::testing::Test {
 public:
  void SetUp() override {
    char dir[] = "/tmp/daxo_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    m_oldCwd = std::filesystem::current_path();
    dir_ = std::filesystem::canonical(dir).string();  // the resolved spelling
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(m_oldCwd);
    std::filesystem::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::filesystem::path m_oldCwd;
};

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
  /// `count` threads running `body(index)`.
  ThreadGroup(int count, const std::function<void(int)>& body) : ThreadGroup() { Add(count, body); }
  ~ThreadGroup() { Join(); }

  void Add(std::function<void()> body) {
    m_threads.emplace_back([this, body = std::move(body)] {
      m_start.Wait(-1);
      body();
      if (m_running.fetch_sub(1) == 1) m_finished.Set();
    });
    m_running.fetch_add(1);
  }
  /// `count` threads running `body(index)`.
  void Add(int count, const std::function<void(int)>& body) {
    for (int i = 0; i < count; ++i) Add([body, i] { body(i); });
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

/// Microseconds that `call` took, on the monotonic clock (independent of
/// any bound kernel).
template <class F>
long Elapsed(F call) {
  const auto begin = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               begin)
      .count();
}

}  // namespace daxo_test

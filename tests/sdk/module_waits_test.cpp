// The engine-time waits of a module against the real engine clock: wake-ups
// by events and by death, time-outs and sleeps that follow the clock's
// speed, direction, pause and jumps, cancel events, and the refusals.
//
// Worker threads are hand-shaken through the engine's count of multi-event
// waits: once it has grown, the worker is enrolled on the time-change
// condition and blocked, so that a clock change cannot be missed. Timing
// assertions are lower bounds (a wait that ends too early is the fault) or
// generous upper bounds.
#include <deque>
#include <functional>
#include <future>
#include <memory>

#include "daxo_services.h"
#include "daxo_time_waits.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);
constexpr DAXODelay kHour = 3600 * kSecond;

long MicrosSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

class ModuleWaits : public PropertyTest {
 protected:
  ~ModuleWaits() override {
    // Every wait here also ends on death: a worker still blocked after a
    // failed expectation is released before its future is destroyed.
    module.Die();
  }

  /// Runs `wait` on a worker thread and returns once the worker is blocked
  /// in a wait that started after this call (or has already finished).
  std::future<bool>& StartBlocked(std::function<bool()> wait) {
    const long before = engine.MultiEventWaits();
    workers.push_back(std::async(std::launch::async, std::move(wait)));
    EXPECT_TRUE(BlockedAgain(before, workers.back())) << "the worker never blocked";
    return workers.back();
  }

  /// Waits until the count of multi-event waits exceeds `before` (the
  /// worker waits again) or `result` is ready.
  bool BlockedAgain(long before, std::future<bool>& result) {
    return Eventually([&] { return engine.MultiEventWaits() > before || !StillWaiting(result); });
  }

  static bool Finishes(std::future<bool>& result) {
    return result.wait_for(kPatience) == std::future_status::ready;
  }

  static bool StillWaiting(std::future<bool>& result) {
    return result.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
  }

  TestModule module{"waiter"};
  DAXOEvent a, b, c;
  std::deque<std::future<bool>> workers;  // after the module: joined before it goes
};

TEST_F(ModuleWaits, EventWaitsWakeWhenAnotherThreadSetsTheEvent) {
  engine.StartClock();
  auto& untimed = StartBlocked([&] { return module.Wait4Event(a, -1); });
  a.Set();
  ASSERT_TRUE(Finishes(untimed));
  EXPECT_TRUE(untimed.get());

  auto& timed = StartBlocked([&] { return module.Wait4Event(&b, kHour); });
  b.Set();
  ASSERT_TRUE(Finishes(timed));
  EXPECT_TRUE(timed.get());

  DAXOEvent* events[3] = {&a, &b, &c};
  a.Reset();
  b.Reset();
  auto& several = StartBlocked([&] { return module.Wait4Events(3, events, kHour, true) == 2; });
  c.Set();
  ASSERT_TRUE(Finishes(several));
  EXPECT_TRUE(several.get()) << "the index of the event set";

  EXPECT_EQ(module.MsgWait4Events(3, events, -1, true), 2) << "the message-aware form too";

  // An event already set wins over a time-out that has already expired.
  EXPECT_EQ(module.Wait4Events(3, events, 0, true), 2);
  EXPECT_TRUE(module.Wait4Event(c, 0));
  EXPECT_FALSE(module.Wait4Event(a, 0));
}

TEST_F(ModuleWaits, EveryWaitThrowsModuleDiedWhenTheDieEventWakesIt) {
  engine.StartClock();
  DAXOEvent* events[1] = {&a};
  const std::function<void()> waits[] = {
      [&] { module.Wait4Event(a, -1); },
      [&] { module.Wait4Event(a, kHour); },
      [&] { module.Wait4Events(1, events, kHour, true); },
      [&] { module.MsgWait4Event(&a, -1); },
      [&] { module.Rest(kHour); },
      [&] { module.Wait(engine.Now() + kHour); },
      [&] { module.WaitForTimestamp(engine.Now() + kHour, &a, nullptr); },
  };
  for (std::size_t i = 0; i < std::size(waits); ++i) {
    module.Start();
    auto& dying = StartBlocked([&] { return Thrown(waits[i]) == DAXO::ModuleDied; });
    module.Die();
    ASSERT_TRUE(Finishes(dying)) << "wait #" << i;
    EXPECT_TRUE(dying.get()) << "wait #" << i;
  }
  // Already dying: no wait blocks at all.
  for (std::size_t i = 0; i < std::size(waits); ++i) {
    EXPECT_EQ(Thrown(waits[i]), DAXO::ModuleDied) << "wait #" << i;
  }
}

TEST_F(ModuleWaits, TimeOutsAndSleepsLastLongerAtHalfSpeed) {
  constexpr DAXODelay kEngineDelay = 100000;
  engine.SetClockSpeed(500);
  engine.StartClock();
  const std::function<bool()> waits[] = {
      [&] { return !module.Wait4Event(a, kEngineDelay); },
      [&] {
        DAXOEvent* events[2] = {&a, &b};
        return module.Wait4Events(2, events, kEngineDelay, true) == DAXO::TimeOut;
      },
      [&] { return module.Rest(kEngineDelay); },
      [&] { return module.Wait(engine.Now() + kEngineDelay); },
      [&] { return module.WaitForTimestamp(engine.Now() + kEngineDelay, nullptr, nullptr); },
  };
  for (std::size_t i = 0; i < std::size(waits); ++i) {
    const DAXOTimestamp engineStart = engine.Now();
    const auto start = Clock::now();
    EXPECT_TRUE(waits[i]()) << "wait #" << i;
    // Real time: twice the engine delay, less the truncation of a few µs.
    EXPECT_GE(MicrosSince(start), 2 * kEngineDelay - 1000) << "wait #" << i;
    EXPECT_LT(MicrosSince(start), kGenerous) << "wait #" << i;
    EXPECT_GE(engine.Now() - engineStart, kEngineDelay - 2) << "wait #" << i;
  }
}

TEST_F(ModuleWaits, TimestampsAlreadyPassedReturnAtOnceInEitherDirection) {
  engine.StartClock();
  engine.JumpClock(kHour);
  const long waitsBefore = engine.MultiEventWaits();
  bool changed = true;
  EXPECT_TRUE(module.WaitForTimestamp(engine.Now() - 1000, &a, &changed));
  EXPECT_FALSE(changed);
  EXPECT_TRUE(module.Wait(engine.Now() - 1000));
  EXPECT_TRUE(module.Rest(0));
  engine.SetClockSpeed(-1000);
  EXPECT_TRUE(DAXO::WaitForTimestamp(engine.Now() + kSecond, nullptr, nullptr));
  EXPECT_EQ(engine.MultiEventWaits(), waitsBefore) << "nothing waited";

  const DAXOTimestamp before = engine.Now();
  EXPECT_TRUE(module.Rest(50000)) << "rests follow the clock backwards";
  EXPECT_LE(engine.Now(), before - 50000 + 2);
}

TEST_F(ModuleWaits, PausedOrStoppedClockHoldsSleepsUntilTimeChanges) {
  // Not started: a stopped clock; starting it is the time change.
  bool changed = false;
  auto& stamp = StartBlocked([&] { return module.WaitForTimestamp(20000, nullptr, &changed); });
  EXPECT_TRUE(StillWaiting(stamp));
  engine.StartClock();
  ASSERT_TRUE(Finishes(stamp));
  EXPECT_TRUE(stamp.get());
  EXPECT_TRUE(changed);
  EXPECT_GE(engine.Now(), 20000);

  // Paused: neither Rest nor Wait ends until the clock resumes.
  engine.PauseClock();
  const DAXOTimestamp pausedAt = engine.Now();
  auto& rest = StartBlocked([&] { return module.Rest(20000); });
  auto& wait = StartBlocked([&] { return module.Wait(pausedAt + 20000); });
  EXPECT_TRUE(StillWaiting(rest));
  EXPECT_TRUE(StillWaiting(wait));
  engine.ResumeClock();
  ASSERT_TRUE(Finishes(rest));
  ASSERT_TRUE(Finishes(wait));
  EXPECT_TRUE(rest.get());
  EXPECT_TRUE(wait.get());
  EXPECT_GE(engine.Now(), pausedAt + 20000);
}

TEST_F(ModuleWaits, JumpsEndWaitsForTimestampsButNotRests) {
  engine.StartClock();
  const DAXOTimestamp target = engine.Now() + kHour;
  auto& wait = StartBlocked([&] { return module.Wait(target); });
  bool changed = false;
  auto& stamp = StartBlocked([&] { return module.WaitForTimestamp(target, nullptr, &changed); });
  auto& rest = StartBlocked([&] { return module.Rest(kHour, &a); });
  const long before = engine.MultiEventWaits();
  engine.JumpClock(target);
  ASSERT_TRUE(Finishes(wait));
  ASSERT_TRUE(Finishes(stamp));
  EXPECT_TRUE(wait.get());
  EXPECT_TRUE(stamp.get());
  EXPECT_TRUE(changed);
  // The jump is no engine time slept: the rest waits again, until cancelled.
  ASSERT_TRUE(BlockedAgain(before, rest));
  a.Set();
  ASSERT_TRUE(Finishes(rest));
  EXPECT_FALSE(rest.get());
}

TEST_F(ModuleWaits, CancelEventsEndSleepsWithFalseAndTheirIndex) {
  engine.StartClock();
  b.Set();
  DAXOEvent* events[3] = {&a, &b, &c};
  int which = -7;
  bool changed = true;
  EXPECT_FALSE(module.WaitForTimestamp(engine.Now() + kHour, 3, events, &which, &changed));
  EXPECT_EQ(which, 1) << "index among the caller's events, not counting the die event";
  EXPECT_FALSE(changed);
  which = -7;
  EXPECT_FALSE(DAXO::WaitForTimestamp(engine.Now() + kHour, 3, events, &which, nullptr));
  EXPECT_EQ(which, 1);
  EXPECT_FALSE(module.Rest(kHour, &b));
  EXPECT_FALSE(module.Wait(engine.Now() + kHour, &b));

  // While paused, cancels still end the sleeps.
  engine.PauseClock();
  EXPECT_FALSE(module.Rest(kHour, &b));
  EXPECT_FALSE(module.Wait(engine.Now() + kHour, &b));
  EXPECT_FALSE(module.WaitForTimestamp(engine.Now() + kHour, &b, nullptr));
}

TEST_F(ModuleWaits, OversizedWaitListsAreRefused) {
  engine.StartClock();
  std::unique_ptr<DAXOEvent[]> many(new DAXOEvent[256]);
  DAXOEvent* list[256];
  for (int i = 0; i < 256; ++i) list[i] = &many[i];

  ExpectError([&] { module.Wait4Events(255, list, -1, false); },
              "Wait4Events can't wait for more than 254 events simultaneously.");
  ExpectError([&] { module.MsgWait4Events(256, list, -1, false); },
              "MsgWait4Events can't wait for more than 255 events simultaneously.");
  // The die and time-change events take places in the same list.
  ExpectError([&] { module.Wait4Events(253, list, kHour, true); },
              "Wait4Events can't wait for more than 252 events simultaneously.");
  many[251].Set();
  EXPECT_EQ(module.Wait4Events(252, list, kHour, true), 251);

  reports->Clear();
  EXPECT_EQ(
      Thrown([&] { DAXO::WaitForTimestamp(engine.Now() + kHour, -1, list, nullptr, nullptr); }),
      DAXO::ModuleDied);
  EXPECT_TRUE(Reported("External : DAXO::WaitForTimestamp [line:*] [nbCancelEvents:-1] < 0"));
  EXPECT_EQ(
      Thrown([&] { module.WaitForTimestamp(engine.Now() + kHour, 252, list, nullptr, nullptr); }),
      DAXO::ModuleDied);
}

TEST_F(ModuleWaits, WithoutAnEngineWaitsRunOnRealTime) {
  // The module registered its names in the engine: unbound only around the
  // waits themselves.
  DAXOPrivate::kernel = nullptr;
  const auto start = Clock::now();
  EXPECT_FALSE(module.Wait4Event(a, 20000));
  EXPECT_TRUE(module.Rest(20000));
  EXPECT_TRUE(DAXO::WaitForTimestamp(DAXO::GetSystemAccurateTiming() + 20000, nullptr, nullptr));
  const long elapsed = MicrosSince(start);
  DAXOPrivate::kernel = engine.kernel();
  EXPECT_GE(elapsed, 60000 - 1000);
  EXPECT_LT(elapsed, kGenerous);
}

}  // namespace
}  // namespace velquor::test

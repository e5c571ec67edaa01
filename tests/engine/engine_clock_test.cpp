// The engine clock through the kernel: speed, pause, jumps and backwards
// time, observed by an engine-time waiter written the way the SDK waits.
#include <cstdlib>
#include <thread>

#include "daxo_package.h"
#include "daxo_services.h"
#include "daxo_timer.h"

#include "engine_test_support.h"

namespace velquor::test {
namespace {

using EngineClock = EngineTest;

// An engine-time wait for `target` on a thread of its own; `done` is set when
// it returns, `waiting` counts its enrolments on the time-change condition.
struct BackgroundWait {
  BackgroundWait(DAXOKernel* kernel, DAXOTimestamp target)
      : thread([this, kernel, target] {
          result = WaitForEngineTime(kernel, target, kGenerous, &waiting);
          done.Set();
        }) {}
  ~BackgroundWait() {
    if (thread.joinable()) thread.join();
  }
  Counter waiting;
  DAXOEvent done;
  EngineTimeWait result;
  std::thread thread;  // last: starts once the fields above exist
};

TEST_F(EngineClock, ReportsItsStateFromStoppedToRunningToPaused) {
  EXPECT_EQ(kernel()->TimeState(), 2);
  EXPECT_EQ(DAXOPrivate::GetAbsoluteTimeSpeed(), 0);
  EXPECT_EQ(kernel()->GetState() & 0x1, 0);
  engine.StartClock();
  EXPECT_EQ(kernel()->TimeState(), 0);
  EXPECT_EQ(DAXO::TimeSpeed(), 1000);
  EXPECT_EQ(DAXOPrivate::GetAbsoluteTimeSpeed(), 1000);
  EXPECT_EQ(kernel()->GetState() & 0x1, 0x1);
  EXPECT_TRUE(DAXO::Pause());
  EXPECT_TRUE(DAXO::IsPaused());
  EXPECT_EQ(kernel()->TimeState(), 1);
  EXPECT_EQ(DAXOPrivate::GetAbsoluteTimeSpeed(), 0) << "a paused clock does not move";
  EXPECT_EQ(kernel()->GetState() & 0x2, 0x2);
  EXPECT_TRUE(DAXO::Play());
  EXPECT_FALSE(DAXO::IsPaused());
  EXPECT_EQ(kernel()->TimeState(), 0);
}

TEST_F(EngineClock, AtDoubleSpeedAnEngineWaitTakesHalfTheRealTime) {
  engine.StartClock();
  ASSERT_TRUE(kernel()->SetTimeSpeed(2000));
  const DAXOTimestamp start = DAXO::GetSystemAccurateTiming();
  const EngineTimeWait wait =
      WaitForEngineTime(kernel(), kernel()->CurrentTime(true, true) + 400000, kGenerous);
  const DAXODelay real = DAXO::GetSystemAccurateTiming() - start;
  EXPECT_TRUE(wait.reached);
  EXPECT_GE(real, 150000);
  EXPECT_LE(real, 450000);
}

TEST_F(EngineClock, PauseHoldsTimeAndTheWaitUntilResumed) {
  engine.StartClock();
  // Far enough that a loaded machine cannot reach it before the pause.
  const DAXOTimestamp target = engine.Now() + 1500000;
  BackgroundWait wait(kernel(), target);
  ASSERT_TRUE(wait.waiting.WaitAtLeast(1));
  engine.PauseClock();
  // The pause woke the waiter; it is enrolled again, now without a timer.
  ASSERT_TRUE(wait.waiting.WaitAtLeast(2));
  const DAXOTimestamp held = engine.Now();
  EXPECT_EQ(wait.done.Wait(500000), DAXO::TimeOut);
  EXPECT_EQ(engine.Now(), held);
  EXPECT_LT(held, target);
  engine.ResumeClock();
  EXPECT_EQ(wait.done.Wait(kGenerous), 0);
  wait.thread.join();
  EXPECT_TRUE(wait.result.reached);
  EXPECT_GE(wait.result.timeChanges, 2);
  EXPECT_GE(engine.Now(), target);
}

TEST_F(EngineClock, AJumpWakesAWaiterToReevaluate) {
  engine.StartClock();
  const DAXOTimestamp target = engine.Now() + 3600 * kSecond;
  BackgroundWait wait(kernel(), target);
  ASSERT_TRUE(wait.waiting.WaitAtLeast(1));
  ASSERT_TRUE(kernel()->SetCurrentTime(target + kSecond));
  EXPECT_EQ(wait.done.Wait(kGenerous), 0);
  wait.thread.join();
  EXPECT_TRUE(wait.result.reached);
  EXPECT_EQ(wait.result.timeChanges, 1);
  EXPECT_GE(kernel()->TimeReference(), target + kSecond);
}

TEST_F(EngineClock, SpeedZeroHoldsTimeAndNegativeSpeedRunsBackwards) {
  engine.StartClock();
  engine.JumpClock(50 * kSecond);
  engine.SetClockSpeed(0);
  const DAXOTimestamp held = engine.Now();
  DAXOEvent never;
  EXPECT_EQ(never.Wait(20000), DAXO::TimeOut);
  EXPECT_EQ(DAXO::CurrentTime(), held);
  EXPECT_EQ(DAXO::TimeSpeed(), 0);
  EXPECT_EQ(kernel()->GetAbsoluteTimeSpeed(), 0);

  EXPECT_TRUE(DAXO::SetTimeSpeed(-1000));
  EXPECT_EQ(kernel()->TimeSpeed(), -1000);
  const DAXOTimestamp before = engine.Now();
  const EngineTimeWait wait = WaitForEngineTime(kernel(), before - 100000, kGenerous);
  EXPECT_TRUE(wait.reached);
  EXPECT_LE(engine.Now(), before - 100000);
}

TEST_F(EngineClock, TimersAndStopwatchesUseTheKernelsSystemTime) {
  // The engine's system time is offset from the monotonic clock, so a reading
  // of the wrong clock falls far outside these brackets.
  const DAXOTimestamp before = kernel()->GetSystemAccurateTiming();
  const DAXOTimestamp seen = DAXO::GetSystemAccurateTiming();
  DAXOTimer stopwatch;
  stopwatch.Start();
  DAXOEvent never;
  EXPECT_EQ(never.Wait(20000), DAXO::TimeOut);
  stopwatch.Stop();
  const DAXOTimestamp after = kernel()->GetSystemAccurateTiming();
  EXPECT_GE(seen, before);
  EXPECT_LE(seen, after);
  EXPECT_GE(stopwatch.Time(), 20000);
  EXPECT_LE(stopwatch.Time(), after - before);

  // Started on the kernel's clock: read without a kernel, the running
  // interval is measured against the other clock and is absurd.
  stopwatch.Reset();
  stopwatch.Start();
  DAXOPrivate::kernel = nullptr;
  const DAXODelay unbound = stopwatch.Time();
  DAXOPrivate::kernel = engine.kernel();
  const DAXODelay bound = stopwatch.Time();
  EXPECT_GE(bound, 0);
  EXPECT_LT(bound, kGenerous);
  EXPECT_GT(std::abs(unbound - bound), 1000 * kSecond);
}

}  // namespace
}  // namespace velquor::test

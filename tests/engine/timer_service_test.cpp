// Event triggers and multi-event waits through the engine bound as this
// executable's kernel: DAXOEvent::SetTrigger / ResetTrigger / Wait(n, ...)
// reach the engine's timer service and WaitForEvents.
#include <algorithm>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "engine_test_support.h"

namespace velquor::test {
namespace {

using TimerService = EngineTest;

TEST_F(TimerService, FiresArmedEventsInDeadlineOrderAndNeverEarly) {
  constexpr int kEvents = 24;
  std::vector<std::unique_ptr<DAXOEvent>> events;
  // Each deadline lies in [earliest, latest]: the trigger reads the clock
  // between the two readings.
  std::vector<DAXOTimestamp> earliest(kEvents), latest(kEvents);
  std::vector<DAXODelay> delays(kEvents);
  for (int i = 0; i < kEvents; ++i) delays[i] = 20000 + i * 8000;
  std::mt19937 random(7);
  std::shuffle(delays.begin(), delays.end(), random);
  for (int i = 0; i < kEvents; ++i) {
    events.push_back(std::make_unique<DAXOEvent>(true));
    earliest[i] = DAXO::GetSystemAccurateTiming() + delays[i];
    ASSERT_TRUE(events[i]->SetTrigger(delays[i]));
    latest[i] = DAXO::GetSystemAccurateTiming() + delays[i];
    EXPECT_FALSE(events[i]->State()) << "SetTrigger resets the event";
    EXPECT_TRUE(DAXOPrivate::EventIsInTimerList(events[i].get()));
  }
  EXPECT_EQ(engine.ArmedTriggers(), static_cast<std::size_t>(kEvents));

  std::vector<int> pending(kEvents);
  std::iota(pending.begin(), pending.end(), 0);
  while (!pending.empty()) {
    std::vector<DAXOEvent*> waitOn;
    for (int i : pending) waitOn.push_back(events[i].get());
    const int found = DAXOEvent::Wait(static_cast<int>(waitOn.size()), waitOn.data(), kGenerous);
    ASSERT_GE(found, 0);
    const DAXOTimestamp now = DAXO::GetSystemAccurateTiming();
    const int fired = pending[found];
    EXPECT_GE(now, earliest[fired]) << "event " << fired << " fired early";
    EXPECT_FALSE(DAXOPrivate::EventIsInTimerList(events[fired].get()));
    // Fired in order: every event due before it is already set.
    for (int other : pending) {
      if (latest[other] < earliest[fired]) {
        EXPECT_TRUE(events[other]->State()) << other << " due before " << fired;
      }
    }
    pending.erase(pending.begin() + found);
  }
  EXPECT_EQ(engine.ArmedTriggers(), 0u);
  EXPECT_GE(engine.MultiEventWaits(), kEvents);
}

// Re-arming replaces the deadline (the event is armed once); reset and
// destruction take a trigger out of the service; a delay past the end of
// time is kept armed, never fired (nor wrapped round into the past).
TEST_F(TimerService, ReArmingReplacesTheDeadlineAndResetOrDestructionDisarms) {
  DAXOEvent early, late, reset, endless;
  auto destroyed = std::make_unique<DAXOEvent>();
  ASSERT_TRUE(early.SetTrigger(3600 * kSecond));
  ASSERT_TRUE(early.SetTrigger(10000));
  ASSERT_TRUE(late.SetTrigger(10000));
  ASSERT_TRUE(late.SetTrigger(3600 * kSecond));
  ASSERT_TRUE(reset.SetTrigger(30000));
  ASSERT_TRUE(destroyed->SetTrigger(3600 * kSecond));
  ASSERT_TRUE(endless.SetTrigger(std::numeric_limits<DAXODelay>::max()));
  EXPECT_EQ(engine.ArmedTriggers(), 5u);
  reset.ResetTrigger();
  destroyed.reset();
  EXPECT_FALSE(DAXOPrivate::EventIsInTimerList(&reset));
  EXPECT_EQ(engine.ArmedTriggers(), 3u);

  EXPECT_EQ(early.Wait(kGenerous), 0);
  DAXOEvent* quiet[3] = {&late, &reset, &endless};
  EXPECT_EQ(DAXOEvent::Wait(3, quiet, 400000), DAXO::TimeOut);
  EXPECT_TRUE(DAXOPrivate::EventIsInTimerList(&late));
  late.ResetTrigger();
  endless.ResetTrigger();
  EXPECT_EQ(engine.ArmedTriggers(), 0u);
}

TEST_F(TimerService, DestroyingArmedEventsIsSafeWhileTheyFire) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> delay(0, 300);
  for (int round = 0; round < 500; ++round) {
    auto event = std::make_unique<DAXOEvent>();
    ASSERT_TRUE(event->SetTrigger(delay(random)));
    if (round % 3 == 0) event->Wait(delay(random));
    event.reset();  // races with the firing on purpose
  }
  EXPECT_EQ(engine.ArmedTriggers(), 0u);
  // The service still works after all those drops.
  DAXOEvent last;
  ASSERT_TRUE(last.SetTrigger(1000));
  EXPECT_EQ(last.Wait(kGenerous), 0);
}

TEST_F(TimerService, ReArmingWhileTheEarlierTriggerFiresKeepsTheNewOne) {
  // The earlier trigger fires at about the moment it is replaced: it must
  // neither set the event after the re-arming reset it, nor leave the new
  // arming unmarked (the destructor would then not drop it, and the service
  // would later fire a destroyed event).
  std::mt19937 random(5);
  std::uniform_int_distribution<int> delay(0, 40);
  for (int round = 0; round < 500; ++round) {
    auto event = std::make_unique<DAXOEvent>();
    ASSERT_TRUE(event->SetTrigger(delay(random)));
    ASSERT_TRUE(event->SetTrigger(3600 * kSecond));
    EXPECT_FALSE(event->State()) << "a stale trigger set the re-armed event";
    EXPECT_TRUE(DAXOPrivate::EventIsInTimerList(event.get()));
    event.reset();
  }
  EXPECT_EQ(engine.ArmedTriggers(), 0u);
}

TEST_F(TimerService, ATriggerArmedFromManyThreadsFiresEach) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 50;
  std::vector<std::thread> threads;
  Counter fired;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kPerThread; ++i) {
        DAXOEvent event;
        if (event.SetTrigger(i % 5 * 100) && event.Wait(kGenerous) == 0) fired.Raise();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(fired.Value(), kThreads * kPerThread);
}

using MultiEventWait = EngineTest;

TEST_F(MultiEventWait, AnswersTheLowestSetIndexOrTimeOut) {
  DAXOEvent a, b, c;
  DAXOEvent* events[3] = {&a, &b, &c};
  EXPECT_EQ(kernel()->WaitForEvents(3, events, 20000, false), DAXO::TimeOut);
  c.Set();
  b.Set();
  const long before = engine.MultiEventWaits();
  EXPECT_EQ(DAXOEvent::Wait(3, events, 0), 1);
  EXPECT_EQ(DAXOEvent::MsgWait(3, events, 0), 1);
  EXPECT_EQ(engine.MultiEventWaits(), before + 2) << "both waits reach the kernel";
  EXPECT_EQ(DAXOEvent::Wait(0, events, 0), -4);
}

TEST_F(MultiEventWait, WakesWhenAnotherThreadSetsOneEvent) {
  DAXOEvent a, b;
  DAXOEvent* events[2] = {&a, &b};
  std::thread setter([&] { b.Set(); });
  EXPECT_EQ(DAXOEvent::Wait(2, events, kGenerous), 1);
  setter.join();
}

}  // namespace
}  // namespace velquor::test

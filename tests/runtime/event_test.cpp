// DAXOEvent and DAXOEventBasic: manual-reset semantics, single and
// multi-event waits across threads, time-outs, no lost wake-ups, triggers
// without an engine; and DAXOTimer on the system clock, whose time passes by
// waiting on an event that is never set.
#include "daxo_event.h"

#include <type_traits>

#include "daxo_kernel.h"
#include "daxo_timer.h"
#include "runtime_test_support.h"

namespace {

using daxo_test::Elapsed;
using daxo_test::kPatience;
using daxo_test::WaitWokenBy;

// The single-event rules, which DAXOEventBasic shares with DAXOEvent.
template <class Event>
class SingleEvent : public ::testing::Test {};
using EventTypes = ::testing::Types<DAXOEvent, DAXOEventBasic>;
TYPED_TEST_SUITE(SingleEvent, EventTypes);

TYPED_TEST(SingleEvent, IsManualResetWaitZeroOnlyLooksAndSetWakesWaitersInOtherThreads) {
  constexpr bool kHasState = std::is_same_v<TypeParam, DAXOEvent>;
  TypeParam event;
  EXPECT_EQ(event.Wait(0), DAXO::TimeOut);
  event.Set();
  event.Set();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(event.Wait(0), 0) << "waits do not consume a set event";
  if constexpr (kHasState) {
    EXPECT_TRUE(event.State());
  }
  event.Reset();
  if constexpr (kHasState) {
    EXPECT_FALSE(event.State());
  }
  EXPECT_EQ(event.Wait(0), DAXO::TimeOut);
  EXPECT_EQ(event.Wait(20'000), DAXO::TimeOut) << "one Reset clears any number of Sets";
  EXPECT_EQ(TypeParam(true).Wait(0), 0);

  std::atomic<int> forever{-1};
  std::thread other([&] { forever = event.Wait(-1); });
  EXPECT_EQ(WaitWokenBy([&] { return event.Wait(kPatience); }, [&] { event.Set(); }), 0);
  other.join();
  EXPECT_EQ(forever, 0);
}

TEST(DAXOEvent, SingleAndMultiWaitsTimeOutAfterRoughlyTheTimeout) {
  DAXOEvent e0, e1;
  DAXOEvent* events[] = {&e0, &e1};
  EXPECT_EQ(DAXOEvent::Wait(2, events, 0), DAXO::TimeOut);
  for (long elapsed : {Elapsed([&] { EXPECT_EQ(e0.Wait(60'000), DAXO::TimeOut); }), Elapsed([&] {
                         EXPECT_EQ(DAXOEvent::Wait(2, events, 60'000), DAXO::TimeOut);
                       })}) {
    EXPECT_GE(elapsed, 60'000);
    EXPECT_LT(elapsed, 5'000'000);
  }
  e1.Set();
  EXPECT_FALSE(e0.State()) << "a time-out changes no state";
}

TEST(DAXOEventMultiWait, ReturnsTheLowestIndexFoundSet) {
  DAXOEvent e0, e1, e2, e3;
  DAXOEvent* events[] = {&e0, &e1, &e2, &e3};
  e3.Set();
  e2.Set();
  EXPECT_EQ(DAXOEvent::Wait(4, events, 0), 2);
  EXPECT_EQ(DAXOEvent::Wait(4, events, kPatience), 2);
  EXPECT_EQ(DAXOEvent::Wait(4, events, -1), 2);
  e0.Set();
  EXPECT_EQ(DAXOEvent::Wait(4, events, kPatience), 0);
}

TEST(DAXOEventMultiWait, RejectsBadArguments) {
  DAXOEvent e;
  std::vector<DAXOEvent*> many(255, &e);
  EXPECT_EQ(DAXOEvent::Wait(0, many.data(), 0), DAXO::FatalKernelError);
  EXPECT_EQ(DAXOEvent::Wait(255, many.data(), 0), DAXO::FatalKernelError);
  EXPECT_EQ(DAXOEvent::Wait(1, nullptr, 0), DAXO::FatalKernelError);
  DAXOEvent* withNull[] = {&e, nullptr};
  EXPECT_EQ(DAXOEvent::Wait(2, withNull, 0), DAXO::FatalKernelError);
  e.Set();
  EXPECT_EQ(DAXOEvent::Wait(254, many.data(), 0), 0) << "254 events are allowed";
}

TEST(DAXOEventMultiWait, WakesForALaterEventSetByAnotherThreadEvenWithAnEventListedTwice) {
  // The waiter is registered once per distinct event; registering it twice
  // would make Set lock its (non-recursive) mutex twice.
  DAXOEvent a, b;
  DAXOEvent* events[] = {&a, &a, &b};
  for (int round = 0; round < 2; ++round) {
    DAXOEvent* const wake = round == 0 ? &b : &a;
    EXPECT_EQ(
        WaitWokenBy([&] { return DAXOEvent::Wait(3, events, kPatience); }, [&] { wake->Set(); }),
        round == 0 ? 2 : 0);
    b.Reset();
  }
}

TEST(DAXOEventMultiWait, AFinishedWaitLeavesNothingBehindInTheEvents) {
  // After a wait returns its waiting-thread record is gone; a later Set must
  // not touch it (AddressSanitizer reports it if it does).
  DAXOEvent a, b;
  DAXOEvent* events[] = {&a, &b};
  EXPECT_EQ(DAXOEvent::Wait(2, events, 1000), DAXO::TimeOut);
  std::thread([&] { EXPECT_EQ(DAXOEvent::Wait(2, events, 1000), DAXO::TimeOut); }).join();
  a.Set();
  b.Set();
  EXPECT_EQ(DAXOEvent::Wait(2, events, 0), 0);
}

TEST(DAXOEventMultiWait, PingPongBetweenManyPairsLosesNoWakeUp) {
  // Each pair hands a token back and forth through two events, waiting
  // together with a stop event that is only set on failure. A lost wake-up
  // shows as a time-out.
  constexpr int kPairs = 4;
  constexpr int kRounds = 500;
  DAXOEvent stop;
  std::atomic<int> failures{0};
  struct Pair {
    DAXOEvent ping, pong;
  } pairs[kPairs];
  auto expectOne = [&](DAXOEvent* event) {
    DAXOEvent* events[] = {&stop, event};
    if (DAXOEvent::Wait(2, events, kPatience) == 1) return true;
    ++failures;
    stop.Set();
    return false;
  };
  daxo_test::ThreadGroup(2 * kPairs, [&](int t) {
    Pair& p = pairs[t / 2];
    // Even threads serve, odd ones answer.
    DAXOEvent& mine = t % 2 ? p.ping : p.pong;
    DAXOEvent& theirs = t % 2 ? p.pong : p.ping;
    for (int r = 0; r < kRounds; ++r) {
      if (t % 2 == 0) theirs.Set();
      if (!expectOne(&mine)) return;
      mine.Reset();
      if (t % 2) theirs.Set();
    }
  }).Join();
  EXPECT_EQ(failures, 0);
}

TEST(DAXOEventMultiWait, ConcurrentSetsOfEventsSharingWaitersDoNotDeadlock) {
  // Waiters register in {a, b} and {b, a} order, so the two events list the
  // same waiters in different orders while both are set concurrently. The
  // crossing mostly happens while the waiters register together, right after
  // the start barrier, hence many short bursts rather than one long run.
  constexpr int kBursts = 60;
  constexpr int kWaiters = 10;
  constexpr int kWaits = 50;
  std::atomic<int> bad{0};
  for (int burst = 0; burst < kBursts; ++burst) {
    DAXOEvent a, b;
    std::atomic<int> waitersLeft{kWaiters};
    daxo_test::ThreadGroup group;
    for (int w = 0; w < kWaiters; ++w) {
      group.Add([&, w] {
        DAXOEvent* ab[] = {&a, &b};
        DAXOEvent* ba[] = {&b, &a};
        for (int i = 0; i < kWaits; ++i) {
          const int r = DAXOEvent::Wait(2, w % 2 ? ab : ba, kPatience);
          if (r != 0 && r != 1) ++bad;
        }
        --waitersLeft;
      });
    }
    for (DAXOEvent* e : {&a, &b}) {
      group.Add([e, &waitersLeft] {
        while (waitersLeft > 0) {
          e->Set();
          e->Reset();
        }
      });
    }
    group.Join();
  }
  EXPECT_EQ(bad, 0);
}

TEST(DAXOEventTrigger, WithoutAKernelNothingIsArmed) {
  ASSERT_EQ(DAXOPrivate::kernel, nullptr);
  DAXOEvent event(true);
  EXPECT_TRUE(event.SetTrigger(10));
  EXPECT_FALSE(event.State());
  EXPECT_FALSE(DAXOPrivate::EventIsInTimerList(&event));
  event.ResetTrigger();
}

TEST(DAXOMemcpy, CopiesThenSignalsTheEvent) {
  const char source[] = "payload";
  char target[sizeof source] = {}, other[sizeof source] = {};
  DAXOEvent done;
  EXPECT_EQ(DAXO::Memcpy(target, source, static_cast<long>(sizeof source), &done), target);
  EXPECT_TRUE(done.State());
  EXPECT_EQ(DAXO::Memcpy(other, source, static_cast<long>(sizeof source), nullptr), other);
  EXPECT_TRUE(std::string(target) == "payload" && std::string(other) == "payload");
}

// Lets at least `us` microseconds of system time pass.
void Elapse(DAXODelay us) {
  DAXOEvent never;
  ASSERT_EQ(never.Wait(us), DAXO::TimeOut);
}

TEST(DAXOTimer, AccumulatesOnlyWhileRunningUntilReset) {
  DAXOTimer timer;
  EXPECT_EQ(timer.Time(), 0);
  timer.Start();
  Elapse(20'000);
  timer.Stop();
  const DAXOTimestamp first = timer.Time();
  EXPECT_GE(first, 20'000);
  EXPECT_LT(first, 5'000'000);

  Elapse(20'000);
  EXPECT_EQ(timer.Time(), first) << "a stopped timer does not move";
  timer.Stop();
  EXPECT_EQ(timer.Time(), first) << "a second Stop adds nothing";

  timer.Start();
  Elapse(10'000);
  EXPECT_GE(timer.Time(), first + 10'000) << "a running timer counts up to now";
  timer.Stop();
  EXPECT_GE(timer.Time(), first + 10'000) << "Stop adds to what was accumulated";

  timer.Start();
  timer.Reset();  // clears and stops
  EXPECT_EQ(timer.Time(), 0);
  Elapse(5'000);
  EXPECT_EQ(timer.Time(), 0);
  timer.Stop();
  EXPECT_EQ(timer.Time(), 0);
}

}  // namespace

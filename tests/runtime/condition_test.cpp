// DAXOCondition and DAXOCondition2: who is woken by Signal, abort and time-out
// failures (thrown after releasing the protecting mutex), the split
// WaitX/AchieveWaitX protocol.
#include "daxo_condition.h"

#include "runtime_test_support.h"

namespace {

using daxo_test::kPatience;
using daxo_test::Thrown;

class ProbedCondition : public DAXOCondition {
 public:
  using DAXOCondition::DAXOCondition;
  int PoolSize() const { return m_pool.Length(); }
};

class DAXOConditionTest : public ::testing::Test {
 protected:
  /// True when the mutex is free (the caller must not hold it).
  bool MutexIsFree() {
    if (!mutex.TryLock()) return false;
    mutex.Release();
    return true;
  }
  /// What a wait throws (0 for none) when called with the mutex held. A
  /// failed wait must have released the mutex.
  template <class F>
  int LockedWaitThrows(F wait) {
    mutex.Lock();
    const int thrown = Thrown(wait);
    EXPECT_TRUE(thrown == 0 || MutexIsFree()) << "a failed wait keeps the mutex";
    return thrown;
  }
  /// Runs `wait` on another thread with the mutex held and, once it waits
  /// (it lets go of the mutex only inside the wait), `act` under the mutex.
  /// Returns what the wait threw (0 for none).
  template <class Wait, class Act>
  int WokenBy(Wait wait, Act act) {
    return daxo_test::WokenBy(
        [&](DAXOEvent& ready) {
          mutex.Lock();
          ready.Set();
          const int thrown = Thrown(wait);
          if (thrown == 0) mutex.Release();
          return thrown;
        },
        [&] { Locked(act); });
  }
  /// Runs `act` with the mutex held.
  template <class Act>
  void Locked(Act act) {
    mutex.Lock();
    act();
    mutex.Release();
  }

  DAXOMutex mutex;
  DAXOEvent abort;
};

TEST_F(DAXOConditionTest, SignalWakesEveryThreadWaitingAtThatMoment) {
  constexpr int kWaiters = 4;
  ProbedCondition cond(&mutex, &abort, kPatience);
  int enrolled = 0;  // guarded by mutex
  DAXOEvent allEnrolled;
  std::atomic<int> woke{0};
  std::atomic<int> failures{0};
  daxo_test::ThreadGroup group(kWaiters, [&](int) {
    mutex.Lock();
    if (++enrolled == kWaiters) allEnrolled.Set();
    if (Thrown([&] { cond.Wait(); }) != 0) {
      ++failures;
      return;
    }
    ++woke;
    mutex.Release();
  });
  group.Start();
  ASSERT_EQ(allEnrolled.Wait(kPatience), 0);
  // Each waiter only lets go of the mutex inside Wait, so holding it now
  // means all of them are enrolled.
  mutex.Lock();
  EXPECT_EQ(cond.PoolSize(), kWaiters);
  cond.Signal();
  mutex.Release();
  group.Join();
  EXPECT_EQ(woke, kWaiters);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(cond.PoolSize(), kWaiters) << "the pool only grows to the peak of waiters";
}

TEST_F(DAXOConditionTest, ARecycledPoolEventCarriesNoOldSignalNorGrowsThePool) {
  ProbedCondition cond(&mutex, &abort, 30'000);
  mutex.Lock();
  DAXOEvent* event = nullptr;
  void* handle = cond.WaitX(&event);
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(MutexIsFree()) << "WaitX returns with the mutex released";
  std::thread([&] { Locked([&] { cond.Signal(); }); }).join();
  EXPECT_EQ(event->Wait(0), 0);
  cond.AchieveWaitX(handle);
  EXPECT_FALSE(MutexIsFree()) << "AchieveWaitX returns with the mutex held";
  mutex.Release();

  // The same pool item is lent again; its event was set by the last Signal
  // and must not end these waits at once.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(LockedWaitThrows([&] { cond.Wait(); }), DAXO::TimeOut);
  EXPECT_EQ(cond.PoolSize(), 1);
}

TEST_F(DAXOConditionTest, AbortThrowsModuleDiedFromEveryWaitUnlessThereIsNoAbortEvent) {
  DAXOCondition cond(&mutex, &abort, kPatience);
  EXPECT_EQ(WokenBy([&] { cond.Wait(); }, [&] { cond.Abort(); }), DAXO::ModuleDied);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(LockedWaitThrows([&] { cond.Wait(); }), DAXO::ModuleDied) << "the abort stays set";
  }

  DAXOCondition unabortable(&mutex, nullptr, 1000);
  unabortable.Abort();
  EXPECT_EQ(LockedWaitThrows([&] { unabortable.Wait(); }), DAXO::TimeOut);
}

class DAXOCondition2Test : public DAXOConditionTest {};

TEST_F(DAXOCondition2Test, SubscribersAreNumberedUpTo32) {
  DAXOCondition2 cond(&mutex, &abort, 1000);
  EXPECT_EQ(cond.Subscribe(), 0);
  EXPECT_EQ(cond.Subscribe(), 1);
  cond.Subscribe(5);
  EXPECT_EQ(cond.Subscribe(), 6);
  cond.Subscribe(3);  // a number skipped above
  EXPECT_EQ(LockedWaitThrows([&] { cond.Wait(3); }), DAXO::TimeOut);
  EXPECT_EQ(LockedWaitThrows([&] { cond.Wait(4); }), DAXO::FatalKernelError) << "never subscribed";
  EXPECT_EQ(LockedWaitThrows([&] { cond.Wait(7); }), DAXO::FatalKernelError) << "beyond the last";
  for (int expected = 7; expected < 32; ++expected) EXPECT_EQ(cond.Subscribe(), expected);
  EXPECT_EQ(cond.Subscribe(), -1);
  cond.Subscribe(32);
  EXPECT_EQ(cond.Subscribe(), -1);
}

TEST_F(DAXOCondition2Test, SignalWakesOnlySubscribersMarkedWaiting) {
  DAXOCondition2 cond(&mutex, &abort, static_cast<int>(kPatience));
  const int reader = cond.Subscribe();
  const int idle = cond.Subscribe();
  mutex.Lock();
  DAXOEvent* idleEvent = nullptr;
  DAXOEvent* abortEvent = nullptr;
  cond.WaitX(idle, &idleEvent, &abortEvent);
  cond.AbortWaitX(idle);
  EXPECT_FALSE(MutexIsFree()) << "AbortWaitX returns with the mutex held";
  mutex.Release();

  EXPECT_EQ(WokenBy([&] { cond.Wait(reader); }, [&] { cond.Signal(); }), 0);
  EXPECT_FALSE(idleEvent->State()) << "a subscriber that is not waiting is not signalled";
}

TEST_F(DAXOCondition2Test, WaitXHandsOverTheWaitToTheCaller) {
  DAXOCondition2 cond(&mutex, &abort, static_cast<int>(kPatience));
  const int id = cond.Subscribe();
  DAXOEvent* event = nullptr;
  DAXOEvent* abortEvent = nullptr;

  mutex.Lock();
  cond.WaitX(id, &event, &abortEvent);
  EXPECT_EQ(abortEvent, &abort);
  EXPECT_TRUE(MutexIsFree());
  // A Signal between WaitX and the caller's own wait is not lost.
  std::thread([&] { Locked([&] { cond.Signal(); }); }).join();
  DAXOEvent* events[] = {event, abortEvent};
  EXPECT_EQ(DAXOEvent::Wait(2, events, kPatience), 0);
  cond.AchieveWaitX(id, 0);
  EXPECT_FALSE(MutexIsFree());
  mutex.Release();

  mutex.Lock();
  cond.WaitX(id, &event, &abortEvent);
  EXPECT_EQ(event->Wait(0), DAXO::TimeOut) << "WaitX starts from a reset event";
  EXPECT_EQ(Thrown([&] { cond.AchieveWaitX(id, 1); }), DAXO::ModuleDied);
  EXPECT_TRUE(MutexIsFree());

  mutex.Lock();
  cond.WaitX(id, &event, &abortEvent);
  EXPECT_EQ(Thrown([&] { cond.AchieveWaitX(id, DAXO::TimeOut); }), DAXO::FatalKernelError);
  EXPECT_TRUE(MutexIsFree());
}

TEST_F(DAXOCondition2Test, CutConnectionAbortsBlockedAndLaterWaits) {
  DAXOCondition2 cond(&mutex, &abort, 1000);
  const int id = cond.Subscribe();
  EXPECT_EQ(LockedWaitThrows([&] { cond.Wait(id); }), DAXO::TimeOut);

  DAXOCondition2 patient(&mutex, &abort, -1);
  const int reader = patient.Subscribe();
  EXPECT_EQ(WokenBy([&] { patient.Wait(reader); }, [&] { patient.CutConnection(); }),
            DAXO::ModuleDied);
  EXPECT_EQ(LockedWaitThrows([&] { cond.Wait(id); }), DAXO::ModuleDied);
}

}  // namespace

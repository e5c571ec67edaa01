// DAXOMutex, DAXOMutex2 and DAXOMutexGuard: exclusion across threads,
// recursion of DAXOMutex2, guard bookkeeping.
#include "daxo_mutex.h"

#include "runtime_test_support.h"

namespace {

using daxo_test::kPatience;

/// Runs `fn` on another thread and returns its answer.
template <class F>
bool FromOtherThread(F fn) {
  bool result = false;
  std::thread([&] { result = fn(); }).join();
  return result;
}

template <class Mutex>
bool OtherThreadCanTake(Mutex& m) {
  return FromOtherThread([&] {
    if (!m.TryLock()) return false;
    m.Release();
    return true;
  });
}

TEST(DAXOMutex, TryLockFailsOnlyWhileTheMutexIsHeld) {
  DAXOMutex m;
  EXPECT_TRUE(OtherThreadCanTake(m));
  m.Lock();
  EXPECT_FALSE(OtherThreadCanTake(m));
  EXPECT_FALSE(m.TryLock()) << "a plain mutex is not recursive";
  m.Release();
  EXPECT_TRUE(OtherThreadCanTake(m));
#if !defined(__SANITIZE_THREAD__)
  // ThreadSanitizer rightly objects to destroying a held mutex, which is
  // what Reset is for.
  m.Lock();
  m.Reset();
  EXPECT_TRUE(OtherThreadCanTake(m)) << "Reset forgets the holder";
#endif
}

TEST(DAXOMutex2, NestedLocksKeepOtherThreadsOutUntilTheLastReleaseAndReleaseAllHandsBackTheDepth) {
  DAXOMutex2 m;
  m.Release();  // unmatched: ignored
  m.Lock();
  m.Lock();
  EXPECT_TRUE(m.TryLock()) << "the owner may always deepen its hold";
  EXPECT_TRUE(FromOtherThread([&] { return m.ReleaseAll() == 0; })) << "not the owner's";
  EXPECT_FALSE(OtherThreadCanTake(m));

  const int depth = m.ReleaseAll();
  ASSERT_EQ(depth, 3);
  EXPECT_TRUE(OtherThreadCanTake(m));
  for (int i = 0; i < depth; ++i) m.Lock();
  m.Release();
  m.Release();
  EXPECT_FALSE(OtherThreadCanTake(m)) << "restored to depth 3, released twice";
  m.Release();
  EXPECT_TRUE(OtherThreadCanTake(m));
  EXPECT_EQ(m.ReleaseAll(), 0);
}

TEST(DAXOMutex2, LockInAnotherThreadBlocksUntilTheOwnerReleasesFully) {
  DAXOMutex2 m;
  DAXOEvent acquired;
  m.Lock();
  m.Lock();
  daxo_test::WaitWokenBy(
      [&] {
        m.Lock();
        acquired.Set();
        m.Release();
        return 0;
      },
      [&] {
        m.Release();
        // Only a negative check can be made here: the other thread must not
        // get in while one level is still held.
        EXPECT_EQ(acquired.Wait(50'000), DAXO::TimeOut);
        m.Release();
        EXPECT_EQ(acquired.Wait(kPatience), 0);
      });
}

TEST(DAXOMutex2, ExcludesConcurrentNestedWriters) {
  DAXOMutex2 m;
  long counter = 0;  // deliberately unsynchronised but for the mutex
  constexpr int kThreads = 6;
  constexpr int kRounds = 2000;
  daxo_test::ThreadGroup(kThreads, [&](int) {
    for (int i = 0; i < kRounds; ++i) {
      m.Lock();
      if (i % 2 == 0) {
        m.Lock();
        counter = counter + 1;
        m.Release();
      } else if (m.TryLock()) {
        counter = counter + 1;
        m.Release();
      }
      m.Release();
    }
  }).Join();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
}

TEST(DAXOMutexGuard, UnlockAndRelockReportWhetherTheyChangedAnything) {
  DAXOMutex m;
  {
    DAXOMutexGuard guard(m);
    EXPECT_FALSE(OtherThreadCanTake(m));
    EXPECT_FALSE(guard.relock());
    EXPECT_TRUE(guard.unlock());
    EXPECT_TRUE(OtherThreadCanTake(m));
    EXPECT_FALSE(guard.unlock());
    EXPECT_TRUE(guard.relock());
    EXPECT_FALSE(OtherThreadCanTake(m));
  }
  EXPECT_TRUE(OtherThreadCanTake(m)) << "the destructor releases a guard still locked";
  DAXOMutexGuard(m).unlock();
  EXPECT_TRUE(m.TryLock()) << "the destructor must not release twice";
  m.Release();
}

TEST(DAXOMutexGuard, OverARecursiveMutexReleasesOnlyItsOwnLevel) {
  DAXOMutex2 m;
  m.Lock();
  {
    DAXOMutexGuard guard(m);
    EXPECT_TRUE(guard.unlock());
    EXPECT_FALSE(OtherThreadCanTake(m)) << "the outer Lock still holds it";
    EXPECT_FALSE(guard.unlock());
    EXPECT_TRUE(guard.relock());
  }
  EXPECT_FALSE(OtherThreadCanTake(m));
  m.Release();
  EXPECT_TRUE(OtherThreadCanTake(m));
}

}  // namespace

// DAXOTimer on the system clock (no engine bound): accumulation across
// Start/Stop, the running interval, Reset. Time passes by waiting on an event
// that is never set, so the bounds below carry generous slack.
#include "daxo_timer.h"

#include <gtest/gtest.h>

#include "daxo_event.h"

namespace {

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

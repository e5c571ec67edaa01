// The threads of a component in the real engine: its main thread and its
// extra thread are listed while they run, so "contextSwitches" and "CPULoad"
// measure them and "processor" pins them; once the component died the list
// is empty. Reads and processor changes racing with threads that start and
// end must stay safe (this executable runs under ThreadSanitizer too).
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "daxo_component.h"
#include "engine_test_support.h"
#include "thread_stats_pck_probe.h"

namespace velquor::test {
namespace {

constexpr long kMillisecond = 1'000'000;  // ns

class ThreadStatistics : public EngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_THREAD_STATS_PCK));
    ASSERT_NE(probe = ThreadStatsProbe(VELQUOR_THREAD_STATS_PCK), nullptr);
  }

  DAXOComponent* Make(const char* model, const std::string& name) {
    EXPECT_TRUE(engine.CreateComponent(model, name));
    return engine.Component(name);
  }
  long Get(DAXOComponent* c, const char* property) { return probe->get(c, property); }

  /// Both threads of sleeper `c` run on exactly `mask` (and, when it holds
  /// one processor, on that one).
  void ExpectRunningOn(DAXOComponent* c, const cpu_set_t& mask, const char* stage) {
    for (int which : {0, 1}) {
      SCOPED_TRACE(std::string(stage) + (which == 0 ? ", main thread" : ", extra thread"));
      int cpu = -1;
      int nice = 0;
      cpu_set_t got;
      CPU_ZERO(&got);
      ASSERT_TRUE(probe->where(c, which, &cpu, &got, &nice));
      EXPECT_TRUE(CPU_EQUAL(&got, &mask)) << "affinity holds " << CPU_COUNT(&got) << " processors";
      if (CPU_COUNT(&mask) == 1) {
        EXPECT_TRUE(CPU_ISSET(cpu, &mask)) << "runs on " << cpu;
      }
    }
  }

  VelquorThreadStatsProbe* probe = nullptr;
};

TEST_F(ThreadStatistics, ContextSwitchesGrowWhileTheThreadsBlockAndReadZeroOnceTheyEnded) {
  DAXOComponent* s = Make("ThreadStatsSleeper", "s");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Get(s, "contextSwitches"), 0) << "not started: no threads";

  ASSERT_TRUE(engine.StartComponent("s"));
  ASSERT_TRUE(probe->waitSleeperCores(s, 2));
  const long before = Get(s, "contextSwitches");
  EXPECT_GT(before, 0) << "the main thread blocked in its first Cores";
  // Every Core blocks a millisecond: a voluntary context switch each.
  ASSERT_TRUE(probe->waitSleeperCores(s, probe->sleeperCores(s) + 20));
  EXPECT_GE(Get(s, "contextSwitches"), before + 20);

  ASSERT_TRUE(engine.ShutdownComponent("s"));
  EXPECT_EQ(Get(s, "contextSwitches"), 0) << "the dead component lists no thread";
  EXPECT_EQ(Get(s, "CPULoad"), 0);
}

TEST_F(ThreadStatistics, ASpinningComponentLoadsItsProcessorAndASleepingOneHardly) {
  const auto begin = std::chrono::steady_clock::now();
  DAXOComponent* spin = Make("ThreadStatsSpinner", "spin");
  DAXOComponent* sleep = Make("ThreadStatsSleeper", "sleep");
  ASSERT_TRUE(spin != nullptr && sleep != nullptr);
  ASSERT_TRUE(engine.StartComponent("spin"));
  ASSERT_TRUE(engine.StartComponent("sleep"));

  ASSERT_TRUE(probe->waitSpinnerBurned(spin, 50 * kMillisecond));
  const long spinLoad = Get(spin, "CPULoad");
  const long wallMs = std::max<long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - begin)
                                            .count());
  // The reading's window began after `begin` and holds the 50 ms the thread
  // burned: whatever else the machine runs, the load is at least that over
  // the real time since `begin` (+1: the property rounds to whole percents).
  EXPECT_GE(spinLoad + 1, 50 * 100 / wallMs) << "after " << wallMs << " ms";
  EXPECT_LE(spinLoad, 100) << "one thread, at most one processor";

  // A hundred Cores blocked a millisecond each: its own threads used little
  // of that (a load measured for the process would show the spinner's).
  ASSERT_TRUE(probe->waitSleeperCores(sleep, 100));
  EXPECT_LE(Get(sleep, "CPULoad"), 50);

  engine.ShutdownDiagram();
  EXPECT_EQ(Get(spin, "CPULoad"), 0);
}

TEST_F(ThreadStatistics, ProcessorPinsEveryThreadAlsoThoseStartedAfterTheChoice) {
  cpu_set_t all;
  CPU_ZERO(&all);
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "needs a process that may use two processors";
  int n = 0;
  while (!CPU_ISSET(n, &all)) ++n;
  cpu_set_t only;
  CPU_ZERO(&only);
  CPU_SET(n, &only);

  DAXOComponent* p = Make("ThreadStatsSleeper", "p");
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(probe->set(p, "processor", n));
  ASSERT_TRUE(engine.StartComponent("p"));
  ASSERT_TRUE(probe->waitSleeperCores(p, 1));
  ExpectRunningOn(p, only, "chosen before the start");

  ASSERT_TRUE(probe->set(p, "processor", -1));
  ExpectRunningOn(p, all, "-1 while running");
  ASSERT_TRUE(probe->set(p, "processor", n));
  ExpectRunningOn(p, only, "chosen while running");

  const long missing = sysconf(_SC_NPROCESSORS_CONF);
  ASSERT_TRUE(probe->set(p, "processor", missing));
  EXPECT_TRUE(ReportHas("component p: processor " + std::to_string(missing), DAXO::Warning));
  ExpectRunningOn(p, only, "a processor the machine lacks changes nothing");

  ASSERT_TRUE(probe->set(p, "processor", -1));
  ExpectRunningOn(p, all, "-1 again");
  EXPECT_TRUE(engine.ShutdownComponent("p"));
}

// The lowest "priority" is the highest nice value under time-sharing, which
// any thread may take; it reaches the running threads, not the setter.
TEST_F(ThreadStatistics, PriorityReachesEveryRunningThread) {
  DAXOComponent* c = Make("ThreadStatsSleeper", "prio");
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(engine.StartComponent("prio"));
  ASSERT_TRUE(probe->waitSleeperCores(c, 1));
  int policy = 0;
  sched_param param{};
  ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &param), 0);
  if (sched_get_priority_min(policy) != sched_get_priority_max(policy)) {
    GTEST_SKIP() << "not a time-sharing policy";
  }
  const int setterNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  ASSERT_TRUE(probe->set(c, "priority", 0));
  for (int which : {0, 1}) {
    int cpu = -1;
    int nice = 0;
    cpu_set_t mask;
    ASSERT_TRUE(probe->where(c, which, &cpu, &mask, &nice));
    EXPECT_EQ(nice, 19) << (which == 0 ? "main thread" : "extra thread");
  }
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), setterNice);
  EXPECT_TRUE(engine.ShutdownComponent("prio"));
}

// Property reads and "processor" changes from another thread while the
// component's threads start and end, round after round: a thread that
// leaves the list must never be reached again (a sanitizer build sees a
// use after the end; a plain build may crash).
TEST_F(ThreadStatistics, ReadsAndPinsRacingWithThreadsThatEndAreSafe) {
  DAXOComponent* r = Make("ThreadStatsSleeper", "r");
  ASSERT_NE(r, nullptr);
  std::atomic<bool> stop{false};
  Counter passes;
  std::thread reader([&] {
    while (!stop.load()) {
      probe->get(r, "contextSwitches");
      probe->get(r, "CPULoad");
      probe->set(r, "processor", -1);
      passes.Raise();
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Join() {
      stop = true;
      thread.join();
    }
  } join{stop, reader};
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(engine.StartComponent("r"));
    ASSERT_TRUE(probe->waitSleeperCores(r, probe->sleeperCores(r) + 1));
    ASSERT_TRUE(passes.WaitAtLeast(passes.Value() + 2)) << "the reader overlaps the life";
    ASSERT_TRUE(engine.ShutdownComponent("r"));
  }
  EXPECT_EQ(Get(r, "contextSwitches"), 0);
  EXPECT_EQ(Get(r, "CPULoad"), 0);
  EXPECT_FALSE(ReportHas("processor", DAXO::Warning)) << "-1 is always applicable";
}

}  // namespace
}  // namespace velquor::test

// Engine listeners through the real engine: components of a package hold
// time-state and run/shutdown listeners that log each callback and set an
// event; the clock and the diagram are driven through velquor::Engine and
// through the package's own DAXO:: forwarders.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine_test_support.h"
#include "listener_test_pck_probe.h"

namespace velquor::test {
namespace {

using Entries = std::vector<std::string>;

class Listeners : public EngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_LISTENER_TEST_PCK));
    ASSERT_NE(probe = ListenerProbe(VELQUOR_LISTENER_TEST_PCK), nullptr);
  }

  void Create(std::initializer_list<const char*> names) {
    for (const char* name : names) ASSERT_TRUE(engine.CreateComponent("ListenerProbe", name));
  }
  /// The log of `name` once it has `n` entries and every notice posted so
  /// far has been delivered (so a duplicate would show).
  Entries Settled(const char* name, std::size_t n) {
    EXPECT_TRUE(probe->waitLog(name, n)) << name << " has " << probe->log(name).size();
    engine.FlushListenerNotices();
    return probe->log(name);
  }

  VelquorListenerTestProbe* probe = nullptr;
};

// Which side changes the clock: the embedding program or a package.
enum class Driver { Engine, Package };

class ClockNotices : public Listeners, public ::testing::WithParamInterface<Driver> {
 protected:
  void Speed(int speed) {
    GetParam() == Driver::Engine ? engine.SetClockSpeed(speed) : probe->setTimeSpeed(speed);
  }
  void Pause(bool paused) {
    if (GetParam() == Driver::Engine) {
      paused ? engine.PauseClock() : engine.ResumeClock();
    } else {
      paused ? probe->pause() : probe->play();
    }
  }
  void Jump(DAXOTimestamp t) {
    GetParam() == Driver::Engine ? engine.JumpClock(t) : probe->setCurrentTime(t);
  }
};

TEST_P(ClockNotices, EachChangeReachesEveryTimeListenerOnceInOrder) {
  Create({"first", "second"});
  Pause(true);  // before the clock starts: no change
  engine.StartClock();
  Speed(2000);
  Speed(2000);  // no change
  Pause(true);
  Pause(true);  // no change
  Jump(5000000);
  Pause(false);
  Speed(-1000);
  const Entries expected{"jumped 0",       "speed 2000", "paused 1",
                         "jumped 5000000", "paused 0",   "speed -1000"};
  EXPECT_EQ(Settled("first", expected.size()), expected);
  EXPECT_EQ(Settled("second", expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ClockNotices, ::testing::Values(Driver::Engine, Driver::Package),
                         [](const auto& info) {
                           return info.param == Driver::Engine ? "Engine" : "Package";
                         });

TEST_F(Listeners, ACallbackReadsTheEngineClockAndSetsAnEvent) {
  // Delivered under a clock lock, the callback's read would deadlock.
  Create({"reader"});
  probe->setBehaviour("reader", kReadClock, nullptr);
  engine.SetClockSpeed(0);                   // engine time holds: the reads are exact
  ASSERT_TRUE(probe->waitLog("reader", 1));  // callbacks read the time of their call
  engine.JumpClock(7000000);
  EXPECT_EQ(Settled("reader", 2),
            (Entries{"speed 0 / now 0 speed 0", "jumped 7000000 / now 7000000 speed 0"}));
}

TEST_F(Listeners, RunAndShutdownComeOncePerTransitionFromTheEngine) {
  Create({"watcher"});
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(engine.StartDiagram());
    engine.StartDiagram();     // already running: no notice
    engine.RequestShutdown();  // the shutdown begins here ...
    engine.ShutdownDiagram();  // ... not again here
  }
  const Entries expected{"jumped 0", "running", "shutting down", "running", "shutting down"};
  EXPECT_EQ(Settled("watcher", expected.size()), expected);
}

TEST_F(Listeners, RunAndShutdownComeFromTheKernelsOperations) {
  Create({"watcher"});
  ASSERT_TRUE(probe->run());
  ASSERT_TRUE(probe->shutdown());
  engine.ShutdownDiagram();
  EXPECT_EQ(Settled("watcher", 2), (Entries{"running", "shutting down"}));
}

TEST_F(Listeners, RegistrationsMadeDuringDeliveryTakeEffectForTheNextNotice) {
  // In registration order: "self" drops itself and "dropped" (still to be
  // called for the same notice); "adder" registers "late", which then hears
  // only later notices.
  Create({"self", "dropped", "adder", "late"});
  probe->setTimeRegistered("late", false);
  probe->setBehaviour("self", kUnregisterSelfOnJump | kUnregisterPeerOnJump, "dropped");
  probe->setBehaviour("adder", kRegisterPeerOnJump, "late");

  engine.JumpClock(1000);
  // A registration hears the notices posted after it: "late" registers
  // while the jump is delivered, so the speed change is posted after that.
  engine.FlushListenerNotices();
  engine.SetClockSpeed(3000);
  EXPECT_EQ(Settled("adder", 2), (Entries{"jumped 1000", "speed 3000"}));
  EXPECT_EQ(Settled("late", 1), (Entries{"speed 3000"}));
  EXPECT_EQ(probe->log("self"), (Entries{"jumped 1000"}));
  EXPECT_EQ(probe->log("dropped"), Entries{});
}

TEST_F(Listeners, ADestroyedListenerIsNeverCalledAgainWhileNoticesFlow) {
  Create({"witness"});
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    for (int i = 0; !stop; ++i) {
      engine.SetClockSpeed(i % 2 == 0 ? 1500 : 2500);
      if (i % 64 == 63) engine.FlushListenerNotices();  // keeps the queue short
    }
  });
  for (int round = 0; round < 8; ++round) {
    const std::string name = "victim" + std::to_string(round);
    ASSERT_TRUE(engine.CreateComponent("ListenerProbe", name));
    ASSERT_TRUE(probe->waitLog(name.c_str(), 5));
    ASSERT_TRUE(engine.DestroyComponent(name));
    // Notices go on after the destruction: any call on the victim would
    // log after its "destroyed" (or touch freed memory).
    const std::size_t seen = probe->log("witness").size();
    ASSERT_TRUE(probe->waitLog("witness", seen + 5));
    EXPECT_EQ(probe->log(name.c_str()).back(), "destroyed");
  }
  stop = true;
  flood.join();
  engine.FlushListenerNotices();
  for (int round = 0; round < 8; ++round) {
    const Entries log = probe->log(("victim" + std::to_string(round)).c_str());
    EXPECT_EQ(log.back(), "destroyed") << "victim" << round;
  }
}

}  // namespace
}  // namespace velquor::test

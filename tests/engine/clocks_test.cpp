// The engine's clock table through the real engine: clocks built by a
// package register and get their identifiers and names; a component that is
// also a clock takes its new name along when the engine renames it.
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "listener_test_pck_probe.h"

namespace velquor::test {
namespace {

class Clocks : public EngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_LISTENER_TEST_PCK));
    ASSERT_NE(probe = ListenerProbe(VELQUOR_LISTENER_TEST_PCK), nullptr);
  }
  void TearDown() override {
    if (probe == nullptr) return;
    for (void* clock : clocks) probe->deleteClock(clock);
  }
  int New(const std::string& name) {
    clocks.push_back(probe->newClock(name.c_str()));
    return probe->clockID(clocks.back());
  }
  void Delete(std::size_t index) {
    probe->deleteClock(clocks[index]);
    clocks.erase(clocks.begin() + static_cast<long>(index));
  }
  std::vector<std::string> Table() {
    std::vector<std::string> table;
    for (const ClockInfo& clock : engine.Clocks()) {
      table.push_back(std::to_string(clock.id) + " " + clock.name);
    }
    return table;
  }

  VelquorListenerTestProbe* probe = nullptr;
  std::vector<void*> clocks;  // built through the probe, in order
};

TEST_F(Clocks, IdentifiersAreTheLowestFreeAndNamesFollowRenames) {
  EXPECT_EQ(Table(), std::vector<std::string>{"0 Engine"});
  EXPECT_EQ(New("x"), 1);
  EXPECT_EQ(New("y"), 2);
  EXPECT_EQ(New("z"), 3);
  Delete(1);  // y
  EXPECT_EQ(New("w"), 2);
  probe->renameClock(clocks[0], "x2");
  EXPECT_EQ(probe->clockID(clocks[0]), 1);
  EXPECT_EQ(Table(), (std::vector<std::string>{"0 Engine", "1 x2", "2 w", "3 z"}));
  EXPECT_EQ(engine.FindClock("x2"), 1);
  EXPECT_EQ(engine.FindClock("x"), -1);
  EXPECT_EQ(engine.FindClock("y"), -1);
  EXPECT_EQ(engine.FindClock("Engine"), 0);
  // No clock selection: the engine clock is the current and master one.
  EXPECT_EQ(kernel()->GetCurrentClockID(), 0);
  EXPECT_EQ(kernel()->GetMasterCurrentClockID(), 0);
  EXPECT_FALSE(ReportHas("not provided"));
}

TEST_F(Clocks, AFullTableAnswersTheEngineClocksIdentifierAndWarns) {
  for (int id = 1; id <= 255; ++id) ASSERT_EQ(New("c" + std::to_string(id)), id);
  EXPECT_EQ(New("extra"), 0);
  EXPECT_EQ(ReportCount("the clock table is full", 1), 1);
  EXPECT_EQ(engine.FindClock("extra"), -1);
  Delete(255);  // the extra: frees nothing
  EXPECT_EQ(engine.Clocks().size(), 256U);
  Delete(16);  // c17
  EXPECT_EQ(New("again"), 17);
}

TEST_F(Clocks, RenamingAClockComponentRenamesItsClockThroughItsUnregister) {
  ASSERT_TRUE(engine.CreateComponent("ClockProbe", "pace"));
  const int id = probe->componentClockID("pace");
  EXPECT_GE(id, 1);
  EXPECT_EQ(engine.FindClock("pace"), id);

  ASSERT_TRUE(engine.RenameComponent("pace", "tempo"));
  EXPECT_EQ(probe->componentClockUnregisters("tempo"), 1);
  EXPECT_EQ(engine.FindClock("pace"), -1);
  EXPECT_EQ(engine.FindClock("tempo"), probe->componentClockID("tempo"));

  ASSERT_TRUE(engine.DestroyComponent("tempo"));
  EXPECT_EQ(Table(), std::vector<std::string>{"0 Engine"});
}

}  // namespace
}  // namespace velquor::test

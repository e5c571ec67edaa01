// The engine's diagram: components built by a real package's code, started,
// run, shut down, restarted and destroyed through the engine; a run ended by
// a component's shutdown request; a component stuck in its Core.
#include <string>

#include "daxo_component.h"
#include "engine_test_pck_probe.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

/// Loads the test package into `engine`; its probe, tickers resting.
VelquorEngineTestProbe* LoadTickers(Engine& engine) {
  if (!engine.LoadPackage(VELQUOR_ENGINE_TEST_PCK)) return nullptr;
  VelquorEngineTestProbe* probe = Probe(VELQUOR_ENGINE_TEST_PCK);
  if (probe != nullptr) probe->setTickerMode(0);
  return probe;
}

class Diagram : public EngineTest {
 protected:
  void SetUp() override { ASSERT_NE(probe = LoadTickers(engine), nullptr); }
  void TearDown() override {
    if (probe != nullptr) probe->setTickerMode(0);
  }

  bool Living(const std::string& name) { return engine.ModuleState(name) & DAXO::LivingState; }
  bool Dead(const std::string& name) { return engine.ModuleState(name) & DAXO::DeadState; }
  bool Reported(const std::string& text) {
    return reports->Contains([&](const ReportRecord& r) { return r.text == text; });
  }

  VelquorEngineTestProbe* probe = nullptr;
};

TEST_F(Diagram, APackageComponentStartsRunsShutsDownAndRestarts) {
  ASSERT_TRUE(engine.CreateComponent("EngineTestTicker", "tick"));
  EXPECT_EQ(engine.Components(), std::vector<std::string>{"tick"});
  ASSERT_NE(engine.Component("tick"), nullptr);

  for (int round = 1; round <= 2; ++round) {
    const long cores = probe->tickerCores();
    const long deaths = probe->tickerDeaths();
    reports->Clear();
    ASSERT_TRUE(engine.StartDiagram());
    EXPECT_TRUE(Living("tick"));
    ASSERT_TRUE(probe->waitTickerCores(cores + 3)) << "round " << round;

    engine.ShutdownDiagram();
    EXPECT_TRUE(Dead("tick"));
    EXPECT_FALSE(Living("tick"));
    EXPECT_EQ(probe->tickerDeaths(), deaths + 1);
    EXPECT_TRUE(Reported("Component tick is dead."));
  }
  EXPECT_TRUE(engine.DestroyComponent("tick"));
  EXPECT_EQ(engine.Component("tick"), nullptr);
  EXPECT_TRUE(engine.Components().empty());
}

TEST_F(Diagram, CreationFailuresAreReportedWithTheirReason) {
  EXPECT_FALSE(engine.CreateComponent("NoSuchModel", "x"));
  EXPECT_TRUE(ReportHas("cannot create component x of model NoSuchModel"));
  // A bare record (no instantiation function) is listed but not buildable.
  EXPECT_FALSE(engine.CreateComponent("EngineTestModelA", "a"));
  EXPECT_TRUE(ReportHas("cannot be instantiated"));

  ASSERT_TRUE(engine.CreateComponent("EngineTestTicker", "t"));
  EXPECT_FALSE(engine.CreateComponent("EngineTestTicker", "t"));
  EXPECT_TRUE(ReportHas("the name is taken"));
  EXPECT_FALSE(engine.CreateComponent("EngineTestTicker", ""));
  // A name the engine knows for something else is taken too, and stays its
  // holder's (a component built and given up would unregister it).
  int held = 0;
  ASSERT_TRUE(engine.kernel()->RegisterSymbol("held", DAXOSymbolKind::Object, &held));
  EXPECT_FALSE(engine.CreateComponent("EngineTestTicker", "held"));
  EXPECT_EQ(engine.FindSymbol("held", DAXOSymbolKind::Object), &held);
  EXPECT_EQ(engine.Components().size(), 1u);
  EXPECT_FALSE(engine.StartComponent("ghost"));
  EXPECT_FALSE(engine.DestroyComponent("ghost"));
}

TEST_F(Diagram, AComponentCanAskTheEngineToShutDown) {
  ASSERT_TRUE(engine.CreateComponent("EngineTestTicker", "t"));
  probe->setTickerMode(2);
  ASSERT_TRUE(engine.StartDiagram());
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::ShutdownRequested);
  // The request only ends the run: the component still lives until the
  // engine's owner shuts the diagram down.
  EXPECT_TRUE(Living("t"));
  engine.ShutdownDiagram();
  EXPECT_TRUE(Dead("t"));
}

// A component left out of the diagram's start runs only when started by
// hand; destroying it while it runs shuts it down first.
TEST_F(Diagram, AComponentOutOfAutoStartIsStartedByHand) {
  ASSERT_TRUE(engine.CreateComponent("EngineTestTicker", "manual"));
  DAXOComponent* manual = engine.Component("manual");
  ASSERT_NE(manual, nullptr);
  manual->Set(*manual->Property("autoStart"), false);
  ASSERT_TRUE(engine.StartDiagram());
  EXPECT_TRUE(Dead("manual"));
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead) << "nothing runs";
  ASSERT_TRUE(engine.StartComponent("manual"));
  EXPECT_TRUE(Living("manual"));
  EXPECT_TRUE(engine.ShutdownComponent("manual"));

  const long cores = probe->tickerCores();
  const long deaths = probe->tickerDeaths();
  ASSERT_TRUE(engine.StartComponent("manual"));
  ASSERT_TRUE(probe->waitTickerCores(cores + 1));
  EXPECT_TRUE(engine.DestroyComponent("manual"));
  EXPECT_EQ(probe->tickerDeaths(), deaths + 1);
  EXPECT_TRUE(engine.Components().empty());
}

TEST_F(Diagram, AComponentStuckInCoreIsGivenUpAfterTenSeconds) {
  ASSERT_TRUE(engine.CreateComponent("EngineTestTicker", "stuck"));
  probe->setTickerMode(4);
  ASSERT_TRUE(engine.StartComponent("stuck"));
  ASSERT_TRUE(probe->waitTickerStuck());
  const DAXOTimestamp begin = DAXO::GetSystemAccurateTiming();
  EXPECT_FALSE(engine.ShutdownComponent("stuck"));
  EXPECT_GE(DAXO::GetSystemAccurateTiming() - begin, 10 * kSecond);
  EXPECT_TRUE(
      Reported("Component stuck refuses to die after 10 seconds. The component model "
               "EngineTestTicker must be bugged."));
  EXPECT_FALSE(engine.DestroyComponent("stuck")) << "its thread still runs the model's code";
  EXPECT_NE(engine.Component("stuck"), nullptr);

  // Once Core lets go, the component ends its death and can be destroyed.
  probe->setTickerMode(0);
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  EXPECT_TRUE(engine.DestroyComponent("stuck"));
}

// Models of the embedding program run beside a package's (the SDK and
// multiplexer suites run theirs so); a model's name is offered once.
TEST_F(Diagram, AModelNameIsOfferedOnceAndAPackagesModelKeepsIt) {
  // A model must outlive the engine that builds components from it.
  static const auto none = [](const char*, DAXOComponentDefinition&) -> DAXOComponent* {
    return nullptr;
  };
  static DAXOComponentDefinition model{"LocalModel", "1.0", none};
  static DAXOComponentDefinition taken{"EngineTestTicker", "1.0", none};
  ASSERT_TRUE(engine.AddModel(model));
  EXPECT_FALSE(engine.AddModel(model)) << "a name is offered once";
  EXPECT_FALSE(engine.AddModel(taken)) << "a package's model keeps its name";
}

TEST(DiagramTeardown, TheEngineShutsDownAndDestroysRunningComponents) {
  auto sink = std::make_shared<MemoryReportSink>();
  {
    Engine engine(EngineOptions{false, false});
    engine.AddReportSink(sink);
    KernelBinding binding(engine);
    VelquorEngineTestProbe* probe = LoadTickers(engine);
    ASSERT_NE(probe, nullptr);
    const long cores = probe->tickerCores();
    ASSERT_TRUE(engine.CreateComponent("EngineTestTicker", "a"));
    ASSERT_TRUE(engine.CreateComponent("EngineTestTicker", "b"));
    ASSERT_TRUE(engine.StartDiagram());
    ASSERT_TRUE(probe->waitTickerCores(cores + 2));
  }
  // Both died (and were destroyed) before the engine closed the package.
  const auto said = [&](const std::string& part) {
    return sink->Contains(
        [&](const ReportRecord& r) { return r.text.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(said("Component a is dead."));
  EXPECT_TRUE(said("Component b is dead."));
  EXPECT_FALSE(said("still alive"));
}

}  // namespace
}  // namespace velquor::test

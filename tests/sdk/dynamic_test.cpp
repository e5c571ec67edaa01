// Dynamic elements re-declared from property values, actions, renaming,
// period statistics and extra threads, in the real engine.
#include <atomic>
#include <string>

#include "daxo_action.h"
#include "daxo_core_function.h"
#include "daxo_io.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

DAXOPropertyDefinition g_dynamicProperties[] = {
    {"nb", new DAXOPropertyValue(1L), nullptr, false, false, false, false},
    {"fail", new DAXOPropertyValue(false), nullptr, false, false, false, false},
    {},
};
DAXOInputDefinition g_dynamicInputs[] = {
    {"in", 0, &DAXO::FilterInteger32, DAXO::FifoReader, 1},
    {},
};
DAXOOutputDefinition g_writerOutputs[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Integer32), 1, 4, 1, 0},
    {},
};

std::atomic<int> g_actionCalls{0};
std::string g_lastArgument;  // written by the test thread only

void Plain(DAXOModule*, int) {
  ++g_actionCalls;
}
void WithArgument(DAXOModule*, int, const char* argument) {
  g_lastArgument = argument != nullptr ? argument : "";
}

DAXOActionDefinition g_actions[] = {
    {"poke", new DAXOActionFunction{&Plain, nullptr}, false},
    {"say", new DAXOActionFunction{nullptr, &WithArgument}, true},
    {"rename", new DAXOActionFunction{&DAXOComponent::ActionRenameAfterUpstreamComponent, nullptr},
     true},
    {},
};

/// Declares "nb" inputs in_0.. in Dynamic; throws there after declaring
/// the first one when "fail" is set.
class Fan : public DAXOComponent {
 public:
  Fan(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Dynamic() override {
    ++dynamics;
    const long n = Property("nb")->IntegerValue();
    for (long i = 0; i < n; ++i) {
      NewInput(g_dynamicInputs[0], (DAXOStreamedString("in_") << i));
      if (Property("fail")->BoolValue()) throw 7;
    }
  }
  void Core() override { DieEvent().Wait(1000); }
  /// An extra thread: counts, then waits for the component's death.
  void Helper() {
    helperRan.Raise();
    DieEvent().Wait(-1);
    helperEnded = true;
  }
  int dynamics = 0;
  Counter helperRan;
  std::atomic<bool> helperEnded{false};
};

class Writer : public DAXOComponent {
 public:
  Writer(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override { DieEvent().Wait(1000); }
};

class Dynamic : public PropertyTest {
 protected:
  Dynamic() {
    fan.nbInputs = 0;  // the table serves Dynamic only
    fan.nbProperties = fan.nbActions = DAXOComponentDefinition::CountUntilZeroRow;
    fan.properties = g_dynamicProperties;
    fan.actions = g_actions;
    EXPECT_TRUE(engine.AddModel(fan));
    EXPECT_TRUE(engine.AddModel(writer));
  }

  Fan* MakeFan(const char* name) { return Make<Fan>("Fan", name); }
  static std::string InputNames(DAXOModule& m) {
    std::string names;
    for (int i = 0; i < m.NbInputs(); ++i) names += std::string(m.Input(i).ShortName()) + " ";
    return names;
  }

  DAXOComponentDefinition fan = Model<Fan>("Fan", true, g_dynamicInputs, nullptr, DAXO::Threaded);
  DAXOComponentDefinition writer =
      Model<Writer>("Writer", true, nullptr, g_writerOutputs, DAXO::Threaded);
};

TEST_F(Dynamic, InputsFollowThePropertyAndKeptOnesKeepTheirConnections) {
  Fan* f = MakeFan("fan");
  ASSERT_TRUE(engine.CreateComponent("Writer", "w"));
  f->Set(*f->Property("nb"), 3L);
  EXPECT_EQ(InputNames(*f), "in_0 in_1 in_2 ");
  ASSERT_TRUE(engine.Connect("w.out", "fan.in_0"));
  ASSERT_TRUE(engine.Connect("w.out", "fan.in_2"));
  DAXOInput* kept = &f->Input(0);

  f->Set(*f->Property("nb"), 1L);
  EXPECT_EQ(InputNames(*f), "in_0 ");
  EXPECT_EQ(&f->Input(0), kept) << "the same input object";
  EXPECT_TRUE(f->Input(0).IsConnected());
  EXPECT_EQ(engine.FindSymbol("fan.in_2", DAXOSymbolKind::Input), nullptr);
  EXPECT_EQ(engine.FindSymbol("fan.in_2.subsampling", DAXOSymbolKind::Property), nullptr);
  auto& out = static_cast<DAXOOutputImplementation&>(
      static_cast<DAXOComponent*>(engine.Component("w"))->Output(0));
  EXPECT_EQ(out.NbConnectedInputs(), 1) << "the removed input left the output";

  f->Set(*f->Property("nb"), 2L);
  EXPECT_EQ(InputNames(*f), "in_0 in_1 ");
  EXPECT_TRUE(f->Input(0).IsConnected());
  EXPECT_FALSE(f->Input(1).IsConnected());
}

TEST_F(Dynamic, AThrowingDynamicLeavesTheErrorStateAndStillRemoves) {
  Fan* f = MakeFan("fan");
  f->Set(*f->Property("nb"), 3L);
  f->Set(*f->Property("fail"), true);
  EXPECT_NE(f->State() & DAXO::ErrorState, 0);
  EXPECT_EQ(InputNames(*f), "in_0 ") << "what was not declared again is gone";
  f->Set(*f->Property("fail"), false);
  EXPECT_EQ(f->State() & DAXO::ErrorState, 0);
  EXPECT_EQ(InputNames(*f), "in_0 in_1 in_2 ");
}

TEST_F(Dynamic, ALivingComponentDoesNotRedeclare) {
  Fan* f = MakeFan("fan");
  ASSERT_TRUE(engine.StartComponent("fan"));
  const int before = f->dynamics;
  // "nb" is not modifiable after start: a modifiable one is needed.
  f->Set(*f->Property("autoStart"), false);
  EXPECT_EQ(f->dynamics, before);
  engine.ShutdownDiagram();
  f->Set(*f->Property("autoStart"), true);
  EXPECT_EQ(f->dynamics, before + 1);
}

TEST_F(Dynamic, ActionsRunWithTheirArgumentAndRespectTheDeadRule) {
  Fan* f = MakeFan("fan");
  ASSERT_EQ(f->NbActions(), 3);
  EXPECT_TRUE(f->Action("say").NeedArgument());
  EXPECT_FALSE(f->Action(0).NeedArgument());
  EXPECT_EQ(engine.FindSymbol("fan.poke", DAXOSymbolKind::Action), &f->Action("poke"));

  f->Action("say").DoIt("hello");  // allowed while dead
  EXPECT_EQ(g_lastArgument, "hello");
  const int calls = g_actionCalls.load();
  reports->Clear();
  f->Action("poke").DoIt();
  EXPECT_EQ(g_actionCalls.load(), calls);
  EXPECT_TRUE(
      Reported("component fan: This action is not allowed when the component is not running.",
               DAXO::Warning));
  ASSERT_TRUE(engine.StartComponent("fan"));
  f->Action("poke").DoIt();
  EXPECT_EQ(g_actionCalls.load(), calls + 1);
  engine.ShutdownDiagram();

  ExpectError([&] { f->NewAction(g_actions[0], "9lives"); },
              "component fan: Trying to create an action with an invalid name: 9lives");
  ExpectError([&] { f->NewAction("nothing", "x"); },
              "component fan: Call to NewAction(nothing, x) failed. The given model (nothing) "
              "does not exist.");
}

TEST_F(Dynamic, RenamingMovesEveryElementName) {
  Fan* f = MakeFan("fan");
  f->Set(*f->Property("nb"), 2L);
  f->Rename("fan", "blower");
  EXPECT_STREQ(f->name, "blower");
  EXPECT_STREQ(f->Input(1).Name(), "blower.in_1");
  EXPECT_STREQ(f->Property("nb")->Name(), "blower.nb");
  EXPECT_STREQ(f->Action("poke").Name(), "blower.poke");
}

TEST_F(Dynamic, RenamingAfterTheUpstreamOutputFindsAFreeName) {
  Fan* f = MakeFan("fan");
  // An action of the definition: dynamic ones go with the next re-declaration.
  DAXOAction& rename = f->Action("rename");
  reports->Clear();
  rename.DoIt();
  EXPECT_TRUE(
      Reported("component fan: This action scans what is connected to this component's "
               "first input. Please connect it in order to rename after upstream "
               "component."));

  ASSERT_TRUE(engine.CreateComponent("Writer", "w"));
  ASSERT_TRUE(engine.Connect("w.out", "fan.in_0"));
  ASSERT_TRUE(engine.CreateComponent("Fan", "w_out"));  // the first choice is taken
  rename.DoIt();
  EXPECT_STREQ(f->name, "w_out_1");
  EXPECT_EQ(engine.Component("w_out_1"), f);
  EXPECT_EQ(engine.FindSymbol("w_out_1.in_0", DAXOSymbolKind::Input), &f->Input(0));
  EXPECT_EQ(engine.FindSymbol("fan.in_0", DAXOSymbolKind::Input), nullptr);
  EXPECT_TRUE(f->Input(0).IsConnected());

  ASSERT_TRUE(engine.DestroyComponent("w_out"));
  // An engine function's name is taken as well.
  static DAXOCoreFunctionDefinition function{"RenameTestFunction", "1.0",
                                             [](const char* name, DAXOCoreFunctionDefinition& d) {
                                               return new DAXOCoreFunction(name, d);
                                             }};
  ASSERT_TRUE(engine.AddFunctionModel(function));
  ASSERT_TRUE(engine.LoadCoreFunction("RenameTestFunction", "w_out"));
  rename.DoIt();
  EXPECT_STREQ(f->name, "w_out_1");
  ASSERT_TRUE(engine.UnloadCoreFunction("w_out"));
  rename.DoIt();
  EXPECT_STREQ(f->name, "w_out");
  reports->Clear();
  rename.DoIt();
  EXPECT_TRUE(
      Reported("component w_out: Component is already named after its upstream "
               "component's output.",
               DAXO::Warning));
}

TEST_F(Dynamic, PeriodStatisticsFollowTheWindow) {
  engine.StartClock();
  engine.PauseClock();
  engine.JumpClock(1000000);
  Fan* f = MakeFan("fan");
  auto value = [&](const char* p) { return f->Property(p)->IntegerValue(); };
  f->Set(*f->Property("nbPeriods"), 3L);
  f->PerformanceMonitoring();  // only records the time
  EXPECT_EQ(value("counter"), 1);
  EXPECT_EQ(value("averagePeriod"), 0);
  // Periods 100, 200, 300, then 700: the first leaves the window of 3.
  DAXOTimestamp t = 1000000;
  for (DAXOTimestamp period : {100, 200, 300}) {
    engine.JumpClock(t += period);
    f->PerformanceMonitoring();
  }
  EXPECT_EQ(value("averagePeriod"), 200);
  EXPECT_EQ(value("minPeriod"), 100);
  EXPECT_EQ(value("maxPeriod"), 300);
  engine.JumpClock(t += 700);
  f->PerformanceMonitoring();
  EXPECT_EQ(value("averagePeriod"), 400);
  EXPECT_EQ(value("minPeriod"), 200);
  EXPECT_EQ(value("maxPeriod"), 700);
  EXPECT_EQ(value("counter"), 5);

  // A new window restarts: the next call only records the time.
  f->Set(*f->Property("nbPeriods"), 2L);
  f->PerformanceMonitoring();
  engine.JumpClock(t += 50);
  f->PerformanceMonitoring();
  EXPECT_EQ(value("averagePeriod"), 50);
}

TEST_F(Dynamic, ExtraThreadsRunAndTheComponentsDeathWaitsForThem) {
  Fan* f = MakeFan("fan");
  ASSERT_TRUE(engine.StartComponent("fan"));
  f->CreateThread(static_cast<void (DAXOModule::*)()>(&Fan::Helper));
  ASSERT_TRUE(f->helperRan.WaitAtLeast(1));
  static std::atomic<int> freeRuns{0};
  auto result =
      f->CreateThread([](void* n) { static_cast<std::atomic<int>*>(n)->fetch_add(1); }, &freeRuns);
  EXPECT_TRUE(result.first);
  EXPECT_NE(result.second, 0u);
  ASSERT_TRUE(engine.ShutdownComponent("fan"));
  EXPECT_TRUE(f->helperEnded.load()) << "death waited for the extra thread";
  EXPECT_EQ(freeRuns.load(), 1);
}

}  // namespace
}  // namespace velquor::test

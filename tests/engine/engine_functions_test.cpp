// Engine functions through the real engine, built by a package's code:
// outside the diagram but in its name space, unloaded only when unused,
// loaded by a script with its properties, and ended with the engine.
#include "daxo_core_function.h"
#include "engine_test_support.h"
#include "script_test_pck_probe.h"

namespace velquor::test {
namespace {

class EngineFunctions : public EngineTest {
 protected:
  void SetUp() override { ASSERT_TRUE(engine.LoadPackage(VELQUOR_SCRIPT_TEST_PCK)); }

  DAXOCoreFunction* Function(const char* name) {
    return static_cast<DAXOCoreFunction*>(kernel()->CoreFunction(name));
  }
};

TEST_F(EngineFunctions, AFunctionLivesBesideTheDiagram) {
  ASSERT_EQ(engine.FunctionModels().size(), 1u);
  EXPECT_EQ(engine.FunctionModels()[0].name, "ScriptTestCounter");
  EXPECT_TRUE(engine.Models().size() == 2) << "the function model is not a component model";

  ASSERT_TRUE(kernel()->LoadCoreFunction("ScriptTestCounter", "counter"));
  DAXOCoreFunction* counter = Function("counter");
  ASSERT_NE(counter, nullptr);
  EXPECT_STREQ(counter->Kind(), "engine function");
  EXPECT_TRUE(engine.ModuleState("counter") & DAXO::LivingState);
  EXPECT_EQ(engine.CoreFunctions(), std::vector<std::string>{"counter"});
  EXPECT_TRUE(engine.Components().empty());
  // The diagram does not wait for it.
  ASSERT_TRUE(engine.StartDiagram());
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  engine.ShutdownDiagram();
  EXPECT_TRUE(engine.ModuleState("counter") & DAXO::LivingState);
}

// A name is a component's or a function's; a refused creation leaves the
// holder's registration alone.
TEST_F(EngineFunctions, ComponentsAndFunctionsShareOneNameSpace) {
  ASSERT_TRUE(engine.CreateComponent("ScriptSink", "sink"));
  ASSERT_TRUE(kernel()->LoadCoreFunction("ScriptTestCounter", "counter"));
  DAXOCoreFunction* counter = Function("counter");

  EXPECT_FALSE(kernel()->LoadCoreFunction("ScriptTestCounter", "sink"));
  EXPECT_FALSE(kernel()->LoadCoreFunction("ScriptTestCounter", "counter"));
  EXPECT_EQ(ReportCount("cannot load engine function", DAXO::Error), 2);
  EXPECT_FALSE(kernel()->CreateComponent("ScriptSink", "counter", false));
  EXPECT_FALSE(engine.CreateComponent("ScriptSink", "counter"));
  EXPECT_EQ(ReportCount("the name is taken by an engine function", DAXO::Error), 2);
  EXPECT_FALSE(engine.RenameComponent("sink", "counter"));

  EXPECT_EQ(Function("counter"), counter);
  EXPECT_EQ(engine.FindSymbol("counter", DAXOSymbolKind::Module),
            static_cast<DAXOModule*>(counter));
  EXPECT_EQ(engine.FindSymbol("counter.start", DAXOSymbolKind::Property),
            counter->Property("start"));
  EXPECT_EQ(engine.Components(), std::vector<std::string>{"sink"});
  EXPECT_FALSE(kernel()->LoadCoreFunction("NoSuchModel", "other"));
  EXPECT_TRUE(ReportHas("no loaded package offers that model"));
}

TEST_F(EngineFunctions, AFunctionInUseIsNotUnloaded) {
  ASSERT_TRUE(engine.LoadCoreFunction("ScriptTestCounter", "counter"));
  DAXOCoreFunction* counter = Function("counter");
  auto* value = static_cast<long*>(counter->GetInterface());
  ASSERT_NE(value, nullptr);
  counter->GetInterface();
  EXPECT_EQ(counter->UseCount(), 2);

  EXPECT_FALSE(kernel()->UnloadCoreFunction("counter"));
  EXPECT_TRUE(ReportHas("engine function counter is in use (2 user(s)); it stays loaded"));
  counter->ReleaseInterface();
  EXPECT_FALSE(kernel()->UnloadCoreFunction("counter"));
  counter->ReleaseInterface();
  EXPECT_TRUE(kernel()->UnloadCoreFunction("counter"));

  EXPECT_EQ(Function("counter"), nullptr);
  EXPECT_EQ(engine.FindSymbol("counter", DAXOSymbolKind::Module), nullptr);
  EXPECT_TRUE(engine.ModuleState("counter") & DAXO::DeadState);
  EXPECT_FALSE(kernel()->UnloadCoreFunction("counter"));
  // The name is free again, for either kind.
  EXPECT_TRUE(engine.CreateComponent("ScriptSink", "counter"));
}

TEST_F(EngineFunctions, AScriptLoadsAFunctionWithItsProperties) {
  ASSERT_TRUE(engine.Parse("function ScriptTestCounter counter start=5\n"));
  DAXOCoreFunction* counter = Function("counter");
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(*static_cast<long*>(counter->GetInterface()), 5);
  counter->ReleaseInterface();

  // A setting that fails unloads the half-made function again.
  EXPECT_FALSE(engine.Parse("function ScriptTestCounter other start=five\n"));
  EXPECT_TRUE(ReportHas("<script>:1: property 'other.start': expected an integer, got 'five'"));
  EXPECT_EQ(Function("other"), nullptr);
  EXPECT_EQ(engine.CoreFunctions(), std::vector<std::string>{"counter"});
}

TEST(EngineFunctionsTeardown, TheEngineEndsTheFunctionsStillLoaded) {
  auto sink = std::make_shared<MemoryReportSink>();
  {
    Engine engine(EngineOptions{false, false});
    engine.AddReportSink(sink);
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_SCRIPT_TEST_PCK));
    ASSERT_TRUE(engine.LoadCoreFunction("ScriptTestCounter", "idle"));
    ASSERT_TRUE(engine.LoadCoreFunction("ScriptTestCounter", "held"));
    engine.CoreFunction("held")->GetInterface();
  }
  const auto said = [&](const std::string& part) {
    return sink->Contains(
        [&](const ReportRecord& r) { return r.text.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(said("engine function held is destroyed with the engine while 1 user(s)"));
  EXPECT_FALSE(said("engine function idle is destroyed"));
}

}  // namespace
}  // namespace velquor::test

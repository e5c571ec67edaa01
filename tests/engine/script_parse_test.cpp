// Scripts run by the engine (DAXO::Parse and friends, through the kernel as
// a package calls them): the reports that name the failing line and file,
// what `run` means there, a component that builds and connects another from
// its Core (synchronously and through the script thread), and the script
// thread's shutdown, which drops queued work and never runs it.
#include <filesystem>
#include <fstream>
#include <thread>

#include "daxo_module.h"
#include "engine_test_support.h"
#include "script_test_pck_probe.h"

namespace velquor::test {
namespace {

namespace fs = std::filesystem;

const std::string kLoad = std::string("load ") + VELQUOR_SCRIPT_TEST_PCK + "\n";

VelquorScriptTestProbe* ScriptProbe() {
  return static_cast<VelquorScriptTestProbe*>(
      ProbeOf(VELQUOR_SCRIPT_TEST_PCK, "VelquorScriptTestProbe"));
}

class ScriptParse : public EngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kernel()->Parse(kLoad.c_str()));
    ASSERT_NE(probe = ScriptProbe(), nullptr);
    probe->holdSinkConstruction(false);
  }
  bool Reported(const std::string& text, int level = DAXO::Error) {
    return reports->Contains(
        [&](const ReportRecord& r) { return r.text == text && r.level == level; });
  }

  VelquorScriptTestProbe* probe = nullptr;
};

TEST_F(ScriptParse, TheFirstFailingLineIsReportedAndEndsTheScript) {
  struct Case {
    std::string script;
    std::string report;
    std::vector<std::string> components;  // after the script
  };
  const std::vector<Case> cases = {
      // Malformed lines are all reported; nothing runs, not even line 1.
      {"component ScriptSink a\nconnect a.in\nbogus\n",
       "<script>:2: 'connect' needs an output and an input (NAME.output NAME.input)",
       {}},
      {"component ScriptSink a\nconnect a.in\nbogus\n",
       "<script>:3: unknown statement 'bogus'",
       {}},
      // A failing line stops the script after what ran before it.
      {"component ScriptSink a\nset a.nothing 1\ncomponent ScriptSink b\n",
       "<script>:2: unknown property 'a.nothing'",
       {"a"}},
      {"component ScriptSink a\nrun 1\n",
       "<script>:2: 'run' with a time limit waits for the diagram, which a script run by the "
       "engine cannot do (its caller may be one of the components); write 'run' alone to start "
       "the diagram",
       {"a"}},
      {"function NoSuchFunction f\n",
       "<script>:1: unknown engine-function model 'NoSuchFunction' (no loaded package offers it)",
       {}},
  };
  for (const Case& c : cases) {
    for (const std::string& name : engine.Components()) engine.DestroyComponent(name);
    reports->Clear();
    EXPECT_FALSE(kernel()->Parse(c.script.c_str())) << c.script;
    EXPECT_TRUE(Reported(c.report)) << c.report;
    EXPECT_EQ(engine.Components(), c.components) << c.script;
  }
}

TEST_F(ScriptParse, AFileIsNamedInItsReportsAndItsFolderHoldsItsPackages) {
  const fs::path folder = fs::path(::testing::TempDir()) / "script_parse_test";
  fs::create_directories(folder);
  // Beside the script, a link to the package this engine loaded already:
  // found from the script's folder, and not loaded twice.
  fs::remove(folder / "local.pck");
  fs::create_symlink(fs::absolute(VELQUOR_SCRIPT_TEST_PCK), folder / "local.pck");
  const fs::path script = folder / "diagram.vq";
  std::ofstream(script) << "# built by a file\nload local.pck\ncomponent ScriptSink a\n"
                           "set a.nothing 1\n";
  EXPECT_FALSE(kernel()->ParseFile(script.c_str()));
  EXPECT_TRUE(Reported(script.string() + ":4: unknown property 'a.nothing'"));
  EXPECT_EQ(engine.Components(), std::vector<std::string>{"a"});

  EXPECT_FALSE(kernel()->ParseFile((folder / "missing.vq").c_str()));
  EXPECT_TRUE(ReportHas("cannot read script '" + (folder / "missing.vq").string() + "'"));
}

// `run` inside Parse starts the diagram and returns: the caller may be a
// component, whose own death a waiting `run` would wait for.
TEST_F(ScriptParse, RunStartsTheDiagramWithoutWaitingForIt) {
  ASSERT_TRUE(
      kernel()->Parse("component ScriptBuilder b\ncomponent ScriptSink s\n"
                      "connect b.out s.in\nrun\n"));
  EXPECT_TRUE(engine.ModuleState("b") & DAXO::LivingState);
  EXPECT_TRUE(engine.ModuleState("s") & DAXO::LivingState);
  EXPECT_TRUE(probe->waitSinkReads(1));
  engine.ShutdownDiagram();
}

// A component builds a reader, connects it to its own output and starts it,
// from its Core: synchronously (the answer is the script's) or queued on the
// script thread (the answer says it was queued).
TEST_F(ScriptParse, AComponentBuildsAndConnectsAnotherFromItsCore) {
  for (const bool asynch : {false, true}) {
    SCOPED_TRACE(asynch ? "AsynchParse" : "Parse");
    const std::string sink = asynch ? "s2" : "s1";
    const std::string builder = asynch ? "b2" : "b1";
    probe->setScript(
        ("component ScriptSink " + sink + "\nconnect " + builder + ".out " + sink + ".in\nrun\n")
            .c_str(),
        asynch);
    ASSERT_TRUE(engine.CreateComponent("ScriptBuilder", builder));
    ASSERT_TRUE(engine.StartComponent(builder));
    EXPECT_EQ(probe->waitScriptResult(), 1);
    engine.WaitForScripts();
    ASSERT_NE(engine.Component(sink), nullptr);
    ASSERT_NE(engine.FindSymbol(sink + ".in", DAXOSymbolKind::Input), nullptr);
    EXPECT_TRUE(engine.ModuleState(sink) & DAXO::LivingState);
  }
  // Both readers read what their builders wrote.
  EXPECT_TRUE(probe->waitSinkReads(2));
  engine.ShutdownDiagram();
  EXPECT_FALSE(ReportHas("", DAXO::Error));
}

// The engine's destruction stops the script thread: the running script ends
// at its next line, the queued one is dropped (reported) and never runs,
// and nothing more is accepted.
TEST(ScriptParseShutdown, QueuedScriptsAreDroppedAndNeverRun) {
  auto sink = std::make_shared<MemoryReportSink>();
  auto engine = std::make_unique<Engine>(EngineOptions{false, false});
  Engine* raw = engine.get();
  engine->AddReportSink(sink);
  ASSERT_TRUE(engine->Parse(kLoad));
  VelquorScriptTestProbe* probe = ScriptProbe();
  ASSERT_NE(probe, nullptr);
  probe->holdSinkConstruction(true);
  ASSERT_TRUE(engine->AsynchParse("component ScriptSink first\ncomponent ScriptSink second\n"));
  ASSERT_TRUE(probe->waitSinkConstructionHeld());
  ASSERT_TRUE(engine->AsynchParse("component ScriptSink queued\n"));

  std::thread destroyer([&] { engine.reset(); });
  ASSERT_TRUE(sink->WaitFor(
      [](const ReportRecord& r) {
        return r.text.find("dropped: the engine is shutting down") != std::string::npos;
      },
      std::chrono::seconds(10)));
  // Destruction has begun: nothing is accepted any more.
  EXPECT_FALSE(raw->AsynchParse("component ScriptSink late\n"));
  EXPECT_FALSE(raw->Parse("component ScriptSink late\n"));
  probe->holdSinkConstruction(false);
  destroyer.join();

  // The package is gone with the engine: what ran is read from the state
  // notices each constructed component gave.
  const auto said = [&](const std::string& part) {
    return sink->Contains(
        [&](const ReportRecord& r) { return r.text.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(said("Engine: module first state"));
  EXPECT_FALSE(said("Engine: module second state")) << "the running script went on";
  EXPECT_FALSE(said("Engine: module queued state")) << "a dropped script ran";
  EXPECT_FALSE(said("Engine: module late state"));
  EXPECT_TRUE(said("queued script 'component ScriptSink queued' dropped"));
  EXPECT_TRUE(said("<script>: script stopped before its end: the engine is shutting down"));
  EXPECT_TRUE(said("not queued: the engine is shutting down"));
}

}  // namespace
}  // namespace velquor::test

// Diagram scripts applied to the real engine with the multiplexer package:
// properties reach the component (and reshape it), failures stop the script
// at their own line, and `run` ends on death, on its limit and on a request.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "daxo_property.h"
#include "engine_test_support.h"
#include "velquor/script.h"

namespace velquor::test {
namespace {

namespace fs = std::filesystem;

class DiagramScript : public EngineTest {
 protected:
  /// Runs `text` on `target` (the fixture's engine when null); errors are
  /// kept in `errors`.
  ScriptEnd Execute(const std::string& text, std::function<bool()> stop = nullptr,
                    Engine* target = nullptr) {
    const ParsedScript parsed = ParseDiagramScript(text);
    EXPECT_TRUE(parsed.Ok()) << parsed.errors[0].message;
    ScriptContext context;
    context.fileName = "diagram.vq";
    context.error = [this](const std::string& message) { errors.push_back(message); };
    context.packageDirs = {fs::path(VELQUOR_SORTING_MULTIPLEXER_PCK).parent_path().string()};
    context.stopRequested = std::move(stop);
    return ExecuteDiagramScript(target != nullptr ? *target : engine, parsed.statements, context);
  }

  long Integer(const std::string& fullName) {
    auto* property =
        static_cast<DAXOProperty*>(engine.FindSymbol(fullName, DAXOSymbolKind::Property));
    EXPECT_NE(property, nullptr) << fullName;
    return property != nullptr ? static_cast<long>(property->IntegerValue()) : -1;
  }

  std::vector<std::string> errors;
};

const std::string kLoad = std::string("load ") + VELQUOR_SORTING_MULTIPLEXER_PCK + "\n";

TEST_F(DiagramScript, SettingsReachTheComponentAndReshapeIt) {
  ASSERT_EQ(Execute(kLoad + kLoad +  // a second load of the same file is harmless
                    "component SortingMultiplexer mux nb_inputs=3 vector_max_size=8\n"
                    "set mux.flush_delay 2000\n"
                    "set mux.buffer_packet_count 0x20\n"),
            ScriptEnd::Done)
      << errors.front();
  EXPECT_EQ(Integer("mux.nb_inputs"), 3);
  EXPECT_EQ(Integer("mux.vector_max_size"), 8);
  EXPECT_EQ(Integer("mux.flush_delay"), 2000);
  EXPECT_EQ(Integer("mux.buffer_packet_count"), 32);
  EXPECT_NE(engine.FindSymbol("mux.input_2", DAXOSymbolKind::Input), nullptr);
  EXPECT_NE(engine.FindSymbol("mux.iEndOfFile_2", DAXOSymbolKind::Input), nullptr);
  EXPECT_EQ(engine.FindSymbol("mux.input_3", DAXOSymbolKind::Input), nullptr);
}

TEST_F(DiagramScript, TheFirstFailureStopsTheScriptAndNamesItsLine) {
  struct Case {
    std::string line;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"set mix.nb_inputs 2", "diagram.vq:3: unknown component 'mix'"},
      {"set mux.nb_input 2", "diagram.vq:3: unknown property 'mux.nb_input'"},
      {"set mux.nb_inputs two",
       "diagram.vq:3: property 'mux.nb_inputs': expected an integer, got 'two'"},
      {"connect mux.output mux.input_9", "diagram.vq:3: unknown input 'mux.input_9'"},
      {"connect mux.nothing mux.input_0", "diagram.vq:3: unknown output 'mux.nothing'"},
      {"component NoSuchModel other",
       "diagram.vq:3: unknown model 'NoSuchModel' (no loaded package offers it)"},
      {"component SortingMultiplexer mux",
       "diagram.vq:3: cannot create component 'mux' of model 'SortingMultiplexer'"},
      {"load no_such_package", "diagram.vq:3: package 'no_such_package' not found"},
      // The component refuses the value itself (its own check, its own report).
      {"set mux.nb_inputs 0", "diagram.vq:3: cannot set 'mux.nb_inputs' to '0'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Engine fresh(EngineOptions{false, false});
    KernelBinding bind(fresh);
    errors.clear();
    EXPECT_EQ(Execute(kLoad + "component SortingMultiplexer mux\n" + c.line +
                          "\ncomponent SortingMultiplexer after\n",
                      nullptr, &fresh),
              ScriptEnd::Failed);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], c.message);
    EXPECT_EQ(fresh.Component("after"), nullptr) << "nothing runs after a failure";
  }
}

TEST_F(DiagramScript, BareNamesAreFoundInThePackageFolders) {
  EXPECT_EQ(Execute("load velquor_sorting_multiplexer\ncomponent SortingMultiplexer m\n"),
            ScriptEnd::Done);
  EXPECT_NE(engine.Component("m"), nullptr);
}

// `upstream` has no inputs connected: it fails at birth and dies; `mux` reads
// from it and stays alive until it is shut down.
const std::string kLiveDiagram = kLoad +
                                 "component SortingMultiplexer upstream\n"
                                 "component SortingMultiplexer mux\n"
                                 "connect upstream.output mux.input_0\n"
                                 "connect upstream.end_of_file mux.iEndOfFile_0\n";

TEST_F(DiagramScript, RunEndsAtItsLimitAndShutsTheDiagramDown) {
  ASSERT_EQ(Execute(kLiveDiagram + "run 0.2\n"), ScriptEnd::Done);
  EXPECT_NE(engine.ModuleState("mux") & 0x1 /* dead */, 0);
  EXPECT_TRUE(reports->Contains([](const ReportRecord& r) {
    return r.level == Error && r.text.find("upstream") != std::string::npos;
  }));
}

TEST_F(DiagramScript, RunEndsWhenEveryComponentHasDied) {
  // Without a limit the run returns only because the lone component dies.
  ASSERT_EQ(Execute(kLoad + "component SortingMultiplexer alone\nrun\n"), ScriptEnd::Done);
}

TEST_F(DiagramScript, AShutdownRequestInterruptsTheScript) {
  engine.RequestShutdown();  // e.g. Ctrl-C before the run begins
  EXPECT_EQ(Execute(kLiveDiagram + "run\ncomponent SortingMultiplexer after\n"),
            ScriptEnd::Interrupted);
  EXPECT_EQ(engine.Component("after"), nullptr);
}

TEST_F(DiagramScript, AStopAskedWhileSettingUpEndsTheScriptAtTheNextStatement) {
  int asked = 0;
  EXPECT_EQ(Execute(kLoad + "component SortingMultiplexer first\n"
                            "component SortingMultiplexer second\n",
                    [&asked] { return ++asked > 2; }),
            ScriptEnd::Interrupted)
      << (errors.empty() ? "" : errors.front());
  EXPECT_NE(engine.Component("first"), nullptr);
  EXPECT_EQ(engine.Component("second"), nullptr);
}

}  // namespace
}  // namespace velquor::test

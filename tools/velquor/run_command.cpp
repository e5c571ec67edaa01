// velquor run: reads a diagram script and runs it in a fresh engine. A
// script without a `run` statement runs once at its end, without a limit.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "commands.h"
#include "console.h"
#include "package_search.h"
#include "stop_requests.h"
#include "velquor/engine.h"
#include "velquor/script.h"

namespace velquor::tool {

int RunScript(const std::string& path, bool verbose) {
  Console console;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    console.Message("velquor run: cannot read '" + path + "': " + std::strerror(errno));
    return kFailure;
  }
  std::ostringstream text;
  text << file.rdbuf();
  ParsedScript parsed = ParseDiagramScript(text.str());
  for (const ScriptDiagnostic& error : parsed.errors) {
    console.Message(path + ":" + std::to_string(error.line) + ": " + error.message);
  }
  if (!parsed.Ok()) return kFailure;
  const bool runs =
      std::any_of(parsed.statements.begin(), parsed.statements.end(),
                  [](const ScriptStatement& s) { return s.kind == ScriptStatement::Kind::Run; });
  if (!runs) {
    ScriptStatement run;
    run.kind = ScriptStatement::Kind::Run;
    run.line = parsed.statements.empty() ? 1 : parsed.statements.back().line;
    parsed.statements.push_back(run);
  }

  auto sink = std::make_shared<ToolReportSink>(console, verbose);
  Engine engine(EngineOptions{false, false});
  engine.AddReportSink(sink);
  KernelBinding binding(engine);
  // Scripts that packages run (DAXO::Parse) find packages as this one does.
  engine.SetScriptPackageFolders(PackageFolders());
  StopRequests stop([&engine] { engine.RequestShutdown(); });

  ScriptContext context;
  context.fileName = path;
  context.baseDir = std::filesystem::path(path).parent_path().string();
  context.packageDirs = PackageFolders();
  context.error = [&console](const std::string& message) { console.Message(message); };
  context.stopRequested = [&stop] { return stop.Interrupted(); };
  const ScriptEnd end = ExecuteDiagramScript(engine, parsed.statements, context);
  engine.ShutdownDiagram();

  if (stop.Interrupted()) {
    console.Message("velquor run: interrupted");
    return kInterrupted;
  }
  if (end == ScriptEnd::Failed) return kFailure;
  if (sink->Failures() > 0) {
    console.Message("velquor run: " + std::to_string(sink->Failures()) + " error report(s)");
    return kFailure;
  }
  return kSuccess;
}

}  // namespace velquor::tool

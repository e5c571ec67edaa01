// Diagram scripts: a line-based text that builds and runs a diagram.
//
//   # comment (a '#' at the start of a line or after a blank)
//   load PATH                                  a package file (or bare package name)
//   component MODEL NAME [prop=value ...]      create a component and set properties
//   function MODEL NAME [prop=value ...]       load an engine function: create it,
//                                              set properties, start it
//   connect NAME.output NAME.input             connect an output to an input
//   set NAME.prop value                        set a property (value: rest of the line)
//   run [SECONDS]                              start, run until all dead / the limit, shut down
//
// Values may be double-quoted ("a b", with \" and \\ escapes). A value is
// converted by the kind of the property it is written to: bool (true, false,
// 1, 0, yes, no, on, off), integer (decimal or 0x hexadecimal), float,
// string, enumeration (one of its values, by text).
//
// ParseDiagramScript is a pure function of the text (no engine, no files):
// it never throws on any input and reports every malformed line.
// ExecuteDiagramScript applies parsed statements to an engine on the
// calling thread; it blocks for as long as a `run` statement runs.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "velquor/api.h"
#include "velquor/engine.h"

namespace velquor {

struct ScriptStatement {
  enum class Kind { Load, Component, Connect, Set, Run, Function };
  Kind kind = Kind::Load;
  int line = 0;  // 1-based line of the statement in the text
  /// Load: the path as written.
  std::string path;
  /// Component and Function: model and instance name, then prop=value
  /// pairs in order.
  std::string model;
  std::string name;
  std::vector<std::pair<std::string, std::string>> settings;
  /// Connect: full names of the output and of the input.
  std::string output;
  std::string input;
  /// Set: full name of the property ("NAME.prop") and the value text.
  std::string property;
  std::string value;
  /// Run: the time limit in seconds; negative when none was given.
  double seconds = -1;
};

struct ScriptDiagnostic {
  int line = 0;
  std::string message;  // without file and line
};

struct ParsedScript {
  std::vector<ScriptStatement> statements;
  std::vector<ScriptDiagnostic> errors;  // one per malformed line, in line order
  bool Ok() const { return errors.empty(); }
};

/// Parses the whole text. Statements of malformed lines are left out.
VELQUOR_API ParsedScript ParseDiagramScript(std::string_view text);

/// A property value converted from its text.
struct ScriptValue {
  int type = 0;  // DAXO::PropertyType...
  bool boolean = false;
  long integer = 0;  // also the selected index of an enumeration
  double floating = 0;
  std::string text;
  std::string error;  // empty when the text converts
};

/// Converts `text` for a property of kind `type` (DAXO::PropertyType...);
/// `choices` are the enumeration's values.
VELQUOR_API ScriptValue ConvertScriptValue(int type, std::string_view text,
                                           const std::vector<std::string>& choices = {});

/// How ExecuteDiagramScript ended.
enum class ScriptEnd { Done, Failed, Interrupted };

struct ScriptContext {
  /// Named in every message: "<fileName>:<line>: <message>".
  std::string fileName = "<script>";
  /// Relative `load` paths are taken from this folder (empty: the working folder).
  std::string baseDir;
  /// Folders searched for a `load` of a bare name ("velquor_io" or
  /// "velquor_io.pck") that is not a file relative to baseDir.
  std::vector<std::string> packageDirs;
  /// Receives each failure message; by default it becomes an engine error report.
  std::function<void(const std::string&)> error;
  /// Asked before each statement: true ends the script (Interrupted), so
  /// that a stop asked for while a long script sets up is not lost.
  std::function<bool()> stopRequested;
  /// For scripts the engine runs for its users (DAXO::Parse): a `run`
  /// starts the diagram (Engine::StartDiagram) and goes on without waiting
  /// for it or shutting it down, and `run SECONDS` fails, since the waiting
  /// caller may be one of the components it would wait for.
  bool runStartsOnly = false;
};

/// Applies `statements` in order, stopping at the first failure (reported
/// through context.error with the statement's line). Loading a package that
/// the engine already loaded from the same file is not an error. A
/// `function` line builds the engine function, sets its properties and
/// starts it; a failure there unloads it again. A `set` reaches a
/// component's or an engine function's property. A `run`
/// starts the diagram, blocks in Engine::RunDiagram (until every component
/// has died, the limit, or Engine::RequestShutdown from any thread) and shuts
/// the diagram down; a run ended by RequestShutdown ends the script
/// (Interrupted).
VELQUOR_API ScriptEnd ExecuteDiagramScript(Engine& engine,
                                           const std::vector<ScriptStatement>& statements,
                                           const ScriptContext& context);

}  // namespace velquor

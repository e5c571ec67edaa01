// Diagram scripts: the parser (a pure function of the text) and the executor
// that applies the statements to an engine. The fuzz target builds this file
// with VELQUOR_SCRIPT_PARSER_ONLY: the parser and the value conversions
// alone, with no engine to link.
#include "diagram_script.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include "daxo_property_value.h"
#include "velquor/script.h"

#ifndef VELQUOR_SCRIPT_PARSER_ONLY
#include "daxo_component.h"
#include "daxo_core_function.h"
#include "daxo_property.h"
#endif

namespace velquor {

namespace script_detail {

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}
}  // namespace

void LineReader::SkipBlanks() {
  while (m_pos < m_line.size() && IsBlank(m_line[m_pos])) ++m_pos;
}

bool LineReader::AtEnd() {
  SkipBlanks();
  return m_pos >= m_line.size() || m_line[m_pos] == '#';
}

bool LineReader::NextIsQuoted() {
  return !AtEnd() && m_line[m_pos] == '"';
}

bool LineReader::Word(std::string& word, std::string& error, std::size_t* equals, bool* quoted) {
  word.clear();
  if (equals != nullptr) *equals = std::string::npos;
  if (AtEnd()) return false;
  if (quoted != nullptr) *quoted = m_line[m_pos] == '"';
  bool inQuotes = false;
  for (; m_pos < m_line.size(); ++m_pos) {
    const char c = m_line[m_pos];
    if (inQuotes) {
      if (c == '"') {
        inQuotes = false;
      } else if (c == '\\' && m_pos + 1 < m_line.size() &&
                 (m_line[m_pos + 1] == '"' || m_line[m_pos + 1] == '\\')) {
        word.push_back(m_line[++m_pos]);
      } else {
        word.push_back(c);
      }
      continue;
    }
    if (IsBlank(c)) break;
    if (c == '"') {
      inQuotes = true;
    } else {
      if (c == '=' && equals != nullptr && *equals == std::string::npos) *equals = word.size();
      word.push_back(c);
    }
  }
  if (inQuotes) {
    error = "unterminated quote";
    return false;
  }
  return true;
}

std::string_view LineReader::Rest() {
  SkipBlanks();
  std::size_t end = m_pos;
  for (std::size_t i = m_pos; i < m_line.size(); ++i) {
    if (m_line[i] == '#' && (i == m_pos || IsBlank(m_line[i - 1]))) break;
    end = i + 1;
  }
  while (end > m_pos && IsBlank(m_line[end - 1])) --end;
  std::string_view rest = m_line.substr(m_pos, end - m_pos);
  m_pos = m_line.size();
  return rest;
}

bool IsName(std::string_view text) {
  if (text.empty() || std::isalpha(static_cast<unsigned char>(text[0])) == 0) return false;
  return std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
}

bool SplitFullName(std::string_view full, std::string_view& component, std::string_view& element) {
  const std::size_t dot = full.find('.');
  if (dot == std::string_view::npos) return false;
  component = full.substr(0, dot);
  element = full.substr(dot + 1);
  if (!IsName(component) || element.empty()) return false;
  std::string_view rest = element;
  for (;;) {
    const std::size_t next = rest.find('.');
    if (!IsName(rest.substr(0, next))) return false;
    if (next == std::string_view::npos) return true;
    rest = rest.substr(next + 1);
  }
}

}  // namespace script_detail

using script_detail::IsName;
using script_detail::LineReader;
using script_detail::SplitFullName;

// --- parser ----------------------------------------------------------------------

namespace {

// A word as a message shows it: whole when short, else its start and its
// length (a line of a megabyte must not come back in every message).
constexpr std::size_t kQuotedMax = 60;

std::string Quote(std::string_view text) {
  if (text.size() <= kQuotedMax) return "'" + std::string(text) + "'";
  return "'" + std::string(text.substr(0, kQuotedMax)) + "...' (" + std::to_string(text.size()) +
         " bytes)";
}

/// Parses one non-empty line into `statement`; returns the error text
/// (empty when the line is a statement).
std::string ParseLine(LineReader& reader, ScriptStatement& statement) {
  std::string keyword;
  std::string error;
  std::string word;
  if (!reader.Word(keyword, error)) return error;

  auto noMore = [&](const char* what) -> std::string {
    if (reader.AtEnd()) return {};
    return std::string("unexpected text after ") + what + ": " + Quote(reader.Rest());
  };

  if (keyword == "load") {
    statement.kind = ScriptStatement::Kind::Load;
    if (!reader.Word(statement.path, error)) {
      return error.empty() ? "'load' needs a package path" : error;
    }
    if (statement.path.empty()) return "'load' needs a package path";
    return noMore("the package path");
  }

  if (keyword == "component" || keyword == "function") {
    const bool component = keyword == "component";
    statement.kind = component ? ScriptStatement::Kind::Component : ScriptStatement::Kind::Function;
    if (!reader.Word(statement.model, error) || !reader.Word(statement.name, error)) {
      return error.empty() ? "'" + keyword + "' needs a model and a name" : error;
    }
    if (!IsName(statement.model)) return "invalid model name " + Quote(statement.model);
    if (!IsName(statement.name)) {
      return std::string(component ? "invalid component name " : "invalid function name ") +
             Quote(statement.name) + " (a letter, then letters, digits or '_')";
    }
    std::size_t equals = 0;
    while (reader.Word(word, error, &equals)) {
      if (equals == std::string::npos || !IsName(std::string_view(word).substr(0, equals))) {
        return "expected prop=value, got " + Quote(word);
      }
      statement.settings.emplace_back(word.substr(0, equals), word.substr(equals + 1));
    }
    return error;
  }

  if (keyword == "connect") {
    statement.kind = ScriptStatement::Kind::Connect;
    if (!reader.Word(statement.output, error) || !reader.Word(statement.input, error)) {
      return error.empty() ? "'connect' needs an output and an input (NAME.output NAME.input)"
                           : error;
    }
    std::string_view component;
    std::string_view element;
    for (const std::string* name : {&statement.output, &statement.input}) {
      if (!SplitFullName(*name, component, element)) {
        return "invalid element name " + Quote(*name) + " (expected NAME.element)";
      }
    }
    return noMore("the input");
  }

  if (keyword == "set") {
    statement.kind = ScriptStatement::Kind::Set;
    if (!reader.Word(statement.property, error)) {
      return error.empty() ? "'set' needs a property (NAME.prop) and a value" : error;
    }
    std::string_view component;
    std::string_view element;
    if (!SplitFullName(statement.property, component, element)) {
      return "invalid property name " + Quote(statement.property) + " (expected NAME.prop)";
    }
    if (reader.AtEnd()) return "'set' needs a value after " + Quote(statement.property);
    if (reader.NextIsQuoted()) {
      if (!reader.Word(statement.value, error)) return error;
      return noMore("the quoted value");
    }
    statement.value = std::string(reader.Rest());
    return {};
  }

  if (keyword == "run") {
    statement.kind = ScriptStatement::Kind::Run;
    if (!reader.Word(word, error)) return error;  // no limit (or a bad quote)
    double seconds = 0;
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, seconds);
    if (ec != std::errc() || ptr != end || !std::isfinite(seconds) || seconds < 0) {
      return "invalid time " + Quote(word) + " (seconds, 0 or more)";
    }
    statement.seconds = seconds;
    return noMore("the time");
  }

  return "unknown statement " + Quote(keyword);
}

}  // namespace

ParsedScript ParseDiagramScript(std::string_view text) {
  ParsedScript parsed;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    ++lineNumber;
    LineReader reader(line);
    if (reader.AtEnd()) continue;
    ScriptStatement statement;
    statement.line = lineNumber;
    std::string error = ParseLine(reader, statement);
    if (error.empty()) {
      parsed.statements.push_back(std::move(statement));
    } else {
      parsed.errors.push_back(ScriptDiagnostic{lineNumber, std::move(error)});
    }
  }
  return parsed;
}

// --- values ----------------------------------------------------------------------

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool ParseInteger(std::string_view text, long& value) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty() || digits[0] == '-' || digits[0] == '+') return false;
  unsigned long magnitude = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, magnitude, base);
  if (ec != std::errc() || ptr != end) return false;
  constexpr unsigned long kMax = static_cast<unsigned long>(std::numeric_limits<long>::max());
  if (negative) {
    if (magnitude > kMax + 1) return false;
    value =
        magnitude == kMax + 1 ? std::numeric_limits<long>::min() : -static_cast<long>(magnitude);
  } else {
    if (magnitude > kMax) return false;
    value = static_cast<long>(magnitude);
  }
  return true;
}

}  // namespace

ScriptValue ConvertScriptValue(int type, std::string_view text,
                               const std::vector<std::string>& choices) {
  ScriptValue value;
  value.type = type;
  value.text = std::string(text);
  switch (type) {
    case DAXO::PropertyTypeBool: {
      const std::string word = Lower(text);
      if (word == "true" || word == "1" || word == "yes" || word == "on") {
        value.boolean = true;
      } else if (word == "false" || word == "0" || word == "no" || word == "off") {
        value.boolean = false;
      } else {
        value.error = "expected true or false, got " + Quote(text);
      }
      break;
    }
    case DAXO::PropertyTypeInteger:
      if (!ParseInteger(text, value.integer)) {
        value.error = "expected an integer, got " + Quote(text);
      }
      break;
    case DAXO::PropertyTypeFloat: {
      const char* end = text.data() + text.size();
      const auto [ptr, ec] = std::from_chars(text.data(), end, value.floating);
      if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value.floating)) {
        value.error = "expected a number, got " + Quote(text);
      }
      break;
    }
    case DAXO::PropertyTypeString:
      break;
    case DAXO::PropertyTypeEnum: {
      const auto found = std::find(choices.begin(), choices.end(), text);
      if (found != choices.end()) {
        value.integer = found - choices.begin();
        break;
      }
      if (choices.empty()) {
        value.error = "the enumeration has no values";
        break;
      }
      std::string list;
      for (const std::string& choice : choices) list += (list.empty() ? "" : ", ") + choice;
      value.error = "expected one of " + list + "; got " + Quote(text);
      break;
    }
    default:
      value.error = "a property of kind " + std::to_string(type) + " cannot be set from text";
      break;
  }
  return value;
}

// --- executor --------------------------------------------------------------------

#ifndef VELQUOR_SCRIPT_PARSER_ONLY

namespace {

namespace fs = std::filesystem;

class Executor {
 public:
  Executor(Engine& engine, const ScriptContext& context) : m_engine(engine), m_context(context) {}

  ScriptEnd Do(const ScriptStatement& s) {
    m_line = s.line;
    switch (s.kind) {
      case ScriptStatement::Kind::Load:
        return Load(s.path) ? ScriptEnd::Done : ScriptEnd::Failed;
      case ScriptStatement::Kind::Component:
        return Create(s) ? ScriptEnd::Done : ScriptEnd::Failed;
      case ScriptStatement::Kind::Function:
        return LoadFunction(s) ? ScriptEnd::Done : ScriptEnd::Failed;
      case ScriptStatement::Kind::Connect:
        return Connect(s.output, s.input) ? ScriptEnd::Done : ScriptEnd::Failed;
      case ScriptStatement::Kind::Set: {
        std::string_view component;
        std::string_view property;
        if (!SplitFullName(s.property, component, property)) {
          return Fail("invalid property name " + Quote(s.property));
        }
        return Set(std::string(component), std::string(property), s.value) ? ScriptEnd::Done
                                                                           : ScriptEnd::Failed;
      }
      case ScriptStatement::Kind::Run:
        return Run(s.seconds);
    }
    return Fail("unknown statement");
  }

 private:
  ScriptEnd Fail(const std::string& message) {
    const std::string text = m_context.fileName + ":" + std::to_string(m_line) + ": " + message;
    if (m_context.error) {
      m_context.error(text);
    } else {
      m_engine.Report(text, Error);
    }
    return ScriptEnd::Failed;
  }

  static bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
  }

  /// A relative path is first taken from the script's folder, then from the
  /// working folder; a bare name is then looked up in the package folders.
  fs::path Resolve(const std::string& written) const {
    const fs::path path(written);
    if (path.is_relative() && !m_context.baseDir.empty()) {
      const fs::path local = fs::path(m_context.baseDir) / path;
      if (IsFile(local)) return local;
    }
    if (IsFile(path)) return path;
    if (written.find('/') == std::string::npos) {
      for (const std::string& dir : m_context.packageDirs) {
        for (const std::string& file : {written, written + ".pck"}) {
          const fs::path candidate = fs::path(dir) / file;
          if (IsFile(candidate)) return candidate;
        }
      }
    }
    return {};
  }

  bool Load(const std::string& written) {
    const fs::path path = Resolve(written);
    if (path.empty()) {
      Fail("package " + Quote(written) + " not found");
      return false;
    }
    if (!m_engine.UsePackage(path.string())) {
      Fail("cannot load package " + Quote(path.string()));
      return false;
    }
    return true;
  }

  bool Create(const ScriptStatement& s) {
    if (!m_engine.CreateComponent(s.model, s.name)) {
      const auto models = m_engine.Models();
      const bool known = std::any_of(models.begin(), models.end(),
                                     [&](const ModelInfo& m) { return m.name == s.model; });
      if (!known && m_engine.Component(s.name) == nullptr) {
        Fail("unknown model " + Quote(s.model) + " (no loaded package offers it)");
      } else {
        Fail("cannot create component " + Quote(s.name) + " of model " + Quote(s.model));
      }
      return false;
    }
    for (const auto& [property, value] : s.settings) {
      if (!Set(s.name, property, value)) return false;
    }
    return true;
  }

  bool LoadFunction(const ScriptStatement& s) {
    if (m_engine.CreateCoreFunction(s.model, s.name) == nullptr) {
      const auto models = m_engine.FunctionModels();
      const bool known = std::any_of(models.begin(), models.end(),
                                     [&](const FunctionModelInfo& m) { return m.name == s.model; });
      if (!known) {
        Fail("unknown engine-function model " + Quote(s.model) + " (no loaded package offers it)");
      } else {
        Fail("cannot load engine function " + Quote(s.name) + " of model " + Quote(s.model));
      }
      return false;
    }
    for (const auto& [property, value] : s.settings) {
      if (!Set(s.name, property, value)) {
        m_engine.UnloadCoreFunction(s.name);
        return false;
      }
    }
    if (!m_engine.StartCoreFunction(s.name)) {
      Fail("engine function " + Quote(s.name) + " did not start");
      m_engine.UnloadCoreFunction(s.name);
      return false;
    }
    return true;
  }

  DAXOComponent* FindComponent(const std::string& name) {
    DAXOComponent* component = m_engine.Component(name);
    if (component == nullptr) Fail("unknown component " + Quote(name));
    return component;
  }

  /// A component, or else an engine function, of that name.
  DAXOModule* FindModule(const std::string& name) {
    if (DAXOComponent* component = m_engine.Component(name)) return component;
    if (DAXOCoreFunction* function = m_engine.CoreFunction(name)) return function;
    Fail("unknown component " + Quote(name));
    return nullptr;
  }

  bool Set(const std::string& componentName, const std::string& shortName,
           const std::string& text) {
    DAXOModule* component = FindModule(componentName);
    if (component == nullptr) return false;
    const std::string fullName = componentName + "." + shortName;
    auto* property =
        static_cast<DAXOProperty*>(m_engine.FindSymbol(fullName, DAXOSymbolKind::Property));
    if (property == nullptr) {
      Fail("unknown property " + Quote(fullName));
      return false;
    }
    const int type = property->Type();
    std::vector<std::string> choices;
    if (type == DAXO::PropertyTypeEnum) {
      const DAXOEnumStruct values = property->EnumValues();
      for (int i = 0; i < values.Count(); ++i) choices.emplace_back(values.Value(i));
    }
    const ScriptValue value = ConvertScriptValue(type, text, choices);
    if (!value.error.empty()) {
      Fail("property " + Quote(fullName) + ": " + value.error);
      return false;
    }
    if (!property->IsMutable()) {
      Fail("property " + Quote(fullName) + " is read-only");
      return false;
    }
    // A write that the component's shape rules refuse is reported by the
    // component and caught inside it; its error state tells.
    const bool erredBefore = (m_engine.ModuleState(componentName) & DAXO::ErrorState) != 0;
    try {
      // The component's own (virtual) write: its checks, callbacks and shape.
      switch (type) {
        case DAXO::PropertyTypeBool:
          component->Set(*property, value.boolean);
          break;
        case DAXO::PropertyTypeInteger:
        case DAXO::PropertyTypeEnum:
          component->Set(*property, value.integer);
          break;
        case DAXO::PropertyTypeFloat:
          component->Set(*property, value.floating);
          break;
        default:
          component->Set(*property, DAXOString(value.text.c_str()));
          break;
      }
    } catch (...) {
      // The component reported why.
      Fail("cannot set " + Quote(fullName) + " to " + Quote(text));
      return false;
    }
    if (!erredBefore && (m_engine.ModuleState(componentName) & DAXO::ErrorState) != 0) {
      Fail("cannot set " + Quote(fullName) + " to " + Quote(text));
      return false;
    }
    return true;
  }

  bool Connect(const std::string& output, const std::string& input) {
    std::string_view component;
    std::string_view element;
    for (const std::string* name : {&output, &input}) {
      if (!SplitFullName(*name, component, element)) {
        Fail("invalid element name " + Quote(*name));
        return false;
      }
      if (FindComponent(std::string(component)) == nullptr) return false;
    }
    if (m_engine.FindSymbol(output, DAXOSymbolKind::Output) == nullptr) {
      Fail("unknown output " + Quote(output));
      return false;
    }
    if (m_engine.FindSymbol(input, DAXOSymbolKind::Input) == nullptr) {
      Fail("unknown input " + Quote(input));
      return false;
    }
    if (!m_engine.Connect(output, input)) {
      Fail("cannot connect " + Quote(output) + " to " + Quote(input));
      return false;
    }
    return true;
  }

  ScriptEnd Run(double seconds) {
    if (m_context.runStartsOnly) {
      if (seconds >= 0) {
        return Fail(
            "'run' with a time limit waits for the diagram, which a script run by the engine "
            "cannot do (its caller may be one of the components); write 'run' alone to start "
            "the diagram");
      }
      return m_engine.StartDiagram() ? ScriptEnd::Done : Fail("the diagram did not start");
    }
    if (!m_engine.StartDiagram()) {
      m_engine.ShutdownDiagram();
      return Fail("the diagram did not start");
    }
    const DAXODelay limit = seconds < 0 ? -1 : static_cast<DAXODelay>(std::llround(seconds * 1e6));
    const RunEnd end = m_engine.RunDiagram(limit);
    m_engine.ShutdownDiagram();
    return end == RunEnd::ShutdownRequested ? ScriptEnd::Interrupted : ScriptEnd::Done;
  }

  Engine& m_engine;
  const ScriptContext& m_context;
  int m_line = 0;
};

}  // namespace

ScriptEnd ExecuteDiagramScript(Engine& engine, const std::vector<ScriptStatement>& statements,
                               const ScriptContext& context) {
  Executor executor(engine, context);
  for (const ScriptStatement& statement : statements) {
    if (context.stopRequested && context.stopRequested()) return ScriptEnd::Interrupted;
    const ScriptEnd end = executor.Do(statement);
    if (end != ScriptEnd::Done) return end;
  }
  return ScriptEnd::Done;
}

#endif  // VELQUOR_SCRIPT_PARSER_ONLY

}  // namespace velquor

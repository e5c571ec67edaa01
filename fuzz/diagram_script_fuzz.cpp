// Diagram script parser: any text parses without a crash, every line is
// either a statement or an error (never both), lines stay in order, and the
// names the parser hands to the engine follow the naming rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "daxo_property_value.h"
#include "velquor/script.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const velquor::ParsedScript parsed = velquor::ParseDiagramScript(text);
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n' ? 1 : 0;

  int last = 0;
  std::size_t s = 0;
  std::size_t e = 0;
  // Statements and errors merged by line: strictly increasing, in range.
  while (s < parsed.statements.size() || e < parsed.errors.size()) {
    const bool takeStatement =
        e == parsed.errors.size() ||
        (s < parsed.statements.size() && parsed.statements[s].line < parsed.errors[e].line);
    const int line = takeStatement ? parsed.statements[s++].line : parsed.errors[e++].line;
    Check(line > last && static_cast<std::size_t>(line) <= lines);
    last = line;
  }
  for (const velquor::ScriptStatement& statement : parsed.statements) {
    using Kind = velquor::ScriptStatement::Kind;
    switch (statement.kind) {
      case Kind::Component:
      case Kind::Function:
        Check(!statement.name.empty() && statement.name.find('.') == std::string::npos);
        for (const auto& [name, value] : statement.settings) Check(!name.empty());
        break;
      case Kind::Connect:
        Check(statement.output.find('.') != std::string::npos);
        Check(statement.input.find('.') != std::string::npos);
        break;
      case Kind::Set:
        Check(statement.property.find('.') != std::string::npos);
        for (int type = DAXO::PropertyTypeBool; type <= DAXO::PropertyTypeEnum; ++type) {
          velquor::ConvertScriptValue(type, statement.value, {"a", statement.value});
        }
        break;
      case Kind::Load:
        Check(!statement.path.empty());
        break;
      case Kind::Run:
        Check(statement.seconds < 0 || statement.seconds == statement.seconds);
        break;
    }
  }
  return 0;
}

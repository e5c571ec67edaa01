// The diagram script parser and the value conversions: what each statement
// yields, where quoting and comments end, and that every malformed line is
// reported with its own line number.
#include <gtest/gtest.h>

#include <limits>

#include "daxo_property_value.h"
#include "velquor/script.h"

namespace velquor {
namespace {

/// Each statement as "LINE KIND" and its fields that are set, values in
/// brackets.
std::vector<std::string> Statements(const ParsedScript& parsed) {
  static const char* const kKinds[] = {"load", "component", "connect", "set", "run", "function"};
  std::vector<std::string> out;
  for (const ScriptStatement& s : parsed.statements) {
    std::string text = std::to_string(s.line) + " " + kKinds[static_cast<int>(s.kind)];
    for (const std::string* field :
         {&s.path, &s.model, &s.name, &s.output, &s.input, &s.property}) {
      if (!field->empty()) text += " " + *field;
    }
    for (const auto& [name, value] : s.settings) text += " " + name + "=[" + value + "]";
    if (s.kind == ScriptStatement::Kind::Set) text += " [" + s.value + "]";
    if (s.kind == ScriptStatement::Kind::Run) {
      text += s.seconds < 0 ? " no limit" : " " + std::to_string(s.seconds);
    }
    out.push_back(text);
  }
  return out;
}

TEST(DiagramScriptParser, ReadsEveryStatementWithItsLine) {
  const ParsedScript parsed = ParseDiagramScript(
      "# a diagram\n"
      "\n"
      "load packages/velquor_io.pck\n"
      "component SortingMultiplexer mux nb_inputs=2 flush_delay=1000   # two streams\n"
      "connect player.output mux.input_0\n"
      "set mux.output.fifosize 32\n"  // a per-element property: a dotted short name
      "run 2.5\n"
      "run\n"
      "function ClockOffset offset offset_us=-250\n");
  ASSERT_TRUE(parsed.Ok()) << parsed.errors[0].message;
  EXPECT_EQ(
      Statements(parsed),
      (std::vector<std::string>{
          "3 load packages/velquor_io.pck",
          "4 component SortingMultiplexer mux nb_inputs=[2] flush_delay=[1000]",
          "5 connect player.output mux.input_0", "6 set mux.output.fifosize [32]", "7 run 2.500000",
          "8 run no limit", "9 function ClockOffset offset offset_us=[-250]"}));
}

TEST(DiagramScriptParser, SetTakesTheRestOfTheLineOrOneQuotedValue) {
  const ParsedScript parsed = ParseDiagramScript(
      "set rec.path /data/my capture.pcap   # where it goes\n"
      "set rec.path   \"/data/with \\\"quotes\\\" and # hash\"  \n"
      "set rec.path a#b\n"  // a '#' inside a word is text
      "set rec.path \"\"\r\n"
      "component CsvPlayer p path=\"/a b/c.csv\" label=x=y\n");
  ASSERT_TRUE(parsed.Ok()) << parsed.errors[0].message;
  EXPECT_EQ(Statements(parsed),
            (std::vector<std::string>{"1 set rec.path [/data/my capture.pcap]",
                                      "2 set rec.path [/data/with \"quotes\" and # hash]",
                                      "3 set rec.path [a#b]", "4 set rec.path []",
                                      "5 component CsvPlayer p path=[/a b/c.csv] label=[x=y]"}));
}

TEST(DiagramScriptParser, ReportsEachMalformedLineAndKeepsTheOthers) {
  const ParsedScript parsed = ParseDiagramScript(
      "load\n"                            // 1
      "component Model\n"                 // 2
      "component Model 9lives\n"          // 3
      "component Model ok novalue\n"      // 4
      "connect a.out\n"                   // 5
      "connect aout b.in\n"               // 6
      "set a.b\n"                         // 7
      "set \"a\".b 1\n"                   // 8: a quoted name is still a name
      "run -1\n"                          // 9
      "run 1 2\n"                         // 10
      "start everything\n"                // 11
      "set a.b \"unterminated\n"          // 12
      "component Model fine\n"            // 13
      "set fine.x \"quoted\" trailing\n"  // 14
      "function Model\n"                  // 15
      "function Model 2x\n");             // 16
  EXPECT_EQ(Statements(parsed),
            (std::vector<std::string>{"8 set a.b [1]", "13 component Model fine"}));
  std::vector<int> lines;
  for (const ScriptDiagnostic& error : parsed.errors) lines.push_back(error.line);
  EXPECT_EQ(lines, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 14, 15, 16}));
  EXPECT_EQ(parsed.errors[9].message, "unknown statement 'start'");
  EXPECT_EQ(parsed.errors[10].message, "unterminated quote");
  EXPECT_EQ(parsed.errors[12].message, "'function' needs a model and a name");
  EXPECT_EQ(parsed.errors[13].message,
            "invalid function name '2x' (a letter, then letters, digits or '_')");

  // A megabyte token comes back as its start and its length.
  const ParsedScript huge = ParseDiagramScript("frob" + std::string(1 << 20, 'x') + "\n");
  ASSERT_EQ(huge.errors.size(), 1u);
  EXPECT_EQ(huge.errors[0].message,
            "unknown statement 'frob" + std::string(56, 'x') + "...' (1048580 bytes)");
}

TEST(DiagramScriptParser, SurvivesArbitraryBytes) {
  std::string text;
  for (int i = 0; i < 4096; ++i) text.push_back(static_cast<char>((i * 7919) % 256));
  const ParsedScript parsed = ParseDiagramScript(text);
  EXPECT_FALSE(parsed.Ok());
  EXPECT_TRUE(ParseDiagramScript(std::string_view("run\0x", 5)).errors.size() == 1);
}

TEST(ScriptValueConversion, FollowsThePropertyKind) {
  EXPECT_TRUE(ConvertScriptValue(DAXO::PropertyTypeBool, "TRUE").boolean);
  EXPECT_TRUE(ConvertScriptValue(DAXO::PropertyTypeBool, "1").boolean);
  EXPECT_FALSE(ConvertScriptValue(DAXO::PropertyTypeBool, "off").boolean);
  EXPECT_FALSE(ConvertScriptValue(DAXO::PropertyTypeBool, "2").error.empty());

  EXPECT_EQ(ConvertScriptValue(DAXO::PropertyTypeInteger, "-42").integer, -42);
  EXPECT_EQ(ConvertScriptValue(DAXO::PropertyTypeInteger, "0x10").integer, 16);
  EXPECT_EQ(ConvertScriptValue(DAXO::PropertyTypeInteger, "-9223372036854775808").integer,
            std::numeric_limits<long>::min());
  for (const char* bad : {"", "12abc", "1.5", "9223372036854775808", "--1", "0x", "-+1"}) {
    EXPECT_FALSE(ConvertScriptValue(DAXO::PropertyTypeInteger, bad).error.empty()) << bad;
  }

  EXPECT_DOUBLE_EQ(ConvertScriptValue(DAXO::PropertyTypeFloat, "2.5e3").floating, 2500.0);
  EXPECT_FALSE(ConvertScriptValue(DAXO::PropertyTypeFloat, "nan").error.empty());
  EXPECT_FALSE(ConvertScriptValue(DAXO::PropertyTypeFloat, "1,5").error.empty());

  EXPECT_EQ(ConvertScriptValue(DAXO::PropertyTypeString, "any text at all").text,
            "any text at all");

  const std::vector<std::string> modes = {"Normal", "Immediate", "Timestamp"};
  EXPECT_EQ(ConvertScriptValue(DAXO::PropertyTypeEnum, "Timestamp", modes).integer, 2);
  const ScriptValue wrong = ConvertScriptValue(DAXO::PropertyTypeEnum, "timestamp", modes);
  EXPECT_EQ(wrong.error, "expected one of Normal, Immediate, Timestamp; got 'timestamp'");
  EXPECT_FALSE(ConvertScriptValue(DAXO::PropertyTypeEnum, "x", {}).error.empty());
}

}  // namespace
}  // namespace velquor

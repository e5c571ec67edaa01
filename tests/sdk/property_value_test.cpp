#include "daxo_property_value.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Without a bound engine kernel, reports go to standard error.
std::string ReportsOf(const std::function<void()>& action) {
  testing::internal::CaptureStderr();
  action();
  return testing::internal::GetCapturedStderr();
}

std::string Report(const std::string& text) {
  return "[error 0] External : " + text + "\n";
}

const std::string kReset = Report(
    "DAXOEnumStruct::FromString: Selected value incompatible with enum values for property. "
    "Selected property is set to 0.");
const std::string kMismatch = Report(
    "DAXOEnumStruct::FromString: Declared size of enum struct does not match the number of "
    "given elements.");

std::string IllFormed(const std::string& text) {
  return Report(
      "DAXOEnumStruct::FromString: Ill-formed enum string "
      "[expected:nbVal|selected|val0|val1|val2...] [received:" +
      text + "]");
}

std::string FormOf(const DAXOEnumStruct& e) {
  return static_cast<const char*>(e.ToString());
}

TEST(DAXOEnumStruct, FromStringReadsWellFormedAndMalformedTexts) {
  struct Case {
    const char* text;
    bool keepValues;
    const char* result;  // text form afterwards; the enumeration starts as 3|1|p|q|r
    std::string reports;
  };
  const std::string ill = "<ill-formed>";  // stands for IllFormed(text)
  // clang-format off
  const Case cases[] = {
      {"3|1|a|b|c", false, "3|1|a|b|c", ""},        {"1|0|", false, "1|0|", ""},
      {"3|-1|a|b|c", false, "3|-1|a|b|c", ""},  // -1: nothing selected
      {"4|3|a||b|", false, "4|3|a||b|", ""},
      {"3|5|a|b|c", false, "3|0|a|b|c", kReset},    {"3|-5|a|b|c", false, "3|0|a|b|c", kReset},
      // Counts that differ from the values given, however far, never read
      // past the text nor size an allocation.
      {"2|0|a|b|c", false, "0|-1", kMismatch},      {"3|1|a|b", false, "0|-1", kMismatch},
      {"3|1", false, "0|-1", kMismatch},            {"2147483647|0|a", false, "0|-1", kMismatch},
      {"0|0|a|b", false, "0|-1", ""},               {"-2|1|a|b", false, "0|-1", ""},
      // Keeping the values takes only the selection.
      {"9|2|x", true, "3|2|p|q|r", ""},             {"0|-1", true, "3|-1|p|q|r", ""},
      {"3|3|a|b|c", true, "3|0|p|q|r", kReset},     {"3|-7", true, "3|0|p|q|r", kReset},
      // Not an enumeration string: reported, nothing changes.
      {"", false, "3|1|p|q|r", ill},                {"abc", false, "3|1|p|q|r", ill},
      {"3|", false, "3|1|p|q|r", ill},              {"3|x|a", true, "3|1|p|q|r", ill},
      {"3 |1|a", false, "3|1|p|q|r", ill},          {"99999999999|0|a", false, "3|1|p|q|r", ill},
      {"3|2147483648|a", false, "3|1|p|q|r", ill},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << (c.keepValues ? " (keeping values)" : ""));
    DAXOEnumStruct e("p|q|r", 1);
    const bool illFormed = c.reports == ill;
    EXPECT_EQ(ReportsOf([&] { e.FromString(c.text, c.keepValues); }),
              illFormed ? IllFormed(c.text) : c.reports);
    EXPECT_EQ(FormOf(e), c.result);
    EXPECT_EQ(DAXOEnumStruct::IsEnumString(c.text), !illFormed);
  }
}

TEST(DAXOEnumStruct, TextFormRoundTrips) {
  DAXOEnumStruct e("x|y", 1);
  EXPECT_TRUE(FormOf(e) == "2|1|x|y" && e.SelectedValue() == "y");
  EXPECT_EQ(FormOf(DAXOEnumStruct(nullptr, 0)), "0|-1");
  for (const char* text : {"3|1|a|b|c", "0|-1", "2|-1|with space| padded ", "1|0|"}) {
    DAXOEnumStruct parsed;
    parsed.FromString(text, false);
    DAXOEnumStruct back;
    back.FromString(parsed.ToString(), false);
    EXPECT_EQ(FormOf(parsed), text);
    EXPECT_TRUE(back == parsed) << text;
  }
}

TEST(DAXOEnumStruct, IsEnumStringReadsTwoIntegersLikePercentD) {
  for (const char* text : {" 2| +1 and then anything", "-2147483648|2147483647"}) {
    EXPECT_TRUE(DAXOEnumStruct::IsEnumString(text)) << text;
  }
  EXPECT_FALSE(DAXOEnumStruct::IsEnumString("red|green") || DAXOEnumStruct::IsEnumString("12"));
}

TEST(DAXOEnumStruct, ConstructorFromValuesSplitsAtEveryBar) {
  EXPECT_EQ(ReportsOf([] {
              EXPECT_EQ(FormOf(DAXOEnumStruct("a|b|", 2)), "3|2|a|b|");
              EXPECT_EQ(FormOf(DAXOEnumStruct("", 0)), "0|-1");
            }),
            "");
  // Here -1 is refused too, and the report has no final point.
  const std::string reset = Report(
      "Selected value incompatible with enum values for property. Selected property is set to 0");
  for (int wanted : {3, -1, -9}) {
    EXPECT_EQ(ReportsOf([&] { EXPECT_EQ(FormOf(DAXOEnumStruct("a|b|c", wanted)), "3|0|a|b|c"); }),
              reset);
  }
}

TEST(DAXOEnumStruct, SelectNeedsTheSameBytes) {
  DAXOEnumStruct e("a|ab|b", 0);
  EXPECT_TRUE(e.Select("ab"));
  EXPECT_EQ(e.selected, 1);
  EXPECT_FALSE(e.Select("A"));
  EXPECT_TRUE(e.selected == -1 && e.SelectedValue() == "");
  DAXOEnumStruct fresh;  // no value array at all
  EXPECT_FALSE(fresh.Select(""));
}

TEST(DAXOEnumStruct, CopiesAreDeep) {
  DAXOEnumStruct source("a|b", 1);
  DAXOEnumStruct copy(source);
  ASSERT_NE(copy.values, source.values);
  copy.values->operator()(0) = "changed";
  EXPECT_EQ(FormOf(source), "2|1|a|b");
  DAXOEnumStruct target("x|y|z", 2);
  target = source;
  EXPECT_TRUE(target == source);
  EXPECT_NE(target.values, source.values);
  target.Copy(target);
  EXPECT_EQ(FormOf(target), "2|1|a|b");
}

TEST(DAXOPropertyValue, TextConstructorChoosesEnumerationForTheEnumForm) {
  const DAXOPropertyValue e("3|2|Normal|Immediate|Timestamp");
  ASSERT_EQ(e.Type(), DAXO::PropertyTypeEnum);
  EXPECT_EQ(e.value.enumeration->SelectedValue(), "Timestamp");
  for (const char* text : {"hello", "12", "a|1|x", "", "3 |1"}) {
    const DAXOPropertyValue s(text);
    ASSERT_EQ(s.Type(), DAXO::PropertyTypeString) << text;
    EXPECT_EQ(*s.value.string, text);
  }
  const DAXOPropertyValue null(static_cast<const char*>(nullptr));
  ASSERT_EQ(null.Type(), DAXO::PropertyTypeString);
  EXPECT_EQ(*null.value.string, "");
  // The enumeration form wins even when its values do not add up.
  EXPECT_EQ(ReportsOf([] { EXPECT_EQ(DAXOPropertyValue("1|2").Type(), DAXO::PropertyTypeEnum); }),
            kMismatch);
  const DAXOPropertyValue listed("lo|hi", 1);
  ASSERT_EQ(listed.Type(), DAXO::PropertyTypeEnum);
  EXPECT_EQ(FormOf(*listed.value.enumeration), "2|1|lo|hi");
}

TEST(DAXOPropertyValue, CopyIsDeep) {
  const DAXOPropertyValue text("some text");
  DAXOPropertyValue copy(text);
  ASSERT_EQ(copy.Type(), DAXO::PropertyTypeString);
  EXPECT_NE(copy.value.string, text.value.string);
  *copy.value.string = "changed";
  EXPECT_EQ(*text.value.string, "some text");

  const DAXOPropertyValue e("3|2|a|b|c");
  DAXOPropertyValue target(42L);
  target.Copy(e);
  ASSERT_EQ(target.Type(), DAXO::PropertyTypeEnum);
  EXPECT_NE(target.value.enumeration, e.value.enumeration);
  target.value.enumeration->Select("a");
  EXPECT_EQ(e.value.enumeration->selected, 2);
  target.Copy(target);
  EXPECT_EQ(target.value.enumeration->selected, 0);

  target = text;  // the enumeration is freed, the string copied
  EXPECT_EQ(*target.value.string, "some text");
  target = DAXOPropertyValue(1.25);
  EXPECT_EQ(target.Type(), DAXO::PropertyTypeFloat);
  DAXOPropertyValue moved(std::move(copy));
  EXPECT_EQ(*moved.value.string, "changed");
}

}  // namespace

// What a package declares: type information, property values and
// enumerations, and the definition records of its models.
#include "daxo_definitions.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "daxo_property_value.h"
#include "daxo_type_info.h"

namespace {

// Tables written the way a package writes its model: static arrays, each
// ending with an all-zero row, and a definition with counts of -1.
const DAXOTypeFilterBase kPcapFilter{DAXO::DynamicStructure, DAXO::DynamicStructure, DAXO::TypeMask,
                                     "DAXOpcap_data_t"};

DAXOInputDefinition gInputs[] = {
    {"input_0", 0, &kPcapFilter, DAXO::NeverSkippingReader, 1},
    {"iEndOfFile_0", 0, &DAXO::FilterOneInteger64, DAXO::FifoReader, 1},
    {},
};

DAXOOutputDefinition gOutputs[] = {
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {"output", 0, DAXOTypeInfo(DAXO::AnyType), 0, 16, 1, 1},
    {},
};

DAXOPropertyDefinition gProperties[] = {
    {"nb_inputs", new DAXOPropertyValue(1L), nullptr, false, false, false, true, 0},
    {"flush_delay", new DAXOPropertyValue(500000L), "us", false, true, false, true,
     DAXO::PropertySubTypeTime},
    {"mode", new DAXOPropertyValue("3|0|Normal|Immediate|Timestamp")},
    {0},
};

std::string gCalls;
void Plain(DAXOModule*, int index) {
  gCalls += "plain " + std::to_string(index) + ";";
}
void WithArgument(DAXOModule*, int index, const char* argument) {
  gCalls += "arg " + std::to_string(index) + " " + argument + ";";
}

DAXOActionDefinition gActions[] = {
    {"reset", new DAXOActionFunction{&Plain, nullptr}},
    {"rename", new DAXOActionFunction{&Plain, &WithArgument}, true},
    {},
};

DAXOActionDefinition gNoActions[] = {{}};

DAXOComponentDefinition gDefinition = {
    .name = "SortingMultiplexer",
    .version = "1.4.0",
    .nbInputs = 0xFFFFFFFF,
    .inputs = gInputs,
    .nbOutputs = 0xFFFFFFFF,
    .outputs = gOutputs,
    .nbProperties = 0xFFFFFFFF,
    .properties = gProperties,
    .nbActions = 0xFFFFFFFF,
    .actions = gNoActions,
    .priority = 128,
    .kind = DAXO::Threaded,
    .threaded = true,
};

TEST(DAXOComponentDefinition, StaticTablesEndWithAZeroRowAndCountsResolveToTheRows) {
  DAXOComponentDefinition definition = gDefinition;
  for (int pass = 0; pass < 2; ++pass) {  // a second call changes nothing
    definition.ResolveCounts();
    EXPECT_EQ(definition.nbInputs, 2u);
    EXPECT_EQ(definition.nbOutputs, 2u);
    EXPECT_EQ(definition.nbProperties, 3u);
    EXPECT_EQ(definition.nbActions, 0u);
  }

  // Exact counts are trusted; a missing table holds no rows.
  DAXOComponentDefinition partial{
      .nbInputs = 1,
      .inputs = gInputs,
      .nbOutputs = DAXOComponentDefinition::CountUntilZeroRow,
      .nbProperties = DAXOComponentDefinition::CountUntilZeroRow,
  };
  partial.ResolveCounts();
  EXPECT_TRUE(partial.nbInputs == 1 && partial.nbOutputs == 0 && partial.nbProperties == 0);
}

TEST(DAXOPropertyDefinition, CopiesOwnTheirOwnValue) {
  DAXOPropertyDefinition copy(gProperties[1]);
  ASSERT_NE(copy.value, nullptr);
  EXPECT_NE(copy.value, gProperties[1].value);
  EXPECT_EQ(copy.value->value.integer, 500000);
  EXPECT_STREQ(copy.unit, "us");
  EXPECT_TRUE(copy.canBeModifiedAfterStart && copy.locked && !copy.readOnly);
  copy.value->value.integer = 1;
  EXPECT_EQ(gProperties[1].value->value.integer, 500000);

  copy = gProperties[2];
  ASSERT_EQ(copy.value->Type(), DAXO::PropertyTypeEnum);
  EXPECT_NE(copy.value->value.enumeration, gProperties[2].value->value.enumeration);
  copy = copy;
  EXPECT_EQ(copy.value->value.enumeration->ToString(), "3|0|Normal|Immediate|Timestamp");

  const DAXOPropertyDefinition bare = gProperties[1].CopyWithoutValue();
  EXPECT_EQ(bare.value, nullptr);
  EXPECT_EQ(bare.name, gProperties[1].name);  // the same text, as rows are identified by it
  EXPECT_TRUE(bare.subtype == DAXO::PropertySubTypeTime && bare.locked);
}

TEST(DAXOActionDefinition, RunPrefersTheFunctionWithArgument) {
  gCalls.clear();
  EXPECT_TRUE(!gActions[0].NeedArgument() && gActions[1].NeedArgument());
  EXPECT_FALSE(gActions[2].NeedArgument());  // the zero row
  gActions[0].action->Run(nullptr, 0, "ignored");
  gActions[1].action->Run(nullptr, 1, "cam");
  DAXOActionFunction{nullptr, nullptr}.Run(nullptr, 2, "nothing");
  EXPECT_EQ(gCalls, "plain 0;arg 1 cam;");
}

TEST(DAXOActionDefinition, CopiesOwnTheirOwnFunction) {
  DAXOActionDefinition copy(gActions[1]);
  EXPECT_NE(copy.action, gActions[1].action);
  EXPECT_TRUE(copy.allowedWhenDead && copy.NeedArgument());
  copy = gActions[0];
  EXPECT_STREQ(copy.name, "reset");
  EXPECT_NE(copy.action, gActions[0].action);
  EXPECT_FALSE(copy.allowedWhenDead || copy.NeedArgument());
}

TEST(DAXOOutputDefinition, AssignmentCopiesTheTypeDeeply) {
  DAXOOutputDefinition named{"image", 0, DAXOTypeInfo(DAXO::DAXOImage, "DAXOImage", "px"), 640, 8,
                             2,       0};
  DAXOOutputDefinition copy;
  copy = named;
  EXPECT_STREQ(copy.name, "image");
  EXPECT_TRUE(copy.size == 640 && copy.fifoSize == 8 && copy.subsampling == 2 && !copy.shareable);
  ASSERT_NE(copy.type.name, nullptr);
  EXPECT_NE(copy.type.name, named.type.name);
  EXPECT_EQ(*copy.type.unit, "px");
  copy = gOutputs[1];  // no name: the copied-over name goes
  EXPECT_TRUE(copy.type.name == nullptr && copy.type.value == DAXO::AnyType);
}

TEST(DAXOTypeInfo, SetNameKeepsOneStringOfAnyLengthAndNullGivesAnEmptyOne) {
  DAXOTypeInfo type(DAXO::Integer32);
  EXPECT_EQ(type.name, nullptr);
  type.SetName(nullptr);
  type.SetUnit(nullptr);
  ASSERT_TRUE(type.name != nullptr && type.unit != nullptr);
  EXPECT_TRUE(*type.name == "" && *type.unit == "");

  DAXOString* first = type.name;
  const std::string longName(100, 'n');
  type.SetName(longName.c_str());
  EXPECT_EQ(type.name, first);
  EXPECT_EQ(*type.name, longName.c_str());
  EXPECT_EQ(type.name->GetCapacity(), 120);  // grows in 40-byte steps
  type.SetName(*type.name);                  // its own text
  EXPECT_EQ(*type.name, longName.c_str());
}

TEST(DAXOTypeInfo, CopiesAreDeepAndAnAbsentStringDeletesTheTargets) {
  DAXOTypeInfo source(DAXO::DynamicStructure | DAXO::VectorFlag, "DAXOpcap_data_t", "packets");
  DAXOTypeInfo copy(source);
  EXPECT_EQ(copy.value, source.value);
  ASSERT_TRUE(copy.name != nullptr && copy.unit != nullptr);
  EXPECT_TRUE(copy.name != source.name && copy.unit != source.unit);
  copy.SetName("other");
  copy.SetUnit("m");
  EXPECT_TRUE(*source.name == "DAXOpcap_data_t" && *source.unit == "packets");

  DAXOTypeInfo assigned(DAXO::Float64, "x", "y");
  assigned = source;
  EXPECT_EQ(assigned.value, source.value);
  EXPECT_NE(assigned.name, source.name);
  EXPECT_TRUE(*assigned.name == "DAXOpcap_data_t" && *assigned.unit == "packets");
  assigned = assigned;
  ASSERT_NE(assigned.name, nullptr);
  EXPECT_EQ(*assigned.name, "DAXOpcap_data_t");
  DAXOTypeInfo moved(std::move(copy));
  EXPECT_EQ(*moved.name, "other");

  assigned = DAXOTypeInfo(DAXO::Integer8, "kept");
  EXPECT_EQ(assigned.value, DAXO::Integer8);
  ASSERT_NE(assigned.name, nullptr);
  EXPECT_TRUE(*assigned.name == "kept" && assigned.unit == nullptr);
  const DAXOTypeInfo bare(DAXO::Float32);
  assigned = bare;
  EXPECT_EQ(assigned.name, nullptr);
}

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
      {"2|-1|with space| padded ", false, "2|-1|with space| padded ", ""},
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
    // The text form reads back into an equal enumeration.
    DAXOEnumStruct back;
    back.FromString(e.ToString(), false);
    EXPECT_TRUE(back == e);
  }
  DAXOEnumStruct e("x|y", 1);
  EXPECT_TRUE(FormOf(e) == "2|1|x|y" && e.SelectedValue() == "y");
  EXPECT_EQ(FormOf(DAXOEnumStruct(nullptr, 0)), "0|-1");
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

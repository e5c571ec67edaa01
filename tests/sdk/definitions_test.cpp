#include "daxo_definitions.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace

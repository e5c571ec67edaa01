#include "daxo_type_info.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

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

}  // namespace

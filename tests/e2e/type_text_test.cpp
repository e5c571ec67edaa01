// What `velquor inspect` says an input accepts is worked out from its type
// filter's bits by the filter's own matching rule: these filters cover each
// way the bits can restrict a type (a demanded kind, the vector flag either
// way, a demanded flag, patterns, a contradiction).
#include <gtest/gtest.h>

#include <string>

#include "type_text.h"

namespace velquor::tool {
namespace {

struct FilterCase {
  const char* what;
  DAXOTypeInfoValue mask, x, maskX;
  const char* namePattern;
  const char* unitPattern;
  const char* expected;
};

class AcceptedTypesTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(AcceptedTypesTest, FollowsTheFilterBits) {
  const FilterCase& c = GetParam();
  const DAXOTypeFilterBase filter{c.mask, c.x, c.maskX, c.namePattern, c.unitPattern};
  EXPECT_EQ(AcceptedTypes(filter), c.expected);
}

constexpr DAXOTypeInfoValue kOneValueMask = DAXO::VectorFlag | DAXO::TypeMask;

INSTANTIATE_TEST_SUITE_P(
    Filters, AcceptedTypesTest,
    ::testing::Values(
        // Only maskX: the old listing read the mask and said "none".
        FilterCase{"AnyKind", 0, 0, DAXO::TypeMask, nullptr, nullptr, "any type"},
        FilterCase{"AnyTypeValue", 0, 0, DAXO::AnyType, nullptr, nullptr, "any type"},
        FilterCase{"Floats64", 0, 0, DAXO::Float64, nullptr, nullptr, "Float64 (single or vector)"},
        FilterCase{"TwoKinds", 0, 0, DAXO::Integer64 | DAXO::CANUniFrame, nullptr, nullptr,
                   "Integer64, CANUniFrame (single or vector)"},
        // The mask pins the vector flag clear, or set.
        FilterCase{"OneFloat64", kOneValueMask, DAXO::Float64, DAXO::TypeMask, nullptr, nullptr,
                   "Float64 (single only)"},
        FilterCase{"VectorsOnly", DAXO::VectorFlag, DAXO::VectorFlag, DAXO::Float32, nullptr,
                   nullptr, "Float32 (vector only)"},
        // The mask demands a kind that maskX alone would not: only that kind
        // passes, and the name pattern is part of the answer.
        FilterCase{"CaptureStream", DAXO::DynamicStructure, DAXO::DynamicStructure, DAXO::TypeMask,
                   "DAXOpcap_data_t", nullptr,
                   "DynamicStructure (single or vector), type name matching \"DAXOpcap_data_t\""},
        // A pattern restricts even a filter that takes every kind.
        FilterCase{"EveryKindOfOneUnit", 0, 0, DAXO::TypeMask, nullptr, "^m/s$",
                   "any kind (single or vector), unit matching \"^m/s$\""},
        // A demanded flag: a type without it never passes.
        FilterCase{"DemandedFlag", DAXO::FrequencyFlag, DAXO::FrequencyFlag, DAXO::Integer8,
                   nullptr, nullptr, "Integer8 (single or vector), with flags 0x4000000000000000"},
        FilterCase{"Contradiction", DAXO::Float64, 0, DAXO::Float64, nullptr, nullptr, "nothing"}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return info.param.what; });

}  // namespace
}  // namespace velquor::tool

#include "daxo_type_filter.h"

#include <atomic>

#include "daxo_regexp.h"
// Shared with the runtime tests: ThreadGroup.
#include "../runtime/runtime_test_support.h"

namespace {

struct Expected {
  const char* name;
  const DAXOTypeFilterBase* filter;
  DAXOTypeInfoValue mask, x, maskX;
};

constexpr DAXOTypeInfoValue kOne = 0x80000000FFFFFFFFull;

#define SIMPLE(f, bits) \
  { #f, &DAXO::f, 0, 0, bits }
#define ONE(f, kind) \
  { #f, &DAXO::f, kOne, kind, 0xFFFFFFFF }

// clang-format off
const Expected kPredefined[] = {
    SIMPLE(FilterAny, 0xFFFFFFFF),
    SIMPLE(FilterInteger, 0x2), SIMPLE(FilterIntegers, 0x2), SIMPLE(FilterInteger32, 0x2),
    SIMPLE(FilterIntegers32, 0x2),
    SIMPLE(FilterFloat, 0x4), SIMPLE(FilterFloats, 0x4), SIMPLE(FilterDouble, 0x4),
    SIMPLE(FilterDoubles, 0x4), SIMPLE(FilterFloat64, 0x4), SIMPLE(FilterFloats64, 0x4),
    SIMPLE(FilterFloat32, 0x10000), SIMPLE(FilterFloats32, 0x10000),
    SIMPLE(FilterInteger8, 0x100000), SIMPLE(FilterIntegers8, 0x100000),
    SIMPLE(FilterInteger16, 0x200000), SIMPLE(FilterIntegers16, 0x200000),
    SIMPLE(FilterInteger64, 0x8000), SIMPLE(FilterIntegers64, 0x8000),
    SIMPLE(FilterUnsignedInteger8, 0x1000), SIMPLE(FilterUnsignedIntegers8, 0x1000),
    SIMPLE(FilterUnsignedInteger16, 0x2000), SIMPLE(FilterUnsignedIntegers16, 0x2000),
    SIMPLE(FilterUnsignedInteger32, 0x4000), SIMPLE(FilterUnsignedIntegers32, 0x4000),
    SIMPLE(FilterUnsignedInteger64, 0x400000), SIMPLE(FilterUnsignedIntegers64, 0x400000),
    SIMPLE(FilterNumber, 0x71F006), SIMPLE(FilterNumbers, 0x71F006),
    SIMPLE(FilterAnyIntegers, 0x70F002), SIMPLE(FilterAnyFloats, 0x10004),
    SIMPLE(FilterSignedIntegers, 0x308002), SIMPLE(FilterUnsignedIntegers, 0x407000),
    SIMPLE(FilterSignedNumbers, 0x318006), SIMPLE(FilterUnsignedNumbers, 0x407000),
    SIMPLE(FilterStructure, 0x1), SIMPLE(FilterDynamicStructure, 0x40000),
    SIMPLE(FilterCustomType, 0x800000),
    SIMPLE(FilterTextAscii, 0x8), SIMPLE(FilterTextUTF8, 0x8), SIMPLE(FilterTextUnicode, 0x10),
    SIMPLE(FilterTextUTF16, 0x10),
    SIMPLE(FilterImage, 0x60), SIMPLE(FilterIplImage, 0x20), SIMPLE(FilterDAXOImage, 0x40),
    SIMPLE(FilterCANFrame, 0x80), SIMPLE(FilterCANFDFrame, 0x80000),
    SIMPLE(FilterCANUniFrame, 0x1000000), SIMPLE(FilterAnyCANFrame, 0x1080080),
    SIMPLE(FilterMatrix, 0x100), SIMPLE(FilterRealObjects, 0x200),
    SIMPLE(FilterDrawingObjects, 0x400), SIMPLE(FilterTriangles3D, 0x800),
    SIMPLE(FilterStream8, 0x1000), SIMPLE(FilterStream16, 0x2000), SIMPLE(FilterStream32, 0x4000),
    SIMPLE(FilterAudioSignal, 0x20000), SIMPLE(FilterAudioSignals, 0x31000),
    ONE(FilterOneInteger, 0x2), ONE(FilterOneInteger32, 0x2),
    ONE(FilterOneFloat, 0x4), ONE(FilterOneDouble, 0x4), ONE(FilterOneFloat64, 0x4),
    ONE(FilterOneFloat32, 0x10000), ONE(FilterOneInteger8, 0x100000),
    ONE(FilterOneInteger16, 0x200000), ONE(FilterOneInteger64, 0x8000),
    ONE(FilterOneUnsignedInteger8, 0x1000), ONE(FilterOneUnsignedInteger16, 0x2000),
    ONE(FilterOneUnsignedInteger32, 0x4000), ONE(FilterOneUnsignedInteger64, 0x400000),
    {"FilterOneNumber", &DAXO::FilterOneNumber, 0x8000000000000000ull, 0, 0x71F006},
};
// clang-format on

#undef SIMPLE
#undef ONE

bool Accepts(const DAXOTypeFilterBase& filter, DAXOTypeInfoValue value, const char* name = nullptr,
             const char* unit = nullptr) {
  const DAXOTypeInfo type(value, name, unit);
  const bool result = filter.Match(type);
  EXPECT_EQ(DAXO::TypeFilter(type, filter), result);
  return result;
}

// Each predefined filter holds the bits of the table (checked against the
// table, not against the filter) and accepts by the bit rule: every kind
// alone, with a second kind, under any flags, and the extreme values.
TEST(DAXOTypeFilterBase, PredefinedFiltersHaveTheirBitsAndAcceptByTheBitRule) {
  const DAXOTypeInfoValue flags[] = {0, DAXO::VectorFlag,
                                     DAXO::FrequencyFlag | DAXO::QualityFlag | DAXO::IgnoreUnitFlag,
                                     DAXO::MiscFlag | DAXO::IgnoreNameFlag};
  for (const Expected& e : kPredefined) {
    SCOPED_TRACE(e.name);
    const DAXOTypeFilterBase& f = *e.filter;
    EXPECT_TRUE(f.mask == e.mask && f.x == e.x && f.maskX == e.maskX);
    EXPECT_TRUE(f.nameFilter == nullptr && f.unitFilter == nullptr);
    auto rule = [&e](DAXOTypeInfoValue v) { return (e.mask & (e.x ^ v)) == 0 && (e.maskX & v); };
    for (int bit = 0; bit < 32; ++bit) {
      const DAXOTypeInfoValue kind = DAXOTypeInfoValue{1} << bit;
      for (DAXOTypeInfoValue v : {kind | flags[0], kind | flags[1], kind | flags[2],
                                  kind | flags[3], kind | e.x, kind | e.maskX}) {
        EXPECT_EQ(Accepts(f, v), rule(v)) << std::hex << v;
      }
    }
    for (DAXOTypeInfoValue v : {DAXO::NoType, DAXO::AnyType, ~DAXO::TypeMask, e.x | e.maskX}) {
      EXPECT_EQ(Accepts(f, v), rule(v)) << std::hex << v;
    }
  }
  // The rule at work: a simple filter takes a vector of its kind among
  // others; one value means one kind, no vector.
  EXPECT_TRUE(Accepts(DAXO::FilterAny, DAXO::AnyType));
  EXPECT_TRUE(Accepts(DAXO::FilterFloat32, DAXO::Float32 | DAXO::Integer8 | DAXO::VectorFlag));
  EXPECT_TRUE(Accepts(DAXO::FilterOneFloat32, DAXO::Float32 | DAXO::FrequencyFlag));
  EXPECT_FALSE(Accepts(DAXO::FilterOneFloat32, DAXO::Float32 | DAXO::VectorFlag));
  EXPECT_FALSE(Accepts(DAXO::FilterOneInteger, DAXO::Integer32 | DAXO::Float64));
  EXPECT_TRUE(Accepts(DAXO::FilterOneNumber, DAXO::Integer32 | DAXO::Float64 | DAXO::QualityFlag));
  EXPECT_FALSE(Accepts(DAXO::FilterOneNumber, DAXO::Integer16 | DAXO::VectorFlag));
  EXPECT_FALSE(Accepts(DAXO::FilterOneNumber, DAXO::TextAscii));
}

TEST(DAXOTypeFilterBase, MaskPinsBitsToXAndMaskXWantsOneOfItsBits) {
  const DAXOTypeFilterBase filter{0xF0, 0x30, 0x300};
  EXPECT_TRUE(Accepts(filter, 0x130));
  EXPECT_TRUE(Accepts(filter, 0x33F));   // bits outside both masks are free
  EXPECT_FALSE(Accepts(filter, 0x120));  // a masked bit differs from x
  EXPECT_FALSE(Accepts(filter, 0x1B0));  // a masked bit set that x has clear
  EXPECT_FALSE(Accepts(filter, 0x030));  // none of maskX
  EXPECT_FALSE(Accepts(DAXOTypeFilterBase{0, 0, DAXO::NoMask}, DAXO::AnyType));
}

TEST(DAXOTypeFilterBase, PatternsNeedANameAndUnitUnlessTheTypeIgnoresThem) {
  const DAXOTypeFilterBase pcap{DAXO::DynamicStructure, DAXO::DynamicStructure, DAXO::TypeMask,
                                "DAXOpcap_data_t"};
  const DAXOTypeInfoValue v = DAXO::DynamicStructure;
  EXPECT_TRUE(Accepts(pcap, v | DAXO::VectorFlag, "DAXOpcap_data_t"));
  EXPECT_TRUE(Accepts(pcap, v, "my_DAXOpcap_data_t_v2"));  // searched, not anchored
  EXPECT_FALSE(Accepts(pcap, v, "DAXOcan_data_t"));
  EXPECT_FALSE(Accepts(pcap, v));      // no name
  EXPECT_FALSE(Accepts(pcap, v, ""));  // an empty name is a name that does not match
  EXPECT_TRUE(Accepts(pcap, v | DAXO::IgnoreNameFlag, "anything"));
  EXPECT_FALSE(Accepts(pcap, v | DAXO::IgnoreUnitFlag));            // the wrong flag
  EXPECT_FALSE(Accepts(pcap, DAXO::Structure, "DAXOpcap_data_t"));  // masks still apply

  const DAXOTypeFilterBase both{0, 0, DAXO::AnyFloat, "^speed$", "^m/s$"};
  EXPECT_TRUE(Accepts(both, DAXO::Float32, "speed", "m/s"));
  EXPECT_FALSE(Accepts(both, DAXO::Float32, "speed", "km/s"));
  EXPECT_FALSE(Accepts(both, DAXO::Float32, "speed"));  // no unit
  EXPECT_FALSE(Accepts(both, DAXO::Float32, "height", "m/s"));
  EXPECT_TRUE(Accepts(both, DAXO::Float32 | DAXO::IgnoreNameFlag, "height", "m/s"));
  EXPECT_TRUE(Accepts(both, DAXO::Float32 | DAXO::IgnoreUnitFlag, "speed"));
  EXPECT_FALSE(Accepts(both, DAXO::Float32 | DAXO::IgnoreNameFlag, "speed"));
  EXPECT_TRUE(Accepts(both, DAXO::AnyType));

  const DAXOTypeFilterBase broken{0, 0, DAXO::TypeMask, "(unclosed"};
  EXPECT_FALSE(Accepts(broken, DAXO::Integer32, "(unclosed"));
  EXPECT_TRUE(Accepts(broken, DAXO::Integer32 | DAXO::IgnoreNameFlag, "anything"));
}

TEST(DAXOTypeFilterBase, PatternIsCompiledOnceOnTheFirstMatchThatNeedsIt) {
  const DAXOTypeFilterBase filter{0, 0, DAXO::Integer32, "^count$"};
  EXPECT_FALSE(Accepts(filter, DAXO::Float64, "count"));  // refused by the bits alone
  EXPECT_EQ(filter.nameRegExp.load(), nullptr);
  EXPECT_TRUE(Accepts(filter, DAXO::Integer32, "count"));
  DAXORegExp* compiled = filter.nameRegExp.load();
  ASSERT_NE(compiled, nullptr);
  EXPECT_FALSE(Accepts(filter, DAXO::Integer32, "counter"));
  EXPECT_EQ(filter.nameRegExp.load(), compiled);
  EXPECT_EQ(filter.unitRegExp.load(), nullptr);
}

TEST(DAXOTypeFilterBase, EqualityComparesMasksAndPatternTexts) {
  char nameA[] = "^pcap$";
  char nameB[] = "^pcap$";  // another buffer, same text
  const DAXOTypeFilterBase a{1, 2, 3, nameA, nullptr};
  EXPECT_TRUE(a == (DAXOTypeFilterBase{1, 2, 3, nameB, nullptr}));
  EXPECT_FALSE((DAXOTypeFilterBase{1, 2, 3, nullptr, nullptr}) == a);
  const DAXOTypeFilterBase different[] = {
      {1, 2, 3, nullptr, nullptr}, {1, 2, 3, "^other$", nullptr}, {1, 2, 3, nameA, "^m$"},
      {9, 2, 3, nameA, nullptr},   {1, 9, 3, nameA, nullptr},     {1, 2, 9, nameA, nullptr}};
  for (const DAXOTypeFilterBase& d : different) EXPECT_FALSE(a == d);
}

// Components match against shared filters from their own threads: the first
// matches race to compile and publish the pattern, and every match runs the
// regular expression at the same time as the others.
TEST(DAXOTypeFilterBaseConcurrency, ThreadsMatchOneFreshFilterTogether) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 300;
  for (int attempt = 0; attempt < 5; ++attempt) {
    const DAXOTypeFilterBase filter{0, 0, DAXO::AnyNumber, "^sample_[0-9]+$", "^(ms|us)$"};
    const DAXOTypeInfo types[] = {DAXOTypeInfo(DAXO::Float64, "sample_42", "us"),
                                  DAXOTypeInfo(DAXO::Float64, "sample_x", "us"),
                                  DAXOTypeInfo(DAXO::Float64, "sample_7", "s")};
    std::atomic<int> wrong{0};
    daxo_test::ThreadGroup(kThreads, [&](int t) {
      for (int i = 0; i < kRounds; ++i) {
        const int which = (i + t) % 3;
        if (filter.Match(types[which]) != (which == 0)) wrong.fetch_add(1);
      }
    }).Join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_NE(filter.nameRegExp.load(), nullptr);
    EXPECT_NE(filter.unitRegExp.load(), nullptr);
  }
}

}  // namespace

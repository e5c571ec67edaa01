#include "daxo_c_wrappers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

template <class V>
std::string ItoaText(V value, int radix) {
  char buf[80];
  return DAXO::Itoa(value, buf, radix);
}

TEST(DAXOCWrappers, ItoaWritesAMinusSignOnlyInRadixTen) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {ItoaText(-255, 10), "-255"},        {ItoaText(-1, 16), "ffffffff"},
      {ItoaText(-1, 8), "37777777777"},    {ItoaText(-1, 2), std::string(32, '1')},
      {ItoaText(INT_MIN, 10), "-2147483648"}, {ItoaText(0, 7), "0"}, {ItoaText(35, 36), "z"},
      {ItoaText(-1L, 16), "ffffffffffffffff"}, {ItoaText(LONG_MIN, 10), "-9223372036854775808"},
      {ItoaText(ULONG_MAX, 10), "18446744073709551615"}, {ItoaText(4294967295u, 10), "4294967295"},
      {ItoaText(12, 1), ""},               {ItoaText(12, 37), ""}};
  // clang-format on
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  EXPECT_EQ(DAXO::Itoa(5, nullptr, 10), nullptr);
}

TEST(DAXOCWrappers, StricmpFoldsOnlyAsciiLetters) {
  EXPECT_EQ(DAXO::Stricmp("Hello World", "hELLO wORLD"), 0);
  EXPECT_EQ(DAXO::Stricmp("[", "a"), '[' - 'a');  // '[' follows 'Z' but is not folded
  EXPECT_LT(DAXO::Stricmp("abc", "ABD"), 0);
  EXPECT_GT(DAXO::Stricmp("abcd", "ABC"), 0);
  EXPECT_EQ(DAXO::Stricmp("ab", "abc"), -'c');
  EXPECT_NE(DAXO::Stricmp("\xc9", "\xe9"), 0);        // Latin-1 E acute
  EXPECT_EQ(DAXO::Stricmp("\xff", "a"), 0xff - 'a');  // bytes are unsigned
  EXPECT_EQ(DAXO::Stricmp(nullptr, ""), 0);
  EXPECT_LT(DAXO::Stricmp(nullptr, "a"), 0);
}

TEST(DAXOCWrappers, NullTextsActAsEmptyOrNull) {
  EXPECT_TRUE(DAXO::Strlen(nullptr) == 0 && DAXO::Strlen("four") == 4);
  EXPECT_EQ(DAXO::Strcmp(nullptr, ""), 0);
  EXPECT_LT(DAXO::Strcmp(nullptr, "a"), 0);
  EXPECT_EQ(DAXO::Strncmp("abcX", "abcY", 3), 0);
  EXPECT_EQ(DAXO::Strstr(static_cast<const char*>(nullptr), "a"), nullptr);
  EXPECT_EQ(DAXO::Strchr(static_cast<const char*>(nullptr), 'a'), nullptr);
  EXPECT_EQ(DAXO::Strdup(nullptr), nullptr);
  char dst[16] = "keep";
  EXPECT_EQ(DAXO::Strcat(dst, nullptr), dst);
  EXPECT_STREQ(dst, "keep");
  EXPECT_EQ(DAXO::Strcpy(nullptr, "x"), nullptr);
  EXPECT_EQ(DAXO::Memcpy(nullptr, nullptr, 0), nullptr);

  const char* hay = "needle in hay";
  EXPECT_EQ(DAXO::Strstr(hay, "in"), hay + 7);
  EXPECT_EQ(DAXO::Strchr(hay, 'h'), hay + 10);
  char* copy = DAXO::Strdup(hay);
  EXPECT_STREQ(copy, hay);
  std::free(copy);
}

TEST(DAXOCWrappers, NumberParsersFollowTheCLibrary) {
  EXPECT_EQ(DAXO::Atoi(" -42x"), -42);
  EXPECT_EQ(DAXO::Atoi("99999999999"), INT_MAX);
  EXPECT_EQ(DAXO::Atoi("-99999999999"), INT_MIN);
  EXPECT_EQ(DAXO::Atoi(nullptr), 0);
  EXPECT_EQ(DAXO::Atoi64("-9000000000"), -9000000000L);
  char* end = nullptr;
  const char* text = "0x1Fz";
  EXPECT_EQ(DAXO::Strtol(text, &end, 16), 31);
  EXPECT_EQ(end, text + 4);
  EXPECT_EQ(DAXO::Strtoui64("18446744073709551615", nullptr, 10), ULONG_MAX);
  EXPECT_EQ(DAXO::Strtoi64("-077", nullptr, 0), -63);
  EXPECT_EQ(DAXO::Strtoul("12", nullptr, 10), 12UL);
  EXPECT_DOUBLE_EQ(DAXO::Strtod("2.5e3 rest", &end), 2500.0);
  EXPECT_STREQ(end, " rest");
  end = reinterpret_cast<char*>(1);
  EXPECT_EQ(DAXO::Strtol(nullptr, &end, 10), 0);
  EXPECT_EQ(end, nullptr);
}

TEST(DAXOCWrappers, CharacterClassesAcceptNegativeChars) {
  EXPECT_TRUE(DAXO::IsSpace(' ') && DAXO::IsSpace('\t') && DAXO::IsDigit('7'));
  EXPECT_FALSE(DAXO::IsSpace('x') || DAXO::IsSpace(static_cast<char>(0xA0)));
  EXPECT_FALSE(DAXO::IsDigit(static_cast<char>(-7)));
}

}  // namespace

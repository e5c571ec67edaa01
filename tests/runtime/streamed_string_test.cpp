#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "daxo_string.h"

namespace {

using DAXOSManip::dec;
using DAXOSManip::endl;
using DAXOSManip::ends;
using DAXOSManip::hex;
using DAXOSManip::oct;

std::string Text(const DAXOStreamedString& s) {
  return std::string(s);
}

TEST(DAXOStreamedString, BaseManipulatorsApplyToIntegersUntilChanged) {
  DAXOStreamedString s;
  s << hex << 255 << " " << static_cast<short>(-1) << " " << -1L << " " << dec << 255;
  EXPECT_EQ(Text(s), "ff ffff ffffffffffffffff 255");

  DAXOStreamedString o;
  o << oct << 8 << " " << static_cast<unsigned short>(9) << " " << -1 << dec << " " << -1;
  EXPECT_EQ(Text(o), "10 11 37777777777 -1");

  DAXOStreamedString d;
  d << static_cast<short>(-5) << " " << 4000000000u << " " << LONG_MIN << " " << ULONG_MAX;
  EXPECT_EQ(Text(d), "-5 4000000000 -9223372036854775808 18446744073709551615");

  // A value that is no manipulator is ignored: no text, the base kept.
  DAXOStreamedString x;
  x << hex << DAXOSManip::DAXOIOSBase{0x30u} << 255;
  EXPECT_EQ(Text(x), "ff");
}

TEST(DAXOStreamedString, FloatingPointUsesTenSignificantDigitsInEveryBase) {
  DAXOStreamedString s;
  s << hex << 0.1 << " " << 1e20 << " " << 0.1f << " " << 255.0 << " " << -2.5;
  EXPECT_EQ(Text(s), "0.1 1e+20 0.1000000015 255 -2.5");
}

TEST(DAXOStreamedString, EndsAddsANulThatTheCStringViewDoesNotShow) {
  DAXOStreamedString s("abc");
  s << ends;
  EXPECT_EQ(s.Length(), 4);
  EXPECT_STREQ(s, "abc");
  s << endl;
  EXPECT_EQ(s.Length(), 5);
  EXPECT_EQ(s[4], '\n');

  // A string with an embedded NUL inserts only the bytes before it.
  DAXOStreamedString t;
  t << s << "|" << DAXOString() << static_cast<const char*>(nullptr);
  EXPECT_EQ(Text(t), "abc|");
}

TEST(DAXOStreamedString, BoolCharPointerAndSmallIntegersHaveFixedForms) {
  DAXOStreamedString s;
  s << true << "," << false << "," << 'x' << "," << static_cast<unsigned char>(200) << ","
    << static_cast<signed char>(-3);
  EXPECT_EQ(Text(s), "true,false,x,200,-3");
  DAXOStreamedString p;
  int target = 0;
  p << static_cast<const void*>(&target);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%p", static_cast<void*>(&target));
  EXPECT_EQ(Text(p), expected);
}

TEST(DAXOStreamedString, PrintHelpersIgnoreTheStreamBase) {
  DAXOStreamedString s;
  DAXOSManip::_printHex16(s, static_cast<unsigned short>(-1));
  s << " ";
  DAXOSManip::_printOct16(s, 8);
  s << " ";
  DAXOSManip::_printHex32(s, 0xABCDu);
  s << " ";
  DAXOSManip::_printOct32(s, 64);
  s << " ";
  DAXOSManip::_printHex64(s, 0x1234567890UL);
  s << " ";
  DAXOSManip::_printOct64(s, 8UL);
  EXPECT_EQ(Text(s), "ffff 10 abcd 100 1234567890 10");
}

TEST(DAXOStreamedString, LongMessagesGrowByTheAppendRule) {
  DAXOStreamedString s;
  for (int i = 0; i < 100; ++i) s << i << ';';
  EXPECT_EQ(s.Length(), 290);
  EXPECT_EQ(s.GetCapacity() % 40, 0);
  EXPECT_GT(s.GetCapacity(), 290);
  EXPECT_EQ(Text(s).substr(0, 8), "0;1;2;3;");
  DAXOStreamedString copy(s);
  EXPECT_TRUE(copy == s);
  copy << hex;
  copy = DAXOString("text");  // keeps the base
  copy << 10;
  EXPECT_EQ(Text(copy), "texta");
}

}  // namespace

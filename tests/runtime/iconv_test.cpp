// Text conversion in the process's own locale (whatever the environment
// sets): wide text, direct handles, buffer growth, failures, concurrent use.
#include <clocale>
#include <cstring>

#include "daxo_iconv.h"
#include "runtime_test_support.h"

namespace {

// "héllo €" and its code points.
const char* const kUtf8 = "h\xc3\xa9llo \xe2\x82\xac";
const wchar_t kWide[] = {L'h', 0xe9, L'l', L'l', L'o', L' ', 0x20ac, 0};

// The text of a converted result (released here), or "<null>".
std::string Taken(char* text) {
  const std::string taken = text != nullptr ? text : "<null>";
  DAXOIconv::releaseUTF8(text);
  return taken;
}

TEST(DAXOIconv, WideTextRoundTripsWithoutByteOrderMark) {
  wchar_t* wide = DAXOIconv::UTF8ToWide(kUtf8);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::wcscmp(wide, kWide), 0) << "first code point: " << static_cast<long>(wide[0]);
  EXPECT_EQ(Taken(DAXOIconv::wideToUTF8(wide)), kUtf8);
  DAXOIconv::releaseWide(wide);

  DAXOString filled("old");
  ASSERT_TRUE(DAXOIconv::wideToUTF8(kWide, filled));
  EXPECT_STREQ(filled, kUtf8);
}

TEST(DAXOIconv, CountsCharactersNotBytes) {
  EXPECT_EQ(DAXOIconv::NbColumns(DAXOString(kUtf8)), 7);
  EXPECT_EQ(DAXOIconv::NbColumns(DAXOString("")), 0);
  EXPECT_EQ(DAXOIconv::NbColumns(DAXOString("ab\xff")), -1);
}

TEST(DAXOIconv, NullInputGivesNullAndAsciiPassesBothWaysInAnyLocale) {
  EXPECT_EQ(Taken(DAXOIconv::localeToUTF8(nullptr)), "<null>");
  EXPECT_EQ(Taken(DAXOIconv::UTF8ToLocale(nullptr)), "<null>");
  EXPECT_EQ(DAXOIconv::UTF8ToWide(nullptr), nullptr);
  EXPECT_EQ(Taken(DAXOIconv::wideToUTF8(nullptr)), "<null>");
  DAXOString out("kept?");
  EXPECT_FALSE(DAXOIconv::localeToUTF8(nullptr, out));
  EXPECT_EQ(out.Length(), 0);
  EXPECT_FALSE(DAXOIconv::wideToUTF8(nullptr, out));
  DAXOIconv::releaseWide(nullptr);
  DAXOIconv::releaseLocale(nullptr);

  EXPECT_EQ(Taken(DAXOIconv::UTF8ToLocale("plain/path_1.txt")), "plain/path_1.txt");
  EXPECT_EQ(Taken(DAXOIconv::localeToUTF8("plain/path_1.txt")), "plain/path_1.txt");
}

TEST(DAXOIconv, SettingUpLeavesNumbersInTheCForm) {
  DAXOIconv::isLocaleUTF8();  // forces the set-up
  EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
  char text[16];
  snprintf(text, sizeof text, "%.1f", 1.5);
  EXPECT_STREQ(text, "1.5");
}

// What `convert` gives for `length` bytes of `input`, or "<null>".
std::string Converted(DAXOIconvHandle* handle, const std::string& input, unsigned long length) {
  return Taken(DAXOIconv::convert(handle, input.c_str(), length));
}

TEST(DAXOIconvHandle, OutputGrowsAsNeededAndIsTerminatedEvenWithoutInputTerminator) {
  DAXOIconvHandle* latin1ToUtf8 = DAXOIconv::open("ISO-8859-1", "UTF-8");
  ASSERT_NE(latin1ToUtf8, nullptr);
  // Four Latin-1 bytes plus NUL (5) need nine UTF-8 bytes; 1000 bytes need
  // many doublings.
  EXPECT_EQ(Converted(latin1ToUtf8, "\xe9\xe9\xe9\xe9", 5), "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9");
  const std::string input(1000, '\xe9');
  EXPECT_EQ(Converted(latin1ToUtf8, input, input.size() + 1).size(), 2000u);
  EXPECT_EQ(Converted(latin1ToUtf8, "ab\xe9", 3), "ab\xc3\xa9");  // no NUL converted
  DAXOIconv::close(latin1ToUtf8);
}

TEST(DAXOIconvHandle, InvalidOrUnmappableInputGivesNull) {
  DAXOIconvHandle* toLatin1 = DAXOIconv::open("UTF-8", "ISO-8859-1");
  ASSERT_NE(toLatin1, nullptr);
  EXPECT_EQ(Converted(toLatin1, "a\xff", 3), "<null>");         // invalid
  EXPECT_EQ(Converted(toLatin1, "a\xc3", 2), "<null>");         // incomplete
  EXPECT_EQ(Converted(toLatin1, "\xe2\x82\xac", 4), "<null>");  // no such char
  EXPECT_EQ(Converted(toLatin1, "\xc3\xa9", 3), "\xe9");        // the handle still works
  DAXOIconv::close(toLatin1);

  EXPECT_EQ(DAXOIconv::open("NO-SUCH-CHARSET", "UTF-8"), nullptr);
  EXPECT_EQ(DAXOIconv::convert(nullptr, "x", 2), nullptr);
  DAXOIconv::close(nullptr);
}

TEST(DAXOIconvConcurrency, ThreadsConvertThroughSharedHandlesWithoutMixingResults) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::atomic<int> failures{0};
  daxo_test::ThreadGroup(kThreads, [&](int t) {
    // Each thread converts text of its own length through the same handles.
    const std::string text = std::string(10 + t * 7, static_cast<char>('a' + t)) + kUtf8;
    for (int i = 0; i < kRounds; ++i) {
      wchar_t* wide = DAXOIconv::UTF8ToWide(text.c_str());
      failures += Taken(DAXOIconv::wideToUTF8(wide)) != text;
      DAXOIconv::releaseWide(wide);
    }
  }).Join();
  EXPECT_EQ(failures, 0);
}

}  // namespace

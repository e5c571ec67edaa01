// Text conversion in the process's own locale (whatever the environment
// sets): wide text, direct handles, buffer growth, failures, concurrent use.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "daxo_iconv.h"

namespace {

// "héllo €" and its code points.
const char* const kUtf8 = "h\xc3\xa9llo \xe2\x82\xac";
const wchar_t kWide[] = {L'h', 0xe9, L'l', L'l', L'o', L' ', 0x20ac, 0};

TEST(DAXOIconv, WideTextRoundTripsWithoutByteOrderMark) {
  wchar_t* wide = DAXOIconv::UTF8ToWide(kUtf8);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::wcscmp(wide, kWide), 0) << "first code point: " << static_cast<long>(wide[0]);
  char* back = DAXOIconv::wideToUTF8(wide);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back, kUtf8);
  DAXOIconv::releaseUTF8(back);
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

TEST(DAXOIconv, NullInputGivesNullResult) {
  EXPECT_EQ(DAXOIconv::localeToUTF8(nullptr), nullptr);
  EXPECT_EQ(DAXOIconv::UTF8ToLocale(nullptr), nullptr);
  EXPECT_EQ(DAXOIconv::UTF8ToWide(nullptr), nullptr);
  EXPECT_EQ(DAXOIconv::wideToUTF8(nullptr), nullptr);
  DAXOString out("kept?");
  EXPECT_FALSE(DAXOIconv::localeToUTF8(nullptr, out));
  EXPECT_EQ(out.Length(), 0);
  EXPECT_FALSE(DAXOIconv::wideToUTF8(nullptr, out));
  DAXOIconv::releaseUTF8(nullptr);
  DAXOIconv::releaseWide(nullptr);
  DAXOIconv::releaseLocale(nullptr);
}

TEST(DAXOIconv, AsciiPassesBothWaysInAnyLocale) {
  char* local = DAXOIconv::UTF8ToLocale("plain/path_1.txt");
  ASSERT_NE(local, nullptr);
  EXPECT_STREQ(local, "plain/path_1.txt");
  char* utf8 = DAXOIconv::localeToUTF8(local);
  ASSERT_NE(utf8, nullptr);
  EXPECT_STREQ(utf8, "plain/path_1.txt");
  DAXOIconv::releaseUTF8(utf8);
  DAXOIconv::releaseLocale(local);
}

TEST(DAXOIconv, SettingUpLeavesNumbersInTheCForm) {
  DAXOIconv::isLocaleUTF8();  // forces the set-up
  EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
  char text[16];
  snprintf(text, sizeof text, "%.1f", 1.5);
  EXPECT_STREQ(text, "1.5");
}

TEST(DAXOIconvHandle, OutputLargerThanInputGrowsTheBuffer) {
  DAXOIconvHandle* latin1ToUtf8 = DAXOIconv::open("ISO-8859-1", "UTF-8");
  ASSERT_NE(latin1ToUtf8, nullptr);
  // Four Latin-1 bytes plus NUL (5) need nine UTF-8 bytes.
  char* small = DAXOIconv::convert(latin1ToUtf8, "\xe9\xe9\xe9\xe9", 5);
  ASSERT_NE(small, nullptr);
  EXPECT_STREQ(small, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9");
  DAXOIconv::releaseUTF8(small);

  // Many doublings: 1000 bytes become 2000.
  const std::string input(1000, '\xe9');
  char* big = DAXOIconv::convert(latin1ToUtf8, input.c_str(), input.size() + 1);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(std::strlen(big), 2000u);
  DAXOIconv::releaseUTF8(big);
  DAXOIconv::close(latin1ToUtf8);
}

TEST(DAXOIconvHandle, ResultIsTerminatedEvenWithoutInputTerminator) {
  DAXOIconvHandle* handle = DAXOIconv::open("ISO-8859-1", "UTF-8");
  ASSERT_NE(handle, nullptr);
  char* out = DAXOIconv::convert(handle, "ab\xe9", 3);  // no NUL converted
  ASSERT_NE(out, nullptr);
  EXPECT_STREQ(out, "ab\xc3\xa9");
  DAXOIconv::releaseUTF8(out);
  DAXOIconv::close(handle);
}

TEST(DAXOIconvHandle, InvalidOrUnmappableInputGivesNull) {
  DAXOIconvHandle* toLatin1 = DAXOIconv::open("UTF-8", "ISO-8859-1");
  ASSERT_NE(toLatin1, nullptr);
  EXPECT_EQ(DAXOIconv::convert(toLatin1, "a\xff", 3), nullptr);         // invalid
  EXPECT_EQ(DAXOIconv::convert(toLatin1, "a\xc3", 2), nullptr);         // incomplete
  EXPECT_EQ(DAXOIconv::convert(toLatin1, "\xe2\x82\xac", 4), nullptr);  // no such char
  char* fine = DAXOIconv::convert(toLatin1, "\xc3\xa9", 3);             // the handle still works
  ASSERT_NE(fine, nullptr);
  EXPECT_STREQ(fine, "\xe9");
  DAXOIconv::releaseLocale(fine);
  DAXOIconv::close(toLatin1);

  EXPECT_EQ(DAXOIconv::open("NO-SUCH-CHARSET", "UTF-8"), nullptr);
  EXPECT_EQ(DAXOIconv::convert(nullptr, "x", 2), nullptr);
  DAXOIconv::close(nullptr);
}

TEST(DAXOIconvConcurrency, ThreadsConvertThroughSharedHandlesWithoutMixingResults) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      // Each thread converts text of its own length through the same handles.
      std::string text(static_cast<size_t>(10 + t * 7), static_cast<char>('a' + t));
      text += kUtf8;
      for (int i = 0; i < kRounds; ++i) {
        wchar_t* wide = DAXOIconv::UTF8ToWide(text.c_str());
        char* back = DAXOIconv::wideToUTF8(wide);
        if (back == nullptr || text != back) ++failures[static_cast<size_t>(t)];
        DAXOIconv::releaseUTF8(back);
        DAXOIconv::releaseWide(wide);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[static_cast<size_t>(t)], 0) << t;
}

}  // namespace

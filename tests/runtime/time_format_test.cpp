// Text forms of timestamps and calendar times, and the calendar conversions.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "daxo_time.h"

namespace {

DAXOAbsoluteTime Make(int y, int mo, int d, int h, int mi, int s, int ms, int us) {
  DAXOAbsoluteTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.millisecond = ms;
  t.microsecond = us;
  return t;
}

std::string Str(const DAXOString& s) {
  return std::string(static_cast<const char*>(s));
}

TEST(TimestampText, PrintsHoursOnlyWhenNotZero) {
  EXPECT_EQ(Str(DAXO::Timestamp2String(0)), "00:00.000000");
  EXPECT_EQ(Str(DAXO::Timestamp2String(3723000042L)), "1:02:03.000042");
  EXPECT_EQ(Str(DAXO::Timestamp2String(-1500000L)), "-00:01.500000");
  EXPECT_EQ(Str(DAXO::Timestamp2String(59999999L)), "00:59.999999");
  EXPECT_EQ(Str(DAXO::Timestamp2String(360000000000L)), "100:00:00.000000");
}

TEST(TimestampText, ExtremeValuesPrintWithoutOverflow) {
  EXPECT_EQ(Str(DAXO::Timestamp2String(LONG_MIN)), "-2562047788:00:54.775808");
  EXPECT_EQ(Str(DAXO::Timestamp2String(LONG_MAX)), "2562047788:00:54.775807");
}

TEST(TimestampText, ParsesSecondsMinutesAndHours) {
  EXPECT_EQ(DAXO::TimestampFromString("1:30.5", nullptr), 90500000L);
  EXPECT_EQ(DAXO::TimestampFromString("42", nullptr), 42000000L);
  EXPECT_EQ(DAXO::TimestampFromString("1:02:03.000042", nullptr), 3723000042L);
  EXPECT_EQ(DAXO::TimestampFromString("-00:01.5", nullptr), -1500000L);
  EXPECT_EQ(DAXO::TimestampFromString("  7.25", nullptr), 7250000L);
  // Fields are not range-checked: 90 seconds past a minute.
  EXPECT_EQ(DAXO::TimestampFromString("1:90", nullptr), 150000000L);
}

TEST(TimestampText, StoresTheEndOfTheTextRead) {
  const char* text = "12:05abc";
  char* end = nullptr;
  EXPECT_EQ(DAXO::TimestampFromString(text, &end), 725000000L);
  EXPECT_EQ(end, text + 5);

  const char* dangling = "3:";  // a colon without a number is not part of it
  EXPECT_EQ(DAXO::TimestampFromString(dangling, &end), 3000000L);
  EXPECT_EQ(end, dangling + 1);

  const char* fourFields = "1:2:3:4";  // at most three fields
  EXPECT_EQ(DAXO::TimestampFromString(fourFields, &end), 3723000000L);
  EXPECT_EQ(end, fourFields + 5);
}

TEST(TimestampText, NullEmptyOrNonNumericTextGivesZero) {
  char* end = reinterpret_cast<char*>(1);
  EXPECT_EQ(DAXO::TimestampFromString(nullptr, &end), 0);
  EXPECT_EQ(end, nullptr);
  const char* empty = "";
  EXPECT_EQ(DAXO::TimestampFromString(empty, &end), 0);
  EXPECT_EQ(end, empty);
  const char* word = "-abc";
  EXPECT_EQ(DAXO::TimestampFromString(word, &end), 0);
  EXPECT_EQ(end, word);
}

TEST(TimestampText, ExtraFractionDigitsAreConsumedAndIgnored) {
  const char* text = "1.123456789x";
  char* end = nullptr;
  EXPECT_EQ(DAXO::TimestampFromString(text, &end), 1123456L);
  EXPECT_EQ(*end, 'x');
}

TEST(TimestampText, HugeNumbersSaturate) {
  EXPECT_EQ(DAXO::TimestampFromString("99999999999999999999999999", nullptr), LONG_MAX);
  EXPECT_EQ(DAXO::TimestampFromString("-99999999999999999999:59:59.9", nullptr), LONG_MIN);
  EXPECT_EQ(DAXO::TimestampFromString("9223372036854.775807", nullptr), LONG_MAX);
  EXPECT_EQ(DAXO::TimestampFromString("-9223372036854.775808", nullptr), LONG_MIN);
}

TEST(TimestampText, PrintedTimestampsParseBack) {
  const long values[] = {0,        1,         -1,          999999,
                         1000000,  -59999999, 3600000000L, 86399999999L,
                         LONG_MAX, LONG_MIN,  LONG_MIN + 1};
  for (long v : values) {
    const DAXOString text = DAXO::Timestamp2String(v);
    EXPECT_EQ(DAXO::TimestampFromString(text, nullptr), v) << Str(text);
  }
}

TEST(AbsoluteTimeText, PrintsFixedWidthFields) {
  EXPECT_EQ(Str(DAXO::AbsoluteTime2String(Make(2024, 3, 5, 7, 8, 9, 12, 34))),
            "2024/03/05 07:08:09.012034");
}

TEST(AbsoluteTimeText, ParsesTimeThenDateInParentheses) {
  DAXOAbsoluteTime t = Make(1, 1, 1, 1, 1, 1, 1, 777);
  ASSERT_TRUE(DAXO::GetAbsoluteTimeFromString(DAXOString("12:30:15.250 (24/12/2023)"), t));
  EXPECT_EQ(t, Make(2023, 12, 24, 12, 30, 15, 250, 0));
  // White space in the format matches any amount, none included.
  ASSERT_TRUE(DAXO::GetAbsoluteTimeFromString(DAXOString("1:2:3.4(5/6/2007)"), t));
  EXPECT_EQ(t, Make(2007, 6, 5, 1, 2, 3, 4, 0));
}

TEST(AbsoluteTimeText, IncompleteOrOverflowingTextLeavesTheTimeUntouched) {
  const DAXOAbsoluteTime before = Make(2000, 1, 2, 3, 4, 5, 6, 7);
  DAXOAbsoluteTime t = before;
  EXPECT_FALSE(DAXO::GetAbsoluteTimeFromString(DAXOString("12:30:15 (24/12/2023)"), t));
  EXPECT_FALSE(DAXO::GetAbsoluteTimeFromString(DAXOString("12:30:15.250 (24/12)"), t));
  EXPECT_FALSE(DAXO::GetAbsoluteTimeFromString(DAXOString(""), t));
  EXPECT_FALSE(
      DAXO::GetAbsoluteTimeFromString(DAXOString("99999999999:30:15.250 (24/12/2023)"), t));
  EXPECT_EQ(t, before);
}

TEST(AbsoluteTime, ComparesFieldsInOrder) {
  const DAXOAbsoluteTime a = Make(2023, 12, 31, 23, 59, 59, 999, 999);
  const DAXOAbsoluteTime b = Make(2024, 1, 1, 0, 0, 0, 0, 0);
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b > a);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(Make(2024, 1, 1, 0, 0, 0, 0, 1) > b);
  EXPECT_TRUE(b == Make(2024, 1, 1, 0, 0, 0, 0, 0));
}

TEST(AbsoluteTimeUTC, ConvertsToAndFromEpochMicroseconds) {
  DAXOAbsoluteTime t;
  ASSERT_EQ(DAXO::Timestamp2AbsoluteTimeUTC(1703421015250123L, &t), 0);
  EXPECT_EQ(t, Make(2023, 12, 24, 12, 30, 15, 250, 123));
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&t), 1703421015250123L);

  // Negative values fall in the second before, not after, the epoch.
  ASSERT_EQ(DAXO::Timestamp2AbsoluteTimeUTC(-1, &t), 0);
  EXPECT_EQ(t, Make(1969, 12, 31, 23, 59, 59, 999, 999));
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&t), -1);
}

TEST(AbsoluteTimeUTC, UnrepresentableTimesGiveMinusOne) {
  EXPECT_EQ(DAXO::Timestamp2AbsoluteTimeUTC(0, nullptr), -1);
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(nullptr), -1);
  DAXOAbsoluteTime badMonth = Make(2024, 13, 1, 0, 0, 0, 0, 0);
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&badMonth), -1);
  DAXOAbsoluteTime badMillis = Make(2024, 1, 1, 0, 0, 0, 1000, 0);
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&badMillis), -1);
  DAXOAbsoluteTime farFuture = Make(300000000, 1, 1, 0, 0, 0, 0, 0);
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&farFuture), -1);
  EXPECT_FALSE(DAXO::SetSystemTime(badMonth));
}

// A fixed zone without summer time makes local-time results exact.
class LocalTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) oldTz_ = tz;
    setenv("TZ", "XYZ-5:30", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", oldTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(LocalTime, ConvertsWithTheZoneOffset) {
  int minutes = 0;
  EXPECT_TRUE(DAXO::GetLocalTimeZoneDelay(minutes));
  EXPECT_EQ(minutes, 330);

  DAXOAbsoluteTime t;
  ASSERT_EQ(DAXO::Integer2AbsoluteTime(1703421015250123L, t), 0);
  EXPECT_EQ(t, Make(2023, 12, 24, 18, 0, 15, 250, 123));
  EXPECT_EQ(DAXO::AbsoluteTime2Integer(t), 1703421015250123L);

  DAXOAbsoluteTime local;
  ASSERT_TRUE(DAXO::AbsoluteTimeUTCToAbsoluteTimeLocal(Make(2024, 2, 29, 20, 0, 0, 1, 2), local));
  EXPECT_EQ(local, Make(2024, 3, 1, 1, 30, 0, 1, 2));
  DAXOAbsoluteTime utc;
  ASSERT_TRUE(DAXO::AbsoluteTimeLocalToAbsoluteTimeUTC(local, utc));
  EXPECT_EQ(utc, Make(2024, 2, 29, 20, 0, 0, 1, 2));
  EXPECT_FALSE(DAXO::AbsoluteTimeLocalToAbsoluteTimeUTC(Make(2024, 0, 1, 0, 0, 0, 0, 0), utc));
}

TEST_F(LocalTime, CurrentTimesAgreeWithTheSystemClock) {
  const long before = static_cast<long>(time(nullptr)) * 1000000L;
  const DAXOAbsoluteTime utcNow = DAXO::GetAbsoluteTimeUTC();
  const DAXOAbsoluteTime localNow = DAXO::GetAbsoluteTime();
  const long after = static_cast<long>(time(nullptr) + 1) * 1000000L;
  const long fromUtc = DAXO::AbsoluteTimeUTC2Timestamp(&utcNow);
  const long fromLocal = DAXO::AbsoluteTime2Integer(localNow);
  EXPECT_GE(fromUtc, before);
  EXPECT_LE(fromUtc, after);
  EXPECT_GE(fromLocal, before);
  EXPECT_LE(fromLocal, after);
}

}  // namespace

// Text forms of timestamps and calendar times, and the calendar conversions.
#include <chrono>
#include <climits>
#include <ctime>

#include "daxo_time.h"
#include "runtime_test_support.h"

namespace {

using daxo_test::Str;
using Time = DAXOAbsoluteTime;  // {year, month, day, hour, minute, second, ms, us}

TEST(TimestampText, PrintsHoursOnlyWhenNotZeroWithoutOverflowAndParsesBack) {
  // nullptr: only the round trip is checked.
  // clang-format off
  const std::pair<long, const char*> cases[] = {
      {0, "00:00.000000"}, {3723000042L, "1:02:03.000042"}, {-1500000L, "-00:01.500000"},
      {59999999L, "00:59.999999"}, {360000000000L, "100:00:00.000000"},
      {LONG_MIN, "-2562047788:00:54.775808"}, {LONG_MAX, "2562047788:00:54.775807"},
      {1, nullptr}, {-1, nullptr}, {999999, nullptr}, {1000000, nullptr}, {-59999999, nullptr},
      {3600000000L, nullptr}, {86399999999L, nullptr}, {LONG_MIN + 1, nullptr}};
  // clang-format on
  for (auto [value, text] : cases) {
    const DAXOString printed = DAXO::Timestamp2String(value);
    if (text != nullptr) {
      EXPECT_EQ(Str(printed), text);
    }
    EXPECT_EQ(DAXO::TimestampFromString(printed, nullptr), value) << Str(printed);
  }
}

TEST(TimestampText, ParsesUpToThreeFieldsAndStoresTheEndOfTheTextRead) {
  const struct {
    const char* text;
    long value;
    int end;  // offset of the first byte not read
  } cases[] = {
      {"1:30.5", 90500000L, 6},
      {"42", 42000000L, 2},
      {"1:02:03.000042", 3723000042L, 14},
      {"-00:01.5", -1500000L, 8},
      {"  7.25", 7250000L, 6},
      {"1:90", 150000000L, 4},         // fields are not range-checked
      {"12:05abc", 725000000L, 5},     //
      {"3:", 3000000L, 1},             // a colon without a number is not part of it
      {"1:2:3:4", 3723000000L, 5},     // at most three fields
      {"1.123456789x", 1123456L, 11},  // extra fraction digits are read and ignored
      {"", 0, 0},
      {"-abc", 0, 0},
      {"99999999999999999999999999", LONG_MAX, 26},  // huge numbers saturate
      {"-99999999999999999999:59:59.9", LONG_MIN, 29},
      {"9223372036854.775807", LONG_MAX, 20},
      {"-9223372036854.775808", LONG_MIN, 21},
  };
  for (const auto& c : cases) {
    char* end = nullptr;
    EXPECT_EQ(DAXO::TimestampFromString(c.text, &end), c.value) << c.text;
    EXPECT_EQ(end, c.text + c.end) << c.text;
  }
  char* end = reinterpret_cast<char*>(1);
  EXPECT_EQ(DAXO::TimestampFromString(nullptr, &end), 0);
  EXPECT_EQ(end, nullptr);
  EXPECT_EQ(DAXO::TimestampFromString("42", nullptr), 42000000L);
}

TEST(AbsoluteTimeText, PrintsFixedWidthFieldsAndParsesTimeThenDateInParentheses) {
  EXPECT_EQ(Str(DAXO::AbsoluteTime2String(Time{2024, 3, 5, 7, 8, 9, 12, 34})),
            "2024/03/05 07:08:09.012034");
  Time t{1, 1, 1, 1, 1, 1, 1, 777};
  ASSERT_TRUE(DAXO::GetAbsoluteTimeFromString(DAXOString("12:30:15.250 (24/12/2023)"), t));
  EXPECT_EQ(t, (Time{2023, 12, 24, 12, 30, 15, 250, 0}));
  // White space in the format matches any amount, none included.
  ASSERT_TRUE(DAXO::GetAbsoluteTimeFromString(DAXOString("1:2:3.4(5/6/2007)"), t));
  EXPECT_EQ(t, (Time{2007, 6, 5, 1, 2, 3, 4, 0}));
}

TEST(AbsoluteTimeText, IncompleteOrOverflowingTextLeavesTheTimeUntouched) {
  const Time before{2000, 1, 2, 3, 4, 5, 6, 7};
  Time t = before;
  for (const char* text : {"12:30:15 (24/12/2023)", "12:30:15.250 (24/12)", "",
                           "99999999999:30:15.250 (24/12/2023)"}) {
    EXPECT_FALSE(DAXO::GetAbsoluteTimeFromString(DAXOString(text), t)) << text;
  }
  EXPECT_EQ(t, before);
}

TEST(AbsoluteTime, ComparesFieldsInOrder) {
  const Time a{2023, 12, 31, 23, 59, 59, 999, 999};
  const Time b{2024, 1, 1, 0, 0, 0, 0, 0};
  EXPECT_TRUE(a < b && b > a && !(a == b));
  EXPECT_TRUE((Time{2024, 1, 1, 0, 0, 0, 0, 1}) > b);
  EXPECT_TRUE(b == (Time{2024, 1, 1, 0, 0, 0, 0, 0}));
}

TEST(AbsoluteTimeUTC, ConvertsToAndFromEpochMicroseconds) {
  Time t;
  ASSERT_EQ(DAXO::Timestamp2AbsoluteTimeUTC(1703421015250123L, &t), 0);
  EXPECT_EQ(t, (Time{2023, 12, 24, 12, 30, 15, 250, 123}));
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&t), 1703421015250123L);

  // Negative values fall in the second before, not after, the epoch.
  ASSERT_EQ(DAXO::Timestamp2AbsoluteTimeUTC(-1, &t), 0);
  EXPECT_EQ(t, (Time{1969, 12, 31, 23, 59, 59, 999, 999}));
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&t), -1);
}

TEST(AbsoluteTimeUTC, UnrepresentableTimesGiveMinusOne) {
  EXPECT_EQ(DAXO::Timestamp2AbsoluteTimeUTC(0, nullptr), -1);
  EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(nullptr), -1);
  const Time bad[] = {{2024, 13, 1, 0, 0, 0, 0, 0},    // month
                      {2024, 1, 1, 0, 0, 0, 1000, 0},  // milliseconds
                      {300000000, 1, 1, 0, 0, 0, 0, 0}};
  for (const Time& t : bad) EXPECT_EQ(DAXO::AbsoluteTimeUTC2Timestamp(&t), -1) << t.year;
  EXPECT_FALSE(DAXO::SetSystemTime(bad[0]));
}

// A fixed zone without summer time makes local-time results exact.
class LocalTime : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Set("TZ", "XYZ-5:30");
    tzset();
  }
  void TearDown() override {
    env.Restore();
    tzset();
  }
  daxo_test::ScopedEnv env;
};

TEST_F(LocalTime, ConvertsWithTheZoneOffset) {
  int minutes = 0;
  EXPECT_TRUE(DAXO::GetLocalTimeZoneDelay(minutes));
  EXPECT_EQ(minutes, 330);

  Time t;
  ASSERT_EQ(DAXO::Integer2AbsoluteTime(1703421015250123L, t), 0);
  EXPECT_EQ(t, (Time{2023, 12, 24, 18, 0, 15, 250, 123}));
  EXPECT_EQ(DAXO::AbsoluteTime2Integer(t), 1703421015250123L);

  Time local, utc;
  ASSERT_TRUE(DAXO::AbsoluteTimeUTCToAbsoluteTimeLocal(Time{2024, 2, 29, 20, 0, 0, 1, 2}, local));
  EXPECT_EQ(local, (Time{2024, 3, 1, 1, 30, 0, 1, 2}));
  ASSERT_TRUE(DAXO::AbsoluteTimeLocalToAbsoluteTimeUTC(local, utc));
  EXPECT_EQ(utc, (Time{2024, 2, 29, 20, 0, 0, 1, 2}));
  EXPECT_FALSE(DAXO::AbsoluteTimeLocalToAbsoluteTimeUTC(Time{2024, 0, 1, 0, 0, 0, 0, 0}, utc));
}

TEST_F(LocalTime, CurrentTimesAgreeWithTheSystemClock) {
  // Whole seconds of the precise clock: time() reads a coarse one, which
  // can still show the last second when the precise clock is past it.
  const auto seconds = [] {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count());
  };
  const long before = seconds() * 1000000L;
  const Time utcNow = DAXO::GetAbsoluteTimeUTC();
  const Time localNow = DAXO::GetAbsoluteTime();
  const long after = (seconds() + 1) * 1000000L;
  for (long t : {DAXO::AbsoluteTimeUTC2Timestamp(&utcNow), DAXO::AbsoluteTime2Integer(localNow)}) {
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
  }
}

}  // namespace

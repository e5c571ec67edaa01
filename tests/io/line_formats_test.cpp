// The candump and time-series CSV line formats on their own: what each
// notation parses to, that writing gives the same text back, and that
// malformed lines are refused rather than half-read.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "can_log_format.h"
#include "csv_format.h"

namespace velquor_io {
namespace {

std::string Rewrite(const std::string& line) {
  CanLogFrame frame;
  const char* fault = ParseCanLogLine(line, frame);
  EXPECT_EQ(fault, nullptr) << line;
  std::string out;
  if (fault == nullptr) FormatCanLogLine(frame, out);
  return out;
}

TEST(CanLogLine, EveryCandumpNotationIsWrittenBackAsRead) {
  const std::vector<std::string> lines = {
      "(1436509052.249713) can0 123#DEADBEEF",
      "(1436509052.249713) can0 123#",
      "(1436509052.249714) vcan12 1FFFFFFF#0011223344556677",
      "(1436509052.249715) can0 00000001#01",
      "(1436509052.249716) can1 123#R",
      "(1436509052.249716) can1 123#R5",
      "(1436509052.249716) can1 123#R0",
      "(1436509052.249716) can1 123#R8_E",
      "(1436509052.249717) can0 20000080#0000000000000000",
      "(1436509052.249718) can0 123##1AABB",
      "(1436509052.249718) can0 12345678##0",
      "(1436509052.249719) can0 7FF#1122334455667788_C",
      "(0000000001.000000)   can0 123#11 T",
      "(1436509052.249720) can0 123#11 R",
  };
  for (const std::string& line : lines) EXPECT_EQ(Rewrite(line), line);
}

TEST(CanLogLine, FieldsCarryIdFlagsLengthAndTime) {
  CanLogFrame f;
  ASSERT_EQ(ParseCanLogLine("(1436509052.249713) can0 12345678#0102", f), nullptr);
  EXPECT_EQ(f.ts, 1436509052249713LL);
  EXPECT_EQ(f.interface, "can0");
  EXPECT_EQ(f.id, 0x12345678u | KyCanEffFlag);
  EXPECT_EQ(f.length, 2);
  EXPECT_EQ(f.data[1], 0x02);

  ASSERT_EQ(ParseCanLogLine("(1.5) can0 20000004#00", f), nullptr);
  EXPECT_EQ(f.id, 0x20000004u) << "an error frame is not extended";
  EXPECT_EQ(f.ts, 1500000);

  ASSERT_EQ(ParseCanLogLine("(1.5) can0 123#R5", f), nullptr);
  EXPECT_EQ(f.id, 0x123u | KyCanRtrFlag);
  EXPECT_EQ(f.length, 0);
  EXPECT_EQ(f.dlc, 5);

  ASSERT_EQ(ParseCanLogLine("(1.5) can0 123##3" + std::string(128, 'f'), f), nullptr);
  EXPECT_EQ(f.length, 64);
  EXPECT_EQ(f.fdFlags, 3);
  EXPECT_EQ(f.data[63], 0xFF);
}

TEST(CanLogLine, OtherDecimalCountsLowerCaseAndDotsAreNormalised) {
  EXPECT_EQ(Rewrite("(1436509052.2497) can0 123#de.ad"), "(1436509052.249700) can0 123#DEAD");
  EXPECT_EQ(Rewrite("(1436509052.249713999) can0 123#00\r"), "(1436509052.249713) can0 123#00");
  EXPECT_EQ(Rewrite("(12) can0 123#00"), "(0000000012.000000) can0 123#00");
}

TEST(CanLogLine, MalformedLinesAreRefused) {
  const std::vector<std::string> bad = {
      "",
      "1436509052.249713 can0 123#00",
      "(1436509052.249713 can0 123#00",
      "(.5) can0 123#00",
      "(1.) can0 123#00",
      "(99999999999999.0) can0 123#00",
      "(1.0)can0 123#00",
      "(1.0) can0",
      "(1.0) can0 ",
      "(1.0) can0 12#00",
      "(1.0) can0 1234#00",
      "(1.0) can0 800#00",
      "(1.0) can0 40000000#00",
      "(1.0) can0 123#0",
      "(1.0) can0 123#001122334455667788",
      "(1.0) can0 123##",
      "(1.0) can0 123##0" + std::string(130, '0'),
      "(1.0) can0 123#R9",
      "(1.0) can0 123#R8_3",
      "(1.0) can0 123#0011_C",
      "(1.0) can0 123#00 X",
      "(1.0) can0 123#00 R extra",
      "(1.0) can0 123#.00",
      "(1.0) can0 123#00.",
      "(1.0) can0 123#0G",
      "(1.0) can0 123###00",
      std::string("(1.0) can0 123#00\0", 18),
  };
  for (const std::string& line : bad) {
    CanLogFrame f;
    EXPECT_NE(ParseCanLogLine(line, f), nullptr) << '"' << line << '"';
  }
}

// The full fault names the offending character and its column (1 = the
// line's first), or the count of an FD frame's bytes: the static text
// alone sent users hunting for an "odd number" of digits.
TEST(CanLogLine, FaultsNameTheCharacterAndColumnOrTheFdLength) {
  const struct {
    std::string line;
    std::string fault;
  } rows[] = {
      {"(1.0) can0 123#DEADBEEG", "'G' at column 23 is not a hex digit"},
      {"(1.0) can0 123#DEADGG", "'G' at column 20 is not a hex digit"},
      {"(1.0) can0 123##1AAx0", "'x' at column 20 is not a hex digit"},
      {std::string("(1.0) can0 123#0", 17), "byte 0x01 at column 17 is not a hex digit"},
      {"(1.0) can0 123#0", "odd number of hex digits"},
      {"(1.0) can0 123##1" + std::string(26, 'A'),
       "13 data bytes: not a CAN FD length (0 to 8, 12, 16, 20, 24, 32, 48 or 64 bytes)"},
      {"(1.0) can0 123##1" + std::string(18, 'A'),
       "9 data bytes: not a CAN FD length (0 to 8, 12, 16, 20, 24, 32, 48 or 64 bytes)"},
      {"(1.0) can0 123##1" + std::string(24, 'A'), ""},
      {"(1.0) can0 123##1" + std::string(96, 'A'), ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CanLogLineFault(row.line), row.fault) << row.line;
    CanLogFrame f;
    EXPECT_EQ(ParseCanLogLine(row.line, f) == nullptr, row.fault.empty()) << row.line;
  }
}

TEST(CsvLine, HeaderAndRowsParseAndRowsReadBackExactly) {
  int columns = 0;
  ASSERT_EQ(ParseCsvHeader("timestamp_us,speed,rpm\r", columns), nullptr);
  EXPECT_EQ(columns, 2);
  ASSERT_EQ(ParseCsvHeader("timestamp_us, ", columns), nullptr) << "an empty name is a name";
  EXPECT_EQ(columns, 1);
  ASSERT_EQ(ParseCsvHeader(" \"timestamp_us\" ,\"a,b\",\"say \"\"c,d\"\"\"", columns), nullptr)
      << "quoted names, commas in them";
  EXPECT_EQ(columns, 2);

  std::int64_t t = 0;
  double v[3] = {};
  ASSERT_EQ(ParseCsvRow("-12, 0.1 ,+2.5e3,\t-inf\r", 3, t, v), nullptr);
  EXPECT_EQ(t, -12);
  EXPECT_EQ(v[0], 0.1);
  EXPECT_EQ(v[1], 2500.0);
  EXPECT_TRUE(std::isinf(v[2]) && v[2] < 0);

  const double values[] = {0.1, 1.0 / 3.0, -1e-300, 123456789.123456789, 0.0};
  std::string row;
  FormatCsvRow(1700000000000001, values, 5, row);
  double back[5] = {};
  ASSERT_EQ(ParseCsvRow(row, 5, t, back), nullptr) << row;
  EXPECT_EQ(t, 1700000000000001);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(back[k], values[k]) << row;

  EXPECT_TRUE(IsBlankCsvLine(" \t\r"));
  EXPECT_FALSE(IsBlankCsvLine(","));
}

TEST(CsvLine, MalformedHeadersAndRowsAreRefused) {
  int columns = 0;
  for (const char* header : {"", "time,a", "timestamp_us", "a,timestamp_us"}) {
    EXPECT_NE(ParseCsvHeader(header, columns), nullptr) << header;
  }
  std::int64_t t = 0;
  double v[2] = {};
  for (const char* row : {"", "1", "1,2", "1,2,3,4", "x,1,2", "1.5,1,2", "1,,2", "1,2,abc",
                          "1,2,3x", "99999999999999999999,1,2", "1,1e999,2", "1,++1,2"}) {
    EXPECT_NE(ParseCsvRow(row, 2, t, v), nullptr) << row;
  }
}

}  // namespace
}  // namespace velquor_io

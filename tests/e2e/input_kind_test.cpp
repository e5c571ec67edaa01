// The merge tool tells an input's kind from its first bytes, never from its
// name, and counts its records for the progress bar.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

#include "input_kind.h"

namespace velquor::tool {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string text;
  for (int b : bytes) text.push_back(static_cast<char>(b));
  return text;
}

TEST(InputKindDetection, KnowsEveryCaptureMagic) {
  const std::string rest(20, '\0');
  EXPECT_EQ(DetectInputKindFromBytes(Bytes({0xD4, 0xC3, 0xB2, 0xA1}) + rest), InputKind::Pcap);
  EXPECT_EQ(DetectInputKindFromBytes(Bytes({0xA1, 0xB2, 0xC3, 0xD4}) + rest), InputKind::Pcap);
  EXPECT_EQ(DetectInputKindFromBytes(Bytes({0x4D, 0x3C, 0xB2, 0xA1}) + rest), InputKind::Pcap)
      << "nanosecond, little endian";
  EXPECT_EQ(DetectInputKindFromBytes(Bytes({0xA1, 0xB2, 0x3C, 0x4D}) + rest), InputKind::Pcap)
      << "nanosecond, big endian";
  EXPECT_EQ(DetectInputKindFromBytes(Bytes({0x0A, 0x0D, 0x0D, 0x0A}) + rest), InputKind::PcapNg);
  EXPECT_EQ(DetectInputKindFromBytes(Bytes({0xD4, 0xC3, 0xB2})), InputKind::Unknown);
}

TEST(InputKindDetection, TellsTextKindsByTheirFirstLine) {
  EXPECT_EQ(DetectInputKindFromBytes("(1700000000.123456) can0 123#DEADBEEF\n"), InputKind::CanLog);
  EXPECT_EQ(DetectInputKindFromBytes("\n(0.000001) vcan1 1F334455#R\n"), InputKind::CanLog);
  EXPECT_EQ(DetectInputKindFromBytes("timestamp_us,speed\n1,2\n"), InputKind::Csv);
  // Quoted names, as the CSV player reads them; a byte order mark first.
  EXPECT_EQ(DetectInputKindFromBytes(" \"timestamp_us\" ,\"a,b\"\r\n"), InputKind::Csv);
  EXPECT_EQ(DetectInputKindFromBytes("\xEF\xBB\xBFtimestamp_us,v\n"), InputKind::Csv);
  EXPECT_EQ(DetectInputKindFromBytes("\xEF\xBB\xBF(1.000001) can0 123#00\n"), InputKind::CanLog);
  // A first line longer than what is looked at is judged by its start.
  EXPECT_EQ(DetectInputKindFromBytes("timestamp_us," + std::string(5000, 'v')), InputKind::Csv);

  // What is wrong is said: a line that starts like a candump line gets its
  // fault, anything else is unrecognised.
  const std::pair<const char*, const char*> unknown[] = {
      {"\n\n", "unrecognised content"},
      {"hello world\n", "unrecognised content"},
      {"timestamp,speed\n", "unrecognised content"},
      {"# (1.1) can0 123#00\n", "unrecognised content"},
      {"channel,timestamp_us\n", "unrecognised content"},
      {"\xEF\xBB(1.000001) can0 123#00\n", "unrecognised content"},
      {"(17.5) can0\n", "line 1: "},
      {"(x.1) can0 123#00\n", "line 1: "},
      {"\n(1.1) can0 12G#00\n", "line 2: bad CAN id"},
  };
  for (const auto& [text, said] : unknown) {
    std::string problem;
    EXPECT_EQ(DetectInputKindFromBytes(text, &problem), InputKind::Unknown) << text;
    EXPECT_EQ(problem.rfind(said, 0), 0u) << problem;
  }
  std::string problem;
  EXPECT_EQ(DetectInputKindFromBytes("", &problem), InputKind::Unknown);
  EXPECT_EQ(problem, "it is empty");
  EXPECT_EQ(DetectInputKindFromBytes(std::string(4096, 'a'), &problem), InputKind::Unknown);
  EXPECT_NE(problem.find("first line is longer than 4096 bytes"), std::string::npos) << problem;
}

// A stream is read until these bytes hold what the merge reads before its
// players: more would wait on a quiet stream, fewer would leave a capture's
// link type or a CSV header unread.
TEST(InputKindDetection, AStreamHeadIsCompleteWithItsHeaderOrFirstLine) {
  const std::string pcap = Bytes({0xD4, 0xC3, 0xB2, 0xA1});
  // pcapng: a section header block (28 bytes), an interface block (20).
  const std::string section =
      Bytes({0x0A, 0x0D, 0x0D, 0x0A, 28, 0, 0, 0, 0x4D, 0x3C, 0x2B, 0x1A}) + std::string(16, '\0');
  const std::string interface = Bytes({1, 0, 0, 0, 20, 0, 0, 0}) + std::string(12, '\0');
  const std::pair<std::string, bool> cases[] = {
      {"", false},
      {pcap + std::string(19, '\0'), false},
      {pcap + std::string(20, '\0'), true},
      {section, false},
      {section + interface.substr(0, 19), false},
      {section + interface, true},
      {"\n\n(1.000001) can0 123#0", false},
      {"\n\n(1.000001) can0 123#00\n", true},
      {"timestamp_us," + std::string(5000, 'v'), false},
  };
  for (const auto& [head, complete] : cases) {
    EXPECT_EQ(HeadIsComplete(head), complete) << head.size() << " bytes: " << head;
  }
}

TEST(InputKindDetection, SameFamilyPairsPcapWithPcapngOnly) {
  EXPECT_TRUE(SameFamily(InputKind::Pcap, InputKind::PcapNg));
  EXPECT_FALSE(SameFamily(InputKind::Pcap, InputKind::Csv));
  EXPECT_FALSE(SameFamily(InputKind::CanLog, InputKind::Csv));
}

TEST(InputKindDetection, CountsTheRecordsOfAFileAndDetectsItsKind) {
  const std::string dir = ::testing::TempDir();
  const std::string pcap = dir + "/count_" + std::to_string(getpid()) + ".pcap";
  const std::string csv = dir + "/count_" + std::to_string(getpid()) + ".csv";
  {
    std::ofstream out(pcap, std::ios::binary);
    const std::string header = Bytes({0xA1, 0xB2, 0xC3, 0xD4}) + std::string(20, '\0');
    out << header;
    for (int len : {0, 60, 1500}) {  // big-endian record headers
      out << std::string(8, '\0') << Bytes({0, 0, len >> 8, len & 0xFF})
          << Bytes({0, 0, len >> 8, len & 0xFF}) << std::string(static_cast<std::size_t>(len), 'p');
    }
  }
  EXPECT_EQ(CountRecords(pcap, InputKind::Pcap), 3);

  std::ofstream(csv) << "timestamp_us,v\n1,2\n3,4";
  EXPECT_EQ(CountRecords(csv, InputKind::Csv), 2);

  std::string error;
  EXPECT_EQ(DetectInputKind(csv, error), InputKind::Csv);
  EXPECT_TRUE(error.empty());
  std::remove(pcap.c_str());
  std::remove(csv.c_str());
}

}  // namespace
}  // namespace velquor::tool

// The merge tool tells an input's kind from its first bytes, never from its
// name, and counts its records for the progress bar.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

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
  EXPECT_EQ(DetectInputKindFromBytes("channel, \"timestamp_us\" ,value\r\n"), InputKind::Csv);

  for (const char* text :
       {"", "\n\n", "hello world\n", "timestamp,speed\n", "(17.5) can0\n", "(x.1) can0 123#00\n",
        "(1.1)can0 123#00\n", "(1.1) can0 12G#00\n", "# (1.1) can0 123#00\n"}) {
    EXPECT_EQ(DetectInputKindFromBytes(text), InputKind::Unknown) << text;
  }
  // A first line longer than what is read cannot be judged.
  EXPECT_EQ(DetectInputKindFromBytes(std::string(4096, 'a')), InputKind::Unknown);
}

TEST(InputKindDetection, SameFamilyPairsPcapWithPcapngOnly) {
  EXPECT_TRUE(SameFamily(InputKind::Pcap, InputKind::PcapNg));
  EXPECT_FALSE(SameFamily(InputKind::Pcap, InputKind::Csv));
  EXPECT_FALSE(SameFamily(InputKind::CanLog, InputKind::Csv));
}

TEST(InputKindDetection, CountsRecordsAndReportsUnreadableFiles) {
  const std::string dir = ::testing::TempDir();
  const std::string pcap = dir + "/count.pcap";
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

  const std::string csv = dir + "/count.csv";
  std::ofstream(csv) << "timestamp_us,v\n1,2\n3,4";
  EXPECT_EQ(CountRecords(csv, InputKind::Csv), 2);

  std::string error;
  EXPECT_EQ(DetectInputKind(dir + "/does-not-exist", error), InputKind::Unknown);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(DetectInputKind(csv, error), InputKind::Csv);
  EXPECT_TRUE(error.empty());
  std::remove(pcap.c_str());
  std::remove(csv.c_str());
}

}  // namespace
}  // namespace velquor::tool

// The velquor binary on capture and log files at the edges of their
// formats: pcapng sections of both byte orders, pcap seconds past 2^31, a
// file cut short in its last packet, and what a malformed line is told.
#include "cli_helpers.h"

namespace velquor::test {
namespace {

using VelquorFormats = CliTest;

const std::string kPayload(60, 'p');

// libpcap reads every section in the first section's byte order; files of
// two machines joined have one of each. Both orders read, in either
// sequence; a section of another link type fails naming the file.
TEST_F(VelquorFormats, PcapngSectionsOfEitherByteOrderMerge) {
  const std::vector<Packet> first = {{1700000000000000, kPayload + "a"}, {1700000000000020, "b"}};
  const std::vector<Packet> second = {{1700000000000040, kPayload + "cc"}};
  Write("other.pcap", Pcap({{1700000000000030, "other"}}));
  for (const bool bigFirst : {false, true}) {
    SCOPED_TRACE(bigFirst ? "big-endian first" : "little-endian first");
    Write("joined.pcapng", PcapNgSection(bigFirst, 1, first) + PcapNgSection(!bigFirst, 1, second));
    const Result r = Velquor("merge -q -w out.pcap joined.pcapng other.pcap");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read("out.pcap"),
              Merged({first[0], first[1], {1700000000000030, "other"}, second[0]}));
  }
  Write("links.pcapng", PcapNgSection(false, 1, first) + PcapNgSection(true, 113, second));
  const Result r = Velquor("merge -q -w out2.pcap links.pcapng");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("links.pcapng: packet 3: section 2 is of link type LINUX_SLL (113)"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists("out2.pcap"));
}

// pcap seconds are unsigned: from 2^31 on they are after 2038, not before
// 1970, so the merge is in order and what mergecap writes.
TEST_F(VelquorFormats, SecondsPastTwoToThe31MergeAsMergecapDoes) {
  if (std::system("mergecap -v > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "mergecap (wireshark-common) is not installed";
  constexpr std::uint64_t kS = 1000000;
  Write("a.pcap", Pcap({{((1ull << 31) - 1) * kS, "a1"},
                        {(1ull << 31) * kS + 5, "a2"},
                        {((1ull << 32) - 1) * kS + 9, "a3"}}));
  Write("b.pcap", Pcap({{(1ull << 31) * kS + 4, "b1"}, {3000000000 * kS, "b2"}}));
  const Result r = Velquor("merge --strict -w out.pcap a.pcap b.pcap");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("out of order: 0 "), std::string::npos) << r.err;
  ASSERT_EQ(Shell("mergecap -F pcap -w ref.pcap a.pcap b.pcap").status, 0);
  EXPECT_EQ(Read("out.pcap"), Read("ref.pcap"));
}

// A capture cut short in its last packet fails the merge naming the file;
// with --salvage-truncated its whole packets are merged and the loss is
// reported (the packet's number, the bytes left out).
TEST_F(VelquorFormats, ACutLastPacketFailsOrIsSalvagedOnRequest) {
  const std::vector<Packet> packets = {
      {1700000000000000, kPayload}, {1700000000000010, kPayload}, {1700000000000020, kPayload}};
  const std::string pcap = Pcap(packets);
  const std::string pcapng = PcapNgSection(true, 1, packets);
  const struct {
    const char* file;
    std::string bytes;
    const char* reported;
  } rows[] = {
      {"cut.pcap", pcap.substr(0, pcap.size() - 37),
       "cut.pcap: packet 3: cut short by the end of the file: the file's last 39 bytes are left "
       "out; the 2 whole packets before it are kept"},
      {"cut.pcapng", pcapng.substr(0, pcapng.size() - 10),
       "cut.pcapng: packet 3: cut short by the end of the file: the file's last 82 bytes are left "
       "out; the 2 whole packets before it are kept"},
  };
  Write("other.pcap", Pcap({{1700000000000005, "other"}}));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    Write(row.file, row.bytes);
    fs::remove(dir / "out.pcap");
    Result r = Velquor(std::string("merge -q -w out.pcap ") + row.file + " other.pcap");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string(row.file) + ": packet 3: "), std::string::npos) << r.err;
    EXPECT_FALSE(Exists("out.pcap"));
    // An output that was there is left alone, and no temporary file.
    Write("kept.pcap", "precious");
    EXPECT_EQ(Velquor(std::string("merge -q -w kept.pcap ") + row.file + " other.pcap").status, 1);
    EXPECT_EQ(Read("kept.pcap"), "precious");
    EXPECT_EQ(Temporaries(), 0);

    r = Velquor(std::string("merge -q --salvage-truncated -w out.pcap ") + row.file +
                " other.pcap");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(row.reported), std::string::npos) << r.err;
    EXPECT_EQ(Read("out.pcap"), Merged({packets[0], {1700000000000005, "other"}, packets[1]}));
  }
}

// A refused candump line is told by file, line, and what is wrong with it.
TEST_F(VelquorFormats, CandumpFaultsNameTheFileLineAndWhatIsWrong) {
  const struct {
    const char* frame;
    const char* told;
  } rows[] = {
      {"123#DEADBEEG", "bad.log: line 2: 'G' at column 37 is not a hex digit"},
      {"123##1112233445566778899AABBCCDD", "bad.log: line 2: 13 data bytes: not a CAN FD length"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.frame);
    Write("bad.log", std::string("(1436509052.249713) can0 123#00\n(1436509052.249714) can0 ") +
                         row.frame + "\n");
    const Result r = Velquor("merge -q -w out.log bad.log");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(row.told), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace velquor::test

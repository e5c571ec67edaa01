// The velquor binary on capture and log files at the edges of their
// formats: pcapng sections of both byte orders, pcap seconds past 2^31, a
// file cut short in its last packet, and what a malformed line is told.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_helpers.h"

namespace velquor::test {
namespace {

std::string Word(std::uint32_t v, bool big) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[big ? 3 - i : i] = static_cast<char>(v >> (8 * i));
  return bytes;
}

/// Two 16-bit fields in one word, `a` first.
std::uint32_t Halves(std::uint32_t a, std::uint32_t b, bool big) {
  return big ? (a << 16) | b : (b << 16) | a;
}

/// A little-endian microsecond pcap file's bytes, as the merge writes them
/// (snapshot length 262144).
std::string Pcap(const std::vector<Packet>& packets) {
  std::string out;
  for (std::uint32_t v : {0xA1B2C3D4u, 2u | (4u << 16), 0u, 0u, 262144u, 1u}) {
    out += Word(v, false);
  }
  for (const Packet& p : packets) {
    const auto us = static_cast<std::uint64_t>(p.us);
    for (std::uint64_t v :
         {us / 1000000, us % 1000000, std::uint64_t{p.data.size()}, std::uint64_t{p.data.size()}}) {
      out += Word(static_cast<std::uint32_t>(v), false);
    }
    out += p.data;
  }
  return out;
}

/// One pcapng section: its header, one interface (microsecond times), an
/// enhanced packet block per packet.
std::string PcapNgSection(bool big, std::uint32_t linkType, const std::vector<Packet>& packets) {
  std::string out;
  for (std::uint32_t v : {0x0A0D0D0Au, 28u, 0x1A2B3C4Du, Halves(1, 0, big), ~0u, ~0u, 28u}) {
    out += Word(v, big);
  }
  for (std::uint32_t v : {1u, 20u, Halves(linkType, 0, big), 65535u, 20u}) out += Word(v, big);
  for (const Packet& p : packets) {
    const auto size = static_cast<std::uint32_t>(p.data.size());
    const std::uint32_t padded = (size + 3) / 4 * 4;
    const auto us = static_cast<std::uint64_t>(p.us);
    for (std::uint32_t v : {6u, 32 + padded, 0u, static_cast<std::uint32_t>(us >> 32),
                            static_cast<std::uint32_t>(us), size, size}) {
      out += Word(v, big);
    }
    out += p.data + std::string(padded - size, '\0') + Word(32 + padded, big);
  }
  return out;
}

struct Result {
  int status = -1;
  std::string err;
};

class VelquorFormats : public ::testing::Test {
 protected:
  void SetUp() override { dir = FreshTestFolder("velquor_formats_"); }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const { return ReadFile(dir / name); }

  /// Runs a shell line in the test's folder; its standard error is kept.
  Result Shell(const std::string& line) {
    const std::string command = "cd '" + dir.string() + "' && " + line + " 2> stderr.txt";
    const int raw = std::system(command.c_str());
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read("stderr.txt")};
  }
  Result Velquor(const std::string& args) { return Shell(std::string(VELQUOR_CLI) + " " + args); }

  static bool HaveMergecap() { return std::system("mergecap -v > /dev/null 2>&1") == 0; }

  fs::path dir;
};

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
    EXPECT_EQ(Read("out.pcap"), Pcap({first[0], first[1], {1700000000000030, "other"}, second[0]}));
  }
  Write("links.pcapng", PcapNgSection(false, 1, first) + PcapNgSection(true, 113, second));
  const Result r = Velquor("merge -q -w out2.pcap links.pcapng");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("links.pcapng: packet 3: section 2 is of link type LINUX_SLL (113)"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(dir / "out2.pcap"));
}

// pcap seconds are unsigned: from 2^31 on they are after 2038, not before
// 1970, so the merge is in order and what mergecap writes.
TEST_F(VelquorFormats, SecondsPastTwoToThe31MergeAsMergecapDoes) {
  if (!HaveMergecap()) GTEST_SKIP() << "mergecap (wireshark-common) is not installed";
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
    EXPECT_FALSE(fs::exists(dir / "out.pcap"));

    r = Velquor(std::string("merge -q --salvage-truncated -w out.pcap ") + row.file +
                " other.pcap");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(row.reported), std::string::npos) << r.err;
    EXPECT_EQ(Read("out.pcap"), Pcap({packets[0], {1700000000000005, "other"}, packets[1]}));
  }
  ASSERT_EQ(Shell(std::string(VELQUOR_CLI) + " merge --help > help.txt").status, 0);
  EXPECT_NE(Read("help.txt").find("--salvage-truncated"), std::string::npos);
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

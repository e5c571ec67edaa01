// The capture reader against libpcap: for classic files it parses records
// itself, so every file below (whole, cut at each kind of place, with odd
// lengths, or of a kind the fast path leaves to libpcap) must read exactly
// as libpcap reads it: the same link type, packets, times and fault texts.
// Each file is read from a seekable stream and from a pipe-like one, with
// reads of 1 byte, 13 bytes and the default size, so that records straddle
// reads and fall-backs replay buffered bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pcap_transcript.h"

namespace velquor_io {
namespace {

struct Record {
  std::uint32_t seconds, fraction, caplen, len;
};

/// A classic capture: header fields, then each record with `caplen` bytes
/// of data (a pattern), in the byte order `big`.
std::string Capture(std::uint32_t magic, bool big, std::uint32_t snaplen, std::uint32_t link,
                    const std::vector<Record>& records, std::uint16_t minor = 4) {
  std::string out;
  const auto put32 = [&](std::uint32_t v) {
    if (big) v = __builtin_bswap32(v);
    out.append(reinterpret_cast<const char*>(&v), 4);
  };
  const auto put16 = [&](std::uint16_t v) {
    if (big) v = __builtin_bswap16(v);
    out.append(reinterpret_cast<const char*>(&v), 2);
  };
  put32(magic);
  put16(2);
  put16(minor);
  put32(0);
  put32(0);
  put32(snaplen);
  put32(link);
  for (const Record& r : records) {
    put32(r.seconds);
    put32(r.fraction);
    put32(r.caplen);
    put32(r.len);
    for (std::uint32_t i = 0; i < r.caplen; ++i) out += static_cast<char>(i * 7 + r.seconds);
  }
  return out;
}

constexpr std::uint32_t kMicro = 0xA1B2C3D4;
constexpr std::uint32_t kNano = 0xA1B23C4D;
const std::vector<Record> kThree = {
    {1700000000, 5, 60, 60}, {1700000000, 999999, 1, 1500}, {1700000001, 0, 200, 200}};
const std::string kWhole = Capture(kMicro, false, 65535, 1, kThree);

struct Case {
  const char* name;
  std::string bytes;
  bool fastAtFirst;  // the first packet comes from the fast path
};

std::vector<Case> Cases() {
  return {
      {"MicroLittleEndian", kWhole, true},
      {"NanoBigEndian", Capture(kNano, true, 262144, 1, {{5, 999999999, 3, 3}, {6, 1500, 0, 9}}),
       true},
      // libpcap reads times signed in the file's byte order, unsigned swapped.
      {"TimesPast2To31", Capture(kMicro, false, 0, 1, {{0x90000000u, 0xF0000000u, 4, 4}}), true},
      {"TimesPast2To31Swapped", Capture(kNano, true, 0, 1, {{0x90000000u, 0xF0000000u, 4, 4}}),
       true},
      {"HeaderOnly", kWhole.substr(0, 24), false},
      {"CutInARecordHeader", kWhole.substr(0, 24 + 16 + 60 + 7), true},
      {"CutInPacketData", kWhole.substr(0, kWhole.size() - 1), true},
      {"CaplenBeyondTheSnapshot",
       Capture(kMicro, false, 64, 1, {{1, 0, 10, 10}, {2, 0, 100, 100}, {3, 0, 5, 5}}), true},
      {"CaplenBeyondTheMaximum", Capture(kMicro, false, 0, 1, {{1, 0, 10, 10}, {2, 0, 300000, 9}}),
       true},
      {"Version23", Capture(kMicro, false, 65535, 1, kThree, 3), false},
      {"UsbSwapped", Capture(kMicro, true, 65535, 189, {{1, 0, 64, 64}}), false},
      {"UnknownLinkType", Capture(kMicro, false, 65535, 147, {{1, 0, 8, 8}}), false},
      {"Empty", "", false},
      {"ShortHeader", kWhole.substr(0, 10), false},
      {"NotACapture", std::string(64, 'x'), false},
      {"PcapngMagic", std::string("\x0A\x0D\x0D\x0A\x1C\0\0\0", 8) + std::string(20, '\0'), false},
  };
}

/// A read-only stream over `bytes` that cannot seek (a pipe, for the reader).
std::FILE* PipeLike(const std::string& bytes) {
  struct Source {
    std::string bytes;
    std::size_t at = 0;
  };
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* out, std::size_t size) -> ssize_t {
    auto* s = static_cast<Source*>(cookie);
    const std::size_t n = std::min(size, s->bytes.size() - s->at);
    std::memcpy(out, s->bytes.data() + s->at, n);
    s->at += n;
    return static_cast<ssize_t>(n);
  };
  io.close = [](void* cookie) {
    delete static_cast<Source*>(cookie);
    return 0;
  };
  return fopencookie(new Source{bytes}, "rb", io);
}

std::FILE* Seekable(std::string& bytes) {
  // fmemopen refuses a size of 0: an empty file is an empty temporary one.
  return bytes.empty() ? std::tmpfile() : fmemopen(bytes.data(), bytes.size(), "rb");
}

class PcapFileReaderTest : public ::testing::TestWithParam<Case> {};

TEST_P(PcapFileReaderTest, ReadsAsLibpcapReadsFromAnyStreamInReadsOfAnySize) {
  std::string bytes = GetParam().bytes;
  const std::string expected = testing::LibpcapTranscript(Seekable(bytes));
  for (const std::size_t readSize :
       {std::size_t{1}, std::size_t{13}, PcapFileReader::kDefaultReadSize}) {
    SCOPED_TRACE("read size " + std::to_string(readSize));
    EXPECT_EQ(testing::ReaderTranscript(Seekable(bytes), readSize), expected);
    EXPECT_EQ(testing::ReaderTranscript(PipeLike(bytes), readSize), expected);
  }
  PcapFileReader reader;
  if (reader.Open(Seekable(bytes))) {
    const pcap_pkthdr* h = nullptr;
    const unsigned char* data = nullptr;
    const bool packet = reader.Next(h, data) == PcapFileReader::Status::Packet;
    EXPECT_EQ(packet && reader.Fast(), GetParam().fastAtFirst);
  } else {
    EXPECT_FALSE(GetParam().fastAtFirst);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, PcapFileReaderTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

TEST(PcapFileReader, PositionIsTheOffsetPastTheLastPacketOnEitherPath) {
  // Records of 76, 17 and 216 bytes after the 24-byte header; the second
  // file's last record is larger than its snapshot, so libpcap reads it.
  std::string whole = kWhole;
  std::string odd = Capture(kMicro, false, 64, 1, {{1, 0, 10, 10}, {2, 0, 100, 100}});
  const std::vector<std::pair<std::string*, std::vector<std::int64_t>>> files = {
      {&whole, {24, 100, 117, 333}}, {&odd, {24, 50, 166}}};
  for (const auto& [bytes, offsets] : files) {
    PcapFileReader reader(13);
    ASSERT_TRUE(reader.Open(Seekable(*bytes)));
    std::vector<std::int64_t> seen = {reader.Position()};
    const pcap_pkthdr* h = nullptr;
    const unsigned char* data = nullptr;
    while (reader.Next(h, data) == PcapFileReader::Status::Packet)
      seen.push_back(reader.Position());
    EXPECT_EQ(seen, offsets);
  }
}

}  // namespace
}  // namespace velquor_io

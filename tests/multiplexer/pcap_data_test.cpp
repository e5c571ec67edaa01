// PCAP stream samples without an engine: Buffer growth, and the reader's
// handling of counts and blocks that disagree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pcap_data.h"

namespace {

using pcap_stream::Buffer;

/// Records the reader's fatal errors instead of raising them.
class Owner : public DAXOpcap_class {
 public:
  void FatalError(const char* message) override { errors.emplace_back(message); }
  std::vector<std::string> errors;
};

/// A block of packets with the given capture lengths, 24-byte headers.
struct Block {
  explicit Block(std::vector<std::uint32_t> caplens) {
    for (size_t k = 0; k < caplens.size(); ++k) {
      DAXOpcap_packet_header_t h{caplens[k], caplens[k] + 2, 100 + k, 5 * k};
      offsets.push_back(bytes.size());
      const auto* p = reinterpret_cast<const std::uint8_t*>(&h);
      bytes.insert(bytes.end(), p, p + sizeof h);
      bytes.insert(bytes.end(), caplens[k], static_cast<std::uint8_t>(k + 1));
    }
    sample = DAXOpcap_data_t{1, 1, static_cast<std::uint16_t>(caplens.size()), offsets.data(),
                             24, bytes.size(), bytes.data(), nullptr, nullptr};
  }
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint64_t> offsets;
  DAXOpcap_data_t sample{};
};

int Count(Owner& owner, const DAXOpcap_data_t& sample) {
  pcap_stream::pcap_data_reader reader(owner, sample);
  pcap_stream::pkthdr h{};
  const std::uint8_t* data = nullptr;
  const DAXOpcap_packet_header_t* raw = nullptr;
  int n = 0;
  while (reader.get_next_packet(&h, &data, &raw) == pcap_stream::PCAP_NO_ERROR) {
    EXPECT_EQ(data, reinterpret_cast<const std::uint8_t*>(raw) + 24);
    EXPECT_EQ(h.ts.tv_sec, 100 + n);
    EXPECT_EQ(data[0], n + 1) << "the packet's own bytes";
    ++n;
  }
  return n;
}

TEST(PcapDataReader, StopsAtWhicheverEndsFirstTheCountOrTheBlock) {
  Owner owner;
  Block two({60, 1500});
  EXPECT_EQ(Count(owner, two.sample), 2);

  Block counted3({60, 1500});
  counted3.sample.nb_packets = 3;  // the block holds two
  EXPECT_EQ(Count(owner, counted3.sample), 2);

  Block counted1({60, 1500});
  counted1.sample.nb_packets = 1;
  EXPECT_EQ(Count(owner, counted1.sample), 1);

  Block empty({60});
  empty.sample.nb_packets = 0;
  EXPECT_EQ(Count(owner, empty.sample), 0);
  empty.sample.nb_packets = 1;
  empty.sample.data_size = 0;
  EXPECT_EQ(Count(owner, empty.sample), 0);
  EXPECT_TRUE(owner.errors.empty());
}

TEST(PcapDataReader, APacketThatDoesNotFitIsAFatalErrorAndNothingIsReadPastTheBlock) {
  Owner owner;
  Block b({60, 100});
  b.sample.data_size -= 1;  // the last packet's data reaches past the block
  EXPECT_EQ(Count(owner, b.sample), 1);
  ASSERT_EQ(owner.errors.size(), 1u);
  EXPECT_NE(owner.errors[0].find("Unable to read next PCAP packet in input data. \n"
                                 "Data state is inconsistent: a PCAP packet is supposed to exist "
                                 "but there is not enough space for packet data. \n"),
            std::string::npos);

  owner.errors.clear();
  Block h({60});
  h.sample.nb_packets = 2;
  h.sample.data_size += 10;  // room for less than a header after the first packet
  h.bytes.resize(h.bytes.size() + 10);
  h.sample.data = h.bytes.data();
  EXPECT_EQ(Count(owner, h.sample), 1);
  ASSERT_EQ(owner.errors.size(), 1u);
  EXPECT_NE(owner.errors[0].find("not enough space for even the packet header"), std::string::npos);

  // A header size smaller than the header is refused, not read past.
  owner.errors.clear();
  Block small({4});
  small.sample.packet_header_size = 8;
  small.sample.data_size = 8;
  EXPECT_EQ(Count(owner, small.sample), 0);
  EXPECT_EQ(owner.errors.size(), 1u);
}

TEST(PcapBuffer, GrowsByPowersOfTwoAndKeepsItsContent) {
  EXPECT_EQ(Buffer::SizeToAllocate(0), 0u);
  EXPECT_EQ(Buffer::SizeToAllocate(1), 1u);
  EXPECT_EQ(Buffer::SizeToAllocate(3), 4u);
  EXPECT_EQ(Buffer::SizeToAllocate(24), 32u);
  EXPECT_EQ(Buffer::SizeToAllocate(4096), 4096u);

  Buffer buffer(pcap_stream::KyInitialBufferSize);
  std::vector<std::uint8_t> filler(pcap_stream::KyInitialBufferSize - 12, 0xAB);
  EXPECT_EQ(buffer.Append(filler.data(), filler.size()), 0u);
  const std::uint8_t header[24] = {1, 2, 3};
  EXPECT_EQ(buffer.Append(header, sizeof header), filler.size());
  EXPECT_EQ(buffer.GetAllocatedSize(), 262144u);
  EXPECT_EQ(buffer.GetSize(), filler.size() + 24);
  EXPECT_EQ(buffer.GetData()[0], 0xAB);
  EXPECT_EQ(std::memcmp(buffer.GetData() + filler.size(), header, 24), 0);
  buffer.Reset();
  EXPECT_EQ(buffer.GetSize(), 0u);
  EXPECT_EQ(buffer.GetAllocatedSize(), 262144u) << "storage kept for the next sample";
}

}  // namespace

// PCAP packet stream samples: the 49-byte record an I/O element carries, the
// 24-byte packet header, the reader that walks a sample packet by packet,
// the writer that fills an output sample, the growable Buffer that holds
// one output element's packets, and DAXOpcap_component, the component base
// that owns one Buffer per FIFO element of its PCAP output.
//
// The record, the packet header and the two component classes keep their
// DAXO names in the global namespace; everything else of the format is in
// namespace pcap_stream, away from libpcap's own pcap_* and PCAP_* names.
// Installed with the SDK as include/velquor/pcap_stream/pcap_data.h, next to
// the static library velquor_pcap_stream.
//
// A sample's record points to a block of packets (header, then caplen bytes
// each) owned by the producing component: a reader copies nothing and the
// addresses stay valid while it holds the element.
//
// Threading: a reader or writer belongs to the thread of the component that
// reads or writes the element; Buffers and offset vectors are written by
// the producing component's thread only (one per FIFO element, reused when
// the writer takes that slot again, which the FIFO allows only once every
// reader has given it back).
#pragma once

#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "daxo_component.h"
#include "daxo_io.h"
#include "daxo_type_filter.h"

#pragma pack(push, 1)
/// The record in a PCAP stream element's data (packed, little-endian).
struct DAXOpcap_data_t {
  std::uint8_t version;
  std::int32_t link_type;
  std::uint16_t nb_packets;
  std::uint64_t* packet_offsets;  // nb_packets offsets from data; null when none
  std::uint16_t packet_header_size;
  std::uint64_t data_size;  // bytes used in data
  std::uint8_t* data;
  void* reserved;   // writer-private: the Buffer holding data
  void* reserved2;  // writer-private: the vector holding packet_offsets
};

/// The header in front of each packet of a block.
struct DAXOpcap_packet_header_t {
  std::uint32_t caplen;
  std::uint32_t len;
  std::uint64_t ts_seconds;
  std::uint64_t ts_microseconds;
};
#pragma pack(pop)

static_assert(sizeof(DAXOpcap_data_t) == 49);
static_assert(sizeof(DAXOpcap_packet_header_t) == 24);

/// What the reader and writer report inconsistent data to.
class DAXOpcap_class {
 public:
  /// Reports `message` as its owner's failure; a component raises its error
  /// (does not return).
  virtual void FatalError(const char* message) = 0;

 protected:
  ~DAXOpcap_class() = default;
};

namespace pcap_stream {

/// The type name of a PCAP stream's samples.
inline constexpr const char* KyTypeName = "DAXOpcap_data_t";
/// The kind of a PCAP stream's samples; a producer may add DAXO::VectorFlag.
inline constexpr DAXOTypeInfoValue KyTypeValue = DAXO::DynamicStructure;
/// Accepts PCAP stream samples: types with the KyTypeValue bit and that name,
/// single or vectors. The one declaration of the stream's filter: the
/// packages, the benchmark and the tests use it. Constant-initialised, so
/// that other static initialisers may use it whatever the order.
inline constinit const DAXOTypeFilterBase KyStreamFilter{KyTypeValue, KyTypeValue, DAXO::TypeMask,
                                                         KyTypeName, nullptr};
/// Element size of a PCAP stream output and VectorSize() of its samples.
constexpr int KyDataSize = 49;
/// Header size written by this package.
constexpr int KyPacketHeaderSize = 24;
/// Capacity of each output element's Buffer at start.
constexpr std::size_t KyInitialBufferSize = 131072;
/// Packets per sample: nb_packets is 16 bits.
constexpr int KyMaxPackets = 65535;

/// Time of a packet in microseconds.
inline std::int64_t Microseconds(const DAXOpcap_packet_header_t& h) {
  return static_cast<std::int64_t>(h.ts_seconds * 1000000 + h.ts_microseconds);
}

/// The header handed to a reader's caller.
struct pkthdr {
  struct timeval ts;
  std::uint32_t caplen;
  std::uint32_t len;
};

enum pcap_data_access_error { PCAP_NO_ERROR = 0, PCAP_END_OF_DATA = 1 };

/// Growable byte storage (C allocator); grows by powers of two. Memory is
/// backed (DAXO::PrefaultMemory) KyPrefaultStep bytes at a time ahead of
/// the bytes in use, the first time they are used: a new buffer costs no
/// page fault per page, and one never filled costs no memory.
class Buffer {
 public:
  /// Empty; `size` bytes of storage when size > 0. Failure: reported, then
  /// std::bad_alloc.
  explicit Buffer(std::size_t size = 0);
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  /// The smallest power of two at least `n`; 0 for 0.
  static std::size_t SizeToAllocate(std::size_t n);
  /// Grows the storage (content kept) to SizeToAllocate(n) when smaller
  /// than `n`. Failure: reported, storage and size unchanged, then
  /// std::bad_alloc.
  void Reserve(std::size_t n);
  /// Makes `n` more bytes in use; returns where they start.
  std::uint8_t* IncreaseSize(std::size_t n) {
    // m_size never exceeds m_backed: the difference cannot wrap.
    if (n > m_backed - m_size) Prepare(m_size + n);
    std::uint8_t* start = m_data + m_size;
    m_size += n;
    return start;
  }
  /// Appends `n` bytes; returns the offset they were placed at.
  std::size_t Append(const void* bytes, std::size_t n);
  void Reset() { m_size = 0; }
  std::uint8_t* GetData() const { return m_data; }
  std::size_t GetSize() const { return m_size; }
  std::size_t GetAllocatedSize() const { return m_allocatedSize; }

  /// The bytes backed at a time.
  static constexpr std::size_t KyPrefaultStep = 65536;

 private:
  /// Reserve(n), then backs the storage up to n and a step beyond.
  void Prepare(std::size_t n);

  std::uint8_t* m_data = nullptr;
  std::size_t m_allocatedSize = 0;
  std::size_t m_size = 0;
  std::size_t m_backed = 0;  // bytes from m_data backed already (<= m_allocatedSize)
};

/// Walks the packets of one sample. Never reads outside [data, data +
/// data_size) and never more than nb_packets packets.
class pcap_data_reader {
 public:
  pcap_data_reader(DAXOpcap_class& owner, const DAXOpcap_data_t& sample);

  /// The next packet: its header (for the caller), its data and its raw
  /// header. PCAP_END_OF_DATA when the block or the count is exhausted; a
  /// packet that does not fit in the block goes to the owner's FatalError.
  pcap_data_access_error get_next_packet(pkthdr* header, const std::uint8_t** data,
                                         const DAXOpcap_packet_header_t** packetHeader);

 private:
  DAXOpcap_class& m_owner;
  const DAXOpcap_data_t& m_sample;
  const std::uint8_t* m_position;
  std::uint16_t m_index = 0;
  const std::uint8_t* m_end;
};

}  // namespace pcap_stream

/// The component base of PCAP stream producers: one Buffer and one offset
/// vector per FIFO element of its PCAP output.
class DAXOpcap_component : public virtual DAXOComponent, public DAXOpcap_class {
 public:
  DAXOpcap_component(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}
  ~DAXOpcap_component() override;

  using DAXOComponent::Birth;
  /// Prepares every element of `output` (allocated with element size 49)
  /// as an empty PCAP sample with its own Buffer of `bufferSize` bytes. On
  /// failure every Buffer made so far is released and the failure passed on.
  void Birth(DAXOOutput& output, std::size_t bufferSize = pcap_stream::KyInitialBufferSize);
  /// Raises the component error `message`.
  void FatalError(const char* message) override;
  /// Releases the Buffers and offset vectors, then the framework's buffers.
  void FreeBuffers() override;
  /// Releases the Buffers and offset vectors only. The output's elements
  /// still point at them: call it once no reader holds a sample, before
  /// their output's buffer is released or prepared again.
  void ReleasePacketBuffers();

 protected:
  // One per FIFO element; each element's sample points into its own (the
  // addresses stay put while the element is in the FIFO).
  std::vector<std::unique_ptr<pcap_stream::Buffer>> m_data_buffers;
  std::vector<std::unique_ptr<std::vector<std::uint64_t>>> m_packet_offsets_vec;
};

namespace pcap_stream {

/// Fills one PCAP output sample: construct (start), set_timestamp when the
/// time is known only later, set_next_packet for each packet, End.
class pcap_data_writer {
 public:
  /// Starts writing on `output` (StartWriting): an empty sample of
  /// `linkType` stamped `timestamp`, discarded unless a packet is added.
  /// `Ok()` is false when no element could be had.
  pcap_data_writer(DAXOpcap_component& owner, DAXOOutput& output, std::int32_t linkType,
                   DAXOTimestamp timestamp);
  /// Ends the sample (End) if not ended yet.
  ~pcap_data_writer();
  pcap_data_writer(const pcap_data_writer&) = delete;
  pcap_data_writer& operator=(const pcap_data_writer&) = delete;

  bool Ok() const { return m_element != nullptr; }
  /// Stamps the sample `t` instead of the time given at the start.
  void set_timestamp(DAXOTimestamp t) { m_element->Timestamp() = t; }
  /// Appends one packet (its 24-byte header, then caplen bytes).
  void set_next_packet(const DAXOpcap_packet_header_t& header, const std::uint8_t* data) {
    std::uint8_t* at = NextPacket(header.caplen);
    std::memcpy(at, &header, sizeof header);
    if (header.caplen != 0) std::memcpy(at + sizeof header, data, header.caplen);
  }
  /// Appends one packet whose 24-byte header and `caplen` data bytes lie
  /// one after the other at `record` (one copy instead of two).
  void set_next_record(const std::uint8_t* record, std::uint32_t caplen) {
    std::memcpy(NextPacket(caplen), record, sizeof(DAXOpcap_packet_header_t) + caplen);
  }
  std::uint16_t GetNbPackets() const { return m_count; }
  /// True when a packet of `caplen` bytes fits in the sample's buffer
  /// without growing it.
  bool Fits(std::uint32_t caplen) const {
    return m_buffer->GetSize() + sizeof(DAXOpcap_packet_header_t) + caplen <=
           m_buffer->GetAllocatedSize();
  }
  /// Completes the record and publishes it (StopWriting), or discards it
  /// when it holds no packet.
  void End();

 private:
  /// Room for one more packet of `caplen` bytes, counted and indexed; on
  /// failure (std::bad_alloc) the sample is as it was.
  std::uint8_t* NextPacket(std::uint32_t caplen) {
    m_offsets->push_back(m_buffer->GetSize());
    std::uint8_t* at = nullptr;
    try {
      at = m_buffer->IncreaseSize(sizeof(DAXOpcap_packet_header_t) + caplen);
    } catch (...) {
      m_offsets->pop_back();
      throw;
    }
    ++m_count;
    m_discard = false;
    return at;
  }

  DAXOpcap_component& m_owner;
  DAXOpcap_data_t* m_sample = nullptr;
  Buffer* m_buffer = nullptr;
  std::vector<std::uint64_t>* m_offsets = nullptr;
  DAXOIOElt* m_element = nullptr;
  // Counted here and stored in the record at End: the record lives in the
  // output's shared slot block, which readers of other slots are reading.
  std::uint16_t m_count = 0;
  bool m_discard = true;
  bool m_ended = false;
};

}  // namespace pcap_stream

// PCAP stream samples: Buffer, reader, writer and the producer base class.
#include "pcap_data.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "daxo_kernel.h"
#include "daxo_system.h"

namespace pcap_stream {

// --- Buffer --------------------------------------------------------------------------

Buffer::Buffer(std::size_t size) {
  if (size == 0) return;
  m_data = static_cast<std::uint8_t*>(std::malloc(size));
  if (m_data == nullptr) {
    DAXO::ReportError("Unable to allocate the component's PCAP output data buffer.");
    throw std::bad_alloc();
  }
  m_allocatedSize = size;
}

Buffer::~Buffer() {
  std::free(m_data);
}

std::size_t Buffer::SizeToAllocate(std::size_t n) {
  if (n == 0) return 0;
  std::size_t size = 1;
  while (size < n) size <<= 1;
  return size;
}

void Buffer::Reserve(std::size_t n) {
  if (m_allocatedSize >= n) return;
  const std::size_t size = SizeToAllocate(n);
  auto* grown = static_cast<std::uint8_t*>(size != 0 ? std::realloc(m_data, size) : nullptr);
  if (grown == nullptr) {
    DAXO::ReportError("Unable to reallocate the component's PCAP output data buffer");
    throw std::bad_alloc();
  }
  m_data = grown;
  m_allocatedSize = size;
}

void Buffer::Prepare(std::size_t n) {
  Reserve(n);
  // Stepwise, from where the backing stopped (moved storage came back
  // whole from realloc: what it copied is touched already).
  const std::size_t target = std::min(m_allocatedSize, (n / KyPrefaultStep + 1) * KyPrefaultStep);
  if (target > m_backed) {
    DAXO::PrefaultMemory(m_data + m_backed, target - m_backed);
    m_backed = target;
  }
}

std::size_t Buffer::Append(const void* bytes, std::size_t n) {
  const std::size_t offset = m_size;
  if (n != 0) std::memcpy(IncreaseSize(n), bytes, n);
  return offset;
}

// --- reader --------------------------------------------------------------------------

namespace {

constexpr const char KyReadFailure[] = "Unable to read next PCAP packet in input data. \n";
constexpr const char KyNoHeaderRoom[] =
    "Data state is inconsistent: a PCAP packet is supposed to exist but there is not enough "
    "space for even the packet header. \n";
constexpr const char KyNoDataRoom[] =
    "Data state is inconsistent: a PCAP packet is supposed to exist but there is not enough "
    "space for packet data. \n";
constexpr const char KyCheckUse[] =
    "Component developer: please check that the PCAP data access objects are used correctly; "
    "if the problem persists, contact the supplier of the component.";

}  // namespace

pcap_data_reader::pcap_data_reader(DAXOpcap_class& owner, const DAXOpcap_data_t& sample)
    : m_owner(owner),
      m_sample(sample),
      m_position(sample.data),
      m_end(sample.data != nullptr ? sample.data + sample.data_size : nullptr) {}

pcap_data_access_error pcap_data_reader::get_next_packet(
    pkthdr* header, const std::uint8_t** data, const DAXOpcap_packet_header_t** packetHeader) {
  if (m_position == nullptr || m_position >= m_end || m_index >= m_sample.nb_packets) {
    return PCAP_END_OF_DATA;
  }
  const std::size_t left = static_cast<std::size_t>(m_end - m_position);
  const std::size_t headerSize = m_sample.packet_header_size;
  // The header fields read below must be inside the block too, whatever
  // header size the sample announces.
  if (headerSize > left || headerSize < sizeof(DAXOpcap_packet_header_t)) {
    m_owner.FatalError((std::string(KyReadFailure) + KyNoHeaderRoom + KyCheckUse).c_str());
    return PCAP_END_OF_DATA;
  }
  DAXOpcap_packet_header_t h;
  std::memcpy(&h, m_position, sizeof h);
  if (h.caplen > left - headerSize) {
    m_owner.FatalError((std::string(KyReadFailure) + KyNoDataRoom + KyCheckUse).c_str());
    return PCAP_END_OF_DATA;
  }
  const std::uint8_t* packet = m_position + headerSize;
  if (packetHeader != nullptr) {
    *packetHeader = reinterpret_cast<const DAXOpcap_packet_header_t*>(m_position);
  }
  if (data != nullptr) *data = packet;
  if (header != nullptr) {
    header->ts.tv_sec = static_cast<time_t>(h.ts_seconds);
    header->ts.tv_usec = static_cast<suseconds_t>(h.ts_microseconds);
    header->caplen = h.caplen;
    header->len = h.len;
  }
  ++m_index;
  m_position = packet + h.caplen;
  return PCAP_NO_ERROR;
}

}  // namespace pcap_stream

// --- component base ----------------------------------------------------------------

DAXOpcap_component::~DAXOpcap_component() {
  // Normally released by FreeBuffers already.
  ReleasePacketBuffers();
}

void DAXOpcap_component::Birth(DAXOOutput& output, std::size_t bufferSize) {
  using pcap_stream::Buffer;
  // Buffers of an earlier run are normally released by FreeBuffers; any
  // left (the output was not freed) are released here, not leaked.
  ReleasePacketBuffers();
  try {
    const int slots = output.NbFreeSlotsInFIFO();
    m_packet_offsets_vec.resize(static_cast<std::size_t>(slots > 0 ? slots : 0));
    for (auto& v : m_packet_offsets_vec) v = std::make_unique<std::vector<std::uint64_t>>();
    DAXOIOMonitor* monitor = output.Monitor();
    std::size_t k = 0;
    for (DAXOFastIOHandle slot = monitor->InitBegin(); slot.ptr != nullptr;
         slot = monitor->InitNext(slot), ++k) {
      if (k >= m_packet_offsets_vec.size()) {
        m_packet_offsets_vec.push_back(std::make_unique<std::vector<std::uint64_t>>());
      }
      DAXOIOElt* element = (*monitor)[slot];
      auto* sample = static_cast<DAXOpcap_data_t*>(element->Data());
      if (sample == nullptr) continue;  // not allocated: nothing to prepare
      Buffer* buffer = m_data_buffers.emplace_back(std::make_unique<Buffer>(bufferSize)).get();
      sample->version = 1;
      sample->nb_packets = 0;
      sample->packet_offsets = nullptr;
      sample->packet_header_size = pcap_stream::KyPacketHeaderSize;
      sample->data_size = 0;
      sample->data = buffer->GetData();
      sample->reserved = buffer;
      sample->reserved2 = m_packet_offsets_vec[k].get();
    }
  } catch (...) {
    m_data_buffers.clear();
    throw;
  }
}

void DAXOpcap_component::FatalError(const char* message) {
  Error(message, 0, DAXO::ErrorGeneric);
}

void DAXOpcap_component::ReleasePacketBuffers() {
  m_data_buffers.clear();
  m_packet_offsets_vec.clear();
}

void DAXOpcap_component::FreeBuffers() {
  ReleasePacketBuffers();
  DAXOComponent::FreeBuffers();
}

namespace pcap_stream {

// --- writer --------------------------------------------------------------------------

pcap_data_writer::pcap_data_writer(DAXOpcap_component& owner, DAXOOutput& output,
                                   std::int32_t linkType, DAXOTimestamp timestamp)
    : m_owner(owner) {
  m_element = owner.StartWriting(output);
  if (m_element == nullptr) return;
  m_element->Timestamp() = timestamp;
  m_element->VectorSize() = KyDataSize;
  m_sample = static_cast<DAXOpcap_data_t*>(m_element->Data());
  m_sample->link_type = linkType;
  m_buffer = static_cast<Buffer*>(m_sample->reserved);
  m_offsets = static_cast<std::vector<std::uint64_t>*>(m_sample->reserved2);
  m_buffer->Reset();
  m_offsets->clear();
  m_sample->nb_packets = 0;
  m_discard = true;
}

pcap_data_writer::~pcap_data_writer() {
  if (!m_ended && m_element != nullptr) {
    try {
      End();
    } catch (...) {
      // A destructor must not throw; the sample is lost.
    }
  }
}

void pcap_data_writer::End() {
  m_ended = true;
  m_sample->nb_packets = m_count;
  m_sample->packet_offsets = m_offsets->empty() ? nullptr : m_offsets->data();
  m_sample->data_size = m_buffer->GetSize();
  m_sample->data = m_buffer->GetData();
  m_owner.StopWriting(m_element, m_discard);
}

}  // namespace pcap_stream

// PcapFilePlayer: capture file -> PCAP packet stream.
#include "pcap_file_player.h"

#include <pcap/pcap.h>
#include <stdio_ext.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "daxo_package.h"
#include "daxo_property_value.h"
#include "io_common.h"

namespace velquor_io {

namespace {

enum { KyPropPath = 0, KyPropBatchSize, KyPropPackets };

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size, FIFO size, subsampling, shareable
    // The vector flag: a sample is 49 bytes (VectorSize() 49); without it the
    // allocation of a 49-byte element is reported as an error.
    {"output", 0, DAXOTypeInfo(DAXO::DynamicStructure | DAXO::VectorFlag, "DAXOpcap_data_t"),
     DAXOpcap::DataSize, 16, 1, 1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};

DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"batch_size", new DAXOPropertyValue(256L), nullptr, false, false, false, false, 0},
    {"packets", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {},
};

DAXOInputDefinition s_inputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

std::int64_t Microseconds(const pcap_pkthdr& h) {
  return static_cast<std::int64_t>(h.ts.tv_sec) * 1000000 + h.ts.tv_usec;
}

}  // namespace

DAXOComponentDefinition PcapFilePlayer::s_definition = {
    .name = "PcapFilePlayer",
    .version = "1.4.0",
    .instantiate = &PcapFilePlayer::Instantiate,
    .registering = nullptr,
    .unregistering = nullptr,
    .maxInstances = 0,
    .nbInputs = DAXOComponentDefinition::CountUntilZeroRow,
    .inputs = s_inputs,
    .nbOutputs = DAXOComponentDefinition::CountUntilZeroRow,
    .outputs = s_outputs,
    .nbProperties = DAXOComponentDefinition::CountUntilZeroRow,
    .properties = s_properties,
    .nbActions = DAXOComponentDefinition::CountUntilZeroRow,
    .actions = s_actions,
    .priority = 128,
    .kind = DAXO::Threaded,
    .threaded = true,
    .reserved = 0,
};

DAXO_DECLARE_MODULE(PcapFilePlayer, "DAXOComponent", "PcapFilePlayer", "1.4.0",
                    &PcapFilePlayer::s_definition);

DAXOComponent* PcapFilePlayer::Instantiate(const char* name, DAXOComponentDefinition& definition) {
  return new PcapFilePlayer(name, definition);
}

PcapFilePlayer::PcapFilePlayer(const char* name, DAXOComponentDefinition& definition)
    : DAXOComponent(name, definition), DAXOpcap_component(name, definition) {}

PcapFilePlayer::~PcapFilePlayer() {
  if (m_capture != nullptr) pcap_close(m_capture);
}

void PcapFilePlayer::Birth() {
  m_path = StringProperty(*this, KyPropPath);
  m_packets = 0;
  m_lastTime = 0;
  m_pending = false;
  DirectSet(*Property(KyPropPackets), 0L);
  Get(*Property(KyPropBatchSize), m_batchSize);
  if (m_batchSize < 1 || m_batchSize > DAXOpcap::MaxPackets) {
    Error("velquor_io: batch_size must be between 1 and 65535");
  }
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  if (m_capture != nullptr) pcap_close(m_capture);
  char errors[PCAP_ERRBUF_SIZE] = {};
  std::FILE* file = std::fopen(m_path.c_str(), "rb");
  if (file == nullptr) Error(FileFault(m_path, std::strerror(errno)).c_str());
  // libpcap reads every packet with two small freads: a larger buffer than
  // stdio's 4 KiB saves most of the read system calls.
  std::setvbuf(file, nullptr, _IOFBF, KyFileBufferSize);
  // Only this component's thread touches the file: stdio need not lock it
  // at every call (libpcap makes two or three calls per packet).
  __fsetlocking(file, FSETLOCKING_BYCALLER);
  m_capture = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_MICRO, errors);
  if (m_capture == nullptr) {
    std::fclose(file);  // libpcap takes the file only when it succeeds
    Error(FileFault(m_path, errors).c_str());
  }
  m_linkType = pcap_datalink(m_capture);
  DAXOpcap_component::Birth(Output(0));
}

bool PcapFilePlayer::NextPacket() {
  m_pending = false;
  const int rc = pcap_next_ex(m_capture, &m_header, &m_bytes);
  if (rc == PCAP_ERROR_BREAK) return false;
  if (rc != 1) PacketFault(pcap_geterr(m_capture));
  if (m_header->caplen > KyMaxPacketLength) PacketFault("packet length beyond 262144 bytes");
  m_pending = true;
  return true;
}

void PcapFilePlayer::Core() {
  // A packet read but left out of the previous sample (it did not fit)
  // stays valid in libpcap's buffer until the next pcap_next_ex.
  if (!m_pending && !NextPacket()) {
    Finish();
    return;
  }
  pcap_data_writer writer(*this, Output(0), m_linkType, SampleTimestamp(Microseconds(*m_header)));
  if (!writer.Ok()) return;  // the framework reported why; the packet stays pending
  bool atEnd = false;
  try {
    for (;;) {
      const DAXOpcap_packet_header_t h{m_header->caplen, m_header->len,
                                       static_cast<std::uint64_t>(m_header->ts.tv_sec),
                                       static_cast<std::uint64_t>(m_header->ts.tv_usec)};
      writer.set_next_packet(h, m_bytes);
      m_pending = false;
      ++m_packets;
      m_lastTime = Microseconds(*m_header);
      if (writer.GetNbPackets() >= m_batchSize) break;
      if (!NextPacket()) {
        atEnd = true;
        break;
      }
      // A sample ends when its buffer is full rather than grow it: memory
      // stays bounded by the FIFO's slots.
      if (!writer.Fits(m_header->caplen)) break;
    }
  } catch (...) {
    // The packets before a fault go out; the run stops on the fault.
    writer.End();
    throw;
  }
  writer.End();
  DirectSet(*Property(KyPropPackets), m_packets);
  if (atEnd) Finish();
}

void PcapFilePlayer::Finish() {
  DirectSet(*Property(KyPropPackets), m_packets);
  // Without a packet there is no time to give: the engine stamps it.
  WriteEndOfFile(*this, Output(1), m_packets > 0 ? SampleTimestamp(m_lastTime) : 0);
  CommitSuicide();
}

void PcapFilePlayer::PacketFault(const char* detail) {
  DirectSet(*Property(KyPropPackets), m_packets);
  Error(FileFault(m_path, "packet", m_packets + 1, detail).c_str());
  throw DAXO::ErrorException;  // not reached: Error throws it (GCC cannot see through the virtual
                               // call)
}

void PcapFilePlayer::Death() {
  if (m_capture != nullptr) pcap_close(m_capture);
  m_capture = nullptr;
}

void PcapFilePlayer::FreeBuffers() {
  DAXOpcap_component::FreeBuffers();
}

}  // namespace velquor_io

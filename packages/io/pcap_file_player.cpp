// PcapFilePlayer: capture file -> PCAP packet stream.
#include "pcap_file_player.h"

#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"
#include "io_common.h"

namespace velquor_io {

namespace {

enum { KyPropPath = 0, KyPropBatchSize, KyPropPackets, KyPropSalvage, KyPropSampleBytes };

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size, FIFO size, subsampling, shareable
    // The vector flag: a sample is 49 bytes (VectorSize() 49); without it the
    // allocation of a 49-byte element is reported as an error.
    {"output", 0,
     DAXOTypeInfo(pcap_stream::KyTypeValue | DAXO::VectorFlag, pcap_stream::KyTypeName),
     pcap_stream::KyDataSize, 16, 1, 1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};

DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"batch_size", new DAXOPropertyValue(256L), nullptr, false, false, false, false, 0},
    {"packets", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {"salvage_truncated", new DAXOPropertyValue(false), nullptr, false, false, false, false, 0},
    {"sample_bytes", new DAXOPropertyValue(static_cast<long>(pcap_stream::KyInitialBufferSize)),
     nullptr, false, false, false, false, 0},
    {},
};

DAXOInputDefinition s_inputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

// A pcap file's seconds are 32 bits unsigned, but libpcap hands them over
// sign-extended: those at or past 2^31 come back negative. (pcapng times
// are 64 bits unsigned and come back as they are.)
std::int64_t Seconds(const pcap_pkthdr& h) {
  const auto seconds = static_cast<std::int64_t>(h.ts.tv_sec);
  return seconds < 0 ? seconds + (std::int64_t{1} << 32) : seconds;
}

/// Reads `stream` with big blocks and without stdio's locks: only the
/// player's thread touches it, and libpcap makes two or three calls per
/// packet (a larger buffer than stdio's 4 KiB saves most read calls).
void TuneStream(std::FILE* stream) {
  std::setvbuf(stream, nullptr, _IOFBF, KyFileBufferSize);
  __fsetlocking(stream, FSETLOCKING_BYCALLER);
}

std::string LinkTypeText(int type) {
  const char* name = pcap_datalink_val_to_name(type);
  return std::string(name != nullptr ? name : "unknown") + " (" + std::to_string(type) + ")";
}

}  // namespace

DAXOComponentDefinition PcapFilePlayer::s_definition =
    ThreadedComponentRecord("PcapFilePlayer", "1.4.0", &InstantiateComponent<PcapFilePlayer>,
                            s_inputs, s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(PcapFilePlayer, "DAXOComponent", "PcapFilePlayer", "1.4.0",
                    &PcapFilePlayer::s_definition);

PcapFilePlayer::PcapFilePlayer(const char* name, DAXOComponentDefinition& definition)
    : DAXOComponent(name, definition), DAXOpcap_component(name, definition) {}

PcapFilePlayer::~PcapFilePlayer() {
  Close();
}

void PcapFilePlayer::Close() {
  m_reader.Close();  // closes the stream it reads: the file, or a section's
  if (m_sections != nullptr && m_file != nullptr) std::fclose(m_file);
  m_sections.reset();
  m_file = nullptr;
}

void PcapFilePlayer::Dynamic() {
  m_inputNote.Note(StringProperty(*this, KyPropPath));
  DAXOComponent::Dynamic();
}

void PcapFilePlayer::Birth() {
  m_path = StringProperty(*this, KyPropPath);
  m_packets = 0;
  m_lastTime = 0;
  m_pending = false;
  DirectSet(*Property(KyPropPackets), 0L);
  Get(*Property(KyPropBatchSize), m_batchSize);
  if (m_batchSize < 1 || m_batchSize > pcap_stream::KyMaxPackets) {
    Error("velquor_io: batch_size must be between 1 and 65535");
  }
  Get(*Property(KyPropSalvage), m_salvage);
  long sampleBytes = 0;
  Get(*Property(KyPropSampleBytes), sampleBytes);
  if (sampleBytes < KyMinSampleBytes || sampleBytes > KyMaxSampleBytes) {
    Error(("velquor_io: sample_bytes must be between " + std::to_string(KyMinSampleBytes) +
           " and " + std::to_string(KyMaxSampleBytes))
              .c_str());
  }
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  Close();
  m_file = std::fopen(m_path.c_str(), "rb");
  if (m_file == nullptr) Error(FileFault(m_path, std::strerror(errno)).c_str());
  TuneStream(m_file);
  std::FILE* stream = m_file;
  // A pcapng file begins with 0x0A in either byte order, a pcap file never.
  const int first = std::getc(m_file);
  if (first != EOF) std::ungetc(first, m_file);
  if (first == 0x0A) {
    m_sections = std::make_unique<CaptureSections>(m_file);
    stream = NextSection();
  }
  // A pcap file on the reader's fast path; pcapng sections through libpcap.
  if (!m_reader.Open(stream, m_sections == nullptr)) {
    Error(FileFault(m_path, m_reader.Fault()).c_str());
  }
  m_linkType = m_reader.LinkType();
  m_wholeEnd = m_salvage ? m_reader.Position() : 0;
  DAXOpcap_component::Birth(Output(0), static_cast<std::size_t>(sampleBytes));
}

std::FILE* PcapFilePlayer::NextSection() {
  std::FILE* stream = m_sections->Next();
  if (stream == nullptr) Error(FileFault(m_path, std::strerror(errno)).c_str());
  TuneStream(stream);
  return stream;
}

void PcapFilePlayer::Take(const pcap_pkthdr& header, const unsigned char* bytes) {
  // The reader has read the whole packet: the file is whole up to here.
  if (m_salvage) m_wholeEnd = m_reader.Position();
  if (header.caplen > KyMaxPacketLength) PacketFault("packet length beyond 262144 bytes");
  if (m_writer->GetNbPackets() > 0 && !m_writer->Fits(header.caplen)) {
    // A sample ends when its buffer is full rather than grow it (memory
    // stays bounded by the FIFO's slots): the packet opens the next one.
    try {
      m_pendingBytes.assign(bytes, bytes + header.caplen);
    } catch (const std::bad_alloc&) {
      PacketFault("not enough memory for the packet");
    }
    m_pendingHeader = header;
    m_pending = true;
    return;
  }
  Append(header, bytes);
}

void PcapFilePlayer::Append(const pcap_pkthdr& header, const unsigned char* bytes) {
  const std::int64_t seconds = Seconds(header);
  const std::int64_t time = seconds * 1000000 + header.ts.tv_usec;
  if (m_writer->GetNbPackets() == 0) m_writer->set_timestamp(SampleTimestamp(time));
  const DAXOpcap_packet_header_t h{header.caplen, header.len, static_cast<std::uint64_t>(seconds),
                                   static_cast<std::uint64_t>(header.ts.tv_usec)};
  m_writer->set_next_packet(h, bytes);
  ++m_packets;
  m_lastTime = time;
}

void PcapFilePlayer::Core() {
  pcap_stream::pcap_data_writer writer(*this, Output(0), m_linkType, 0);
  if (!writer.Ok()) return;  // failed: the life ends with this Core
  m_writer = &writer;
  bool atEnd = false;
  try {
    if (m_pending) {
      m_pending = false;
      Append(m_pendingHeader, m_pendingBytes.data());
    }
    // A section that ends before the sample is full: the next one fills it.
    for (int room = static_cast<int>(m_batchSize) - writer.GetNbPackets(); room > 0 && !m_pending;
         room = static_cast<int>(m_batchSize) - writer.GetNbPackets()) {
      if (!Read(room)) {
        atEnd = true;
        break;
      }
    }
  } catch (...) {
    // The packets before a fault go out; the run stops on the fault.
    m_writer = nullptr;
    writer.End();
    throw;
  }
  m_writer = nullptr;
  writer.End();
  DirectSet(*Property(KyPropPackets), m_packets);
  if (atEnd) Finish();
}

bool PcapFilePlayer::Read(int room) {
  for (int read = 0; read < room && !m_pending; ++read) {
    const pcap_pkthdr* header = nullptr;
    const unsigned char* bytes = nullptr;
    switch (m_reader.Next(header, bytes)) {
      case PcapFileReader::Status::Packet:
        Take(*header, bytes);
        break;
      case PcapFileReader::Status::Fault:
        if (SalvageCut()) return false;
        PacketFault(m_reader.Fault());
      case PcapFileReader::Status::End:
        if (m_sections == nullptr || !m_sections->More() || !OpenNextSection()) return false;
        break;
    }
  }
  return true;
}

bool PcapFilePlayer::OpenNextSection() {
  std::FILE* stream = NextSection();
  if (!m_reader.Open(stream, false)) {
    if (SalvageCut()) return false;
    PacketFault("section " + std::to_string(m_sections->Count()) + ": " + m_reader.Fault());
  }
  const int type = m_reader.LinkType();
  if (type != m_linkType) {
    PacketFault("section " + std::to_string(m_sections->Count()) + " is of link type " +
                LinkTypeText(type) + ", the first section of " + LinkTypeText(m_linkType) +
                ": the packets of one file must share one link type");
  }
  return true;
}

bool PcapFilePlayer::SalvageCut() {
  // Only a read that met the end of the file: any other fault stays one.
  struct stat file {};
  if (!m_salvage || m_file == nullptr || std::feof(m_file) == 0 ||
      fstat(fileno(m_file), &file) != 0) {
    return false;
  }
  // A stream (a pipe) has no size to tell the loss by.
  const std::string lost =
      S_ISREG(file.st_mode) && m_wholeEnd >= 0
          ? "the file's last " + std::to_string(file.st_size - m_wholeEnd) + " bytes are left out"
          : "it is left out";
  const std::string detail = "cut short by the end of the file: " + lost + "; the " +
                             std::to_string(m_packets) + " whole packets before it are kept";
  Report(FileFault(m_path, "packet", m_packets + 1, detail).c_str(), DAXO::Warning, 0);
  return true;
}

void PcapFilePlayer::Finish() {
  DirectSet(*Property(KyPropPackets), m_packets);
  // Without a packet there is no time to give: the engine stamps it. A
  // failed write ends the life with this Core, as an error.
  if (!WriteEndOfFile(*this, Output(1), m_packets > 0 ? SampleTimestamp(m_lastTime) : 0)) return;
  CommitSuicide();
}

void PcapFilePlayer::PacketFault(const std::string& detail) {
  DirectSet(*Property(KyPropPackets), m_packets);
  Error(FileFault(m_path, "packet", m_packets + 1, detail).c_str());
  throw DAXO::ErrorException;  // not reached: Error throws it (GCC cannot see through the virtual
                               // call)
}

void PcapFilePlayer::Death() {
  Close();
}

void PcapFilePlayer::FreeBuffers() {
  DAXOpcap_component::FreeBuffers();
}

}  // namespace velquor_io

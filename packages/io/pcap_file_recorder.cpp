// PcapFileRecorder: PCAP packet stream -> pcap file.
#include "pcap_file_recorder.h"

#include <pcap/pcap.h>
#include <stdio_ext.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_system.h"

namespace velquor_io {

namespace {

DAXOOutputDefinition s_outputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

constexpr int KyEthernet = 1;  // DLT_EN10MB: the link type of an empty capture

// What the last failed write said, e.g. "write error: No space left on device".
std::string WriteError() {
  const int error = errno;
  return error != 0 ? std::string("write error: ") + std::strerror(error) : "write error";
}

}  // namespace

DAXOComponentDefinition PcapFileRecorder::s_definition = ThreadedComponentRecord(
    "PcapFileRecorder", "1.4.0", &InstantiateComponent<PcapFileRecorder>,
    KyRecorderInputs<&pcap_stream::KyStreamFilter>, s_outputs, KyRecorderProperties, s_actions);

DAXO_DECLARE_MODULE(PcapFileRecorder, "DAXOComponent", "PcapFileRecorder", "1.4.0",
                    &PcapFileRecorder::s_definition);

PcapFileRecorder::~PcapFileRecorder() {
  Close();
}

void PcapFileRecorder::FatalError(const char* message) {
  Fail(message);
}

void PcapFileRecorder::Open() {
  Close();
  CheckCreatable();  // the link type comes with the first sample
}

void PcapFileRecorder::Create(int linkType) {
  m_linkType = linkType;
  // Backed in one call rather than a page fault per page.
  m_stage.reserve(KyFileBufferSize);
  DAXO::PrefaultMemory(m_stage.data(), m_stage.capacity());
  m_stage.resize(KyFileBufferSize);
  m_staged = 0;
  m_dead =
      pcap_open_dead_with_tstamp_precision(linkType, KySnapLength, PCAP_TSTAMP_PRECISION_MICRO);
  if (m_dead == nullptr) Fail("cannot prepare a capture of this link type");
  std::FILE* file = std::fopen(m_path.c_str(), "wb");
  if (file == nullptr) Fail(std::strerror(errno));
  // Packets reach the file through m_stage, a block at a time: stdio's own
  // (default, small) buffer only takes the file header, and passes blocks
  // larger than itself straight to write(). Kept buffered on purpose: when
  // writing the header fails, pcap_dump_fopen closes the file itself.
  __fsetlocking(file, FSETLOCKING_BYCALLER);  // only this thread touches it
  m_dumper = pcap_dump_fopen(m_dead, file);
  if (m_dumper == nullptr) {
    std::fclose(file);  // refused before writing: the file is still ours
    Fail(pcap_geterr(m_dead));
  }
}

void PcapFileRecorder::Write(DAXOIOElt& element) {
  const auto* sample = static_cast<const DAXOpcap_data_t*>(element.Data());
  if (sample == nullptr) return;
  if (m_dumper == nullptr) {
    Create(sample->link_type);
  } else if (sample->link_type != m_linkType) {
    Fail("samples of different link types cannot go into one capture file");
  }
  pcap_stream::pcap_data_reader reader(*this, *sample);
  pcap_stream::pkthdr header;
  const std::uint8_t* data = nullptr;
  while (reader.get_next_packet(&header, &data, nullptr) == pcap_stream::PCAP_NO_ERROR) {
    // pcap seconds are 32 bits unsigned (up to the year 2106); a pcapng
    // time can lie beyond, and would be written wrapped round.
    if (header.ts.tv_sec < 0 || header.ts.tv_sec > std::numeric_limits<std::uint32_t>::max()) {
      Fail("packet " + std::to_string(Count() + 1) + ": time " + std::to_string(header.ts.tv_sec) +
           " s is beyond what a pcap file holds (0 to 4294967295 s)");
    }
    Stage(header, data);
    Observe(static_cast<std::int64_t>(header.ts.tv_sec) * 1000000 + header.ts.tv_usec);
  }
  CheckWritten();
}

// The record pcap_dump writes (the savefile's packet header, in the
// writer's byte order, 32-bit seconds and microseconds), staged here:
// pcap_dump's checks and two stdio calls per packet cost several times the
// copy itself.
void PcapFileRecorder::Stage(const pcap_stream::pkthdr& header, const std::uint8_t* data) {
  const std::uint32_t record[4] = {static_cast<std::uint32_t>(header.ts.tv_sec),
                                   static_cast<std::uint32_t>(header.ts.tv_usec), header.caplen,
                                   header.len};
  const std::size_t size = sizeof record + header.caplen;
  if (m_staged + size > m_stage.size()) FlushStage();
  if (size > m_stage.size()) {
    std::FILE* file = pcap_dump_file(m_dumper);
    std::fwrite(record, sizeof record, 1, file);
    std::fwrite(data, header.caplen, 1, file);
    return;
  }
  std::memcpy(m_stage.data() + m_staged, record, sizeof record);
  std::memcpy(m_stage.data() + m_staged + sizeof record, data, header.caplen);
  m_staged += size;
}

void PcapFileRecorder::FlushStage() {
  if (m_staged > 0) std::fwrite(m_stage.data(), m_staged, 1, pcap_dump_file(m_dumper));
  m_staged = 0;
}

void PcapFileRecorder::CheckWritten() {
  if (std::ferror(pcap_dump_file(m_dumper)) != 0) Fail(WriteError());
}

void PcapFileRecorder::Finish() {
  if (m_dumper == nullptr) Create(KyEthernet);
  FlushStage();
  if (pcap_dump_flush(m_dumper) != 0) Fail(WriteError());
  CheckWritten();
  pcap_dump_close(m_dumper);
  m_dumper = nullptr;
  pcap_close(m_dead);
  m_dead = nullptr;
}

void PcapFileRecorder::Close() {
  m_staged = 0;  // a failed or abandoned file: what is staged is dropped
  if (m_dumper != nullptr) pcap_dump_close(m_dumper);
  m_dumper = nullptr;
  if (m_dead != nullptr) pcap_close(m_dead);
  m_dead = nullptr;
}

}  // namespace velquor_io

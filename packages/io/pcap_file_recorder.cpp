// PcapFileRecorder: PCAP packet stream -> pcap file.
#include "pcap_file_recorder.h"

#include <pcap/pcap.h>
#include <stdio_ext.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "daxo_component_record.h"
#include "daxo_package.h"

namespace velquor_io {

namespace {

const DAXOTypeFilterBase kPcapStream{DAXO::DynamicStructure, 0x40000, DAXO::TypeMask,
                                     "DAXOpcap_data_t", nullptr};

DAXOInputDefinition s_inputs[] = {
    // name, reserved, type filter, reader type, subsampling
    {"input", 0, &kPcapStream, DAXO::NeverSkippingReader, 1},
    {"end_of_file", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};
DAXOOutputDefinition s_outputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

constexpr int kEthernet = 1;  // DLT_EN10MB: the link type of an empty capture

}  // namespace

DAXOComponentDefinition PcapFileRecorder::s_definition =
    ThreadedComponentRecord("PcapFileRecorder", "1.4.0", &PcapFileRecorder::Instantiate, s_inputs,
                            s_outputs, KyRecorderProperties, s_actions);

DAXO_DECLARE_MODULE(PcapFileRecorder, "DAXOComponent", "PcapFileRecorder", "1.4.0",
                    &PcapFileRecorder::s_definition);

DAXOComponent* PcapFileRecorder::Instantiate(const char* name,
                                             DAXOComponentDefinition& definition) {
  return new PcapFileRecorder(name, definition);
}

PcapFileRecorder::~PcapFileRecorder() {
  Close();
}

void PcapFileRecorder::FatalError(const char* message) {
  Fail(message);
}

void PcapFileRecorder::Open() {
  Close();
  // The link type comes with the first sample; until then only check that
  // the file can be created, so that a bad path fails at start.
  std::FILE* probe = std::fopen(m_path.c_str(), "wb");
  if (probe == nullptr) Fail(std::strerror(errno));
  std::fclose(probe);
}

void PcapFileRecorder::Create(int linkType) {
  m_linkType = linkType;
  m_dead =
      pcap_open_dead_with_tstamp_precision(linkType, KySnapLength, PCAP_TSTAMP_PRECISION_MICRO);
  if (m_dead == nullptr) Fail("cannot prepare a capture of this link type");
  std::FILE* file = std::fopen(m_path.c_str(), "wb");
  if (file == nullptr) Fail(std::strerror(errno));
  // Two fwrites per packet: a larger buffer than stdio's 4 KiB saves most
  // of the write system calls.
  std::setvbuf(file, nullptr, _IOFBF, KyFileBufferSize);
  // Only this component's thread touches the file: stdio need not lock it
  // at every call (libpcap makes two or three calls per packet).
  __fsetlocking(file, FSETLOCKING_BYCALLER);
  m_dumper = pcap_dump_fopen(m_dead, file);
  if (m_dumper == nullptr) {
    std::fclose(file);  // libpcap takes the file only when it succeeds
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
  pcap_data_reader reader(*this, *sample);
  pkthdr header;
  const std::uint8_t* data = nullptr;
  while (reader.get_next_packet(&header, &data, nullptr) == PCAP_NO_ERROR) {
    pcap_pkthdr h{};
    h.ts = header.ts;
    h.caplen = header.caplen;
    h.len = header.len;
    pcap_dump(reinterpret_cast<u_char*>(m_dumper), &h, data);
    Observe(static_cast<std::int64_t>(header.ts.tv_sec) * 1000000 + header.ts.tv_usec);
  }
  CheckWritten();
}

void PcapFileRecorder::CheckWritten() {
  if (std::ferror(pcap_dump_file(m_dumper)) != 0) Fail("write error");
}

void PcapFileRecorder::Finish() {
  if (m_dumper == nullptr) Create(kEthernet);
  if (pcap_dump_flush(m_dumper) != 0) Fail("write error");
  CheckWritten();
  pcap_dump_close(m_dumper);
  m_dumper = nullptr;
  pcap_close(m_dead);
  m_dead = nullptr;
}

void PcapFileRecorder::Close() {
  if (m_dumper != nullptr) pcap_dump_close(m_dumper);
  m_dumper = nullptr;
  if (m_dead != nullptr) pcap_close(m_dead);
  m_dead = nullptr;
}

}  // namespace velquor_io

// What a capture stream reads as, in one text: the open's fault, or the link
// type, then each packet (time, lengths, bytes) and how the stream ended with
// libpcap's text. Two readers agree on a stream when their transcripts are
// equal. Shared by the reader's test and its differential fuzz target.
#pragma once

#include <pcap/pcap.h>

#include <cstdio>
#include <string>

#include "pcap_file_reader.h"

namespace velquor_io::testing {

inline void AppendPacket(std::string& out, const pcap_pkthdr& h, const unsigned char* bytes) {
  out += std::to_string(h.ts.tv_sec) + "." + std::to_string(h.ts.tv_usec) + " " +
         std::to_string(h.caplen) + "/" + std::to_string(h.len) + " ";
  out.append(reinterpret_cast<const char*>(bytes), h.caplen);
  out += '\n';
}

/// `stream` read with libpcap alone (it closes the stream).
inline std::string LibpcapTranscript(std::FILE* stream) {
  char errors[PCAP_ERRBUF_SIZE] = {};
  pcap_t* p = pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_MICRO, errors);
  if (p == nullptr) {
    std::fclose(stream);
    return std::string("open fault: ") + errors;
  }
  std::string out = "link " + std::to_string(pcap_datalink(p)) + "\n";
  pcap_pkthdr* h = nullptr;
  const u_char* bytes = nullptr;
  int read = 0;
  while ((read = pcap_next_ex(p, &h, &bytes)) == 1) AppendPacket(out, *h, bytes);
  out += read == PCAP_ERROR_BREAK ? std::string("end") : std::string("fault: ") + pcap_geterr(p);
  pcap_close(p);
  return out;
}

/// `stream` read with a PcapFileReader of `readSize` (which closes it).
inline std::string ReaderTranscript(std::FILE* stream, std::size_t readSize) {
  PcapFileReader reader(readSize);
  if (!reader.Open(stream)) return "open fault: " + reader.Fault();
  std::string out = "link " + std::to_string(reader.LinkType()) + "\n";
  const pcap_pkthdr* h = nullptr;
  const unsigned char* bytes = nullptr;
  PcapFileReader::Status status;
  while ((status = reader.Next(h, bytes)) == PcapFileReader::Status::Packet) {
    AppendPacket(out, *h, bytes);
  }
  out += status == PcapFileReader::Status::End ? "end" : "fault: " + reader.Fault();
  return out;
}

}  // namespace velquor_io::testing

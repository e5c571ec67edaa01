// PcapFilePlayer: plays a capture file (pcap in either byte order, with
// micro- or nanosecond times, or pcapng; read with libpcap) as a PCAP packet
// stream: samples of "batch_size" packets on "output" (fewer when the
// packets fill the sample's 128 KiB buffer first), then one end-of-file
// sample (value 1, the last packet's time) on "end_of_file", then it ends
// itself. Times are microseconds (nanosecond files are cut to µs by libpcap).
// A sample's timestamp is the time of its first packet; "packets" counts the
// packets played so far.
//
// Faults (unreadable file, wrong magic, truncated header or packet, a packet
// longer than 262144 bytes) raise a component error naming the file and,
// for a packet, its number from 1.
//
// Threading: threaded model; Birth, Core and Death run on the component's
// thread, which alone touches the capture handle.
#pragma once

#include <cstdint>
#include <string>

#include "pcap_data.h"

struct pcap;
struct pcap_pkthdr;

namespace velquor_io {

class PcapFilePlayer : public DAXOpcap_component {
 public:
  /// Largest packet accepted, in bytes (captured or on the wire).
  static constexpr std::uint32_t KyMaxPacketLength = 262144;

  static DAXOComponentDefinition s_definition;
  static DAXOComponent* Instantiate(const char* name, DAXOComponentDefinition& definition);

  PcapFilePlayer(const char* name, DAXOComponentDefinition& definition);
  ~PcapFilePlayer() override;

  void Birth() override;
  void Core() override;
  void Death() override;
  void FreeBuffers() override;

 private:
  [[noreturn]] void PacketFault(const char* detail);
  /// Reads the next packet into m_header/m_bytes (pending); false at the end
  /// of the file. A read fault or an oversized packet raises the error.
  bool NextPacket();
  void Finish();

  std::string m_path;
  pcap* m_capture = nullptr;
  long m_batchSize = 256;
  std::int32_t m_linkType = 0;
  long m_packets = 0;
  pcap_pkthdr* m_header = nullptr;
  const unsigned char* m_bytes = nullptr;
  bool m_pending = false;  // m_header/m_bytes hold a packet not played yet
  std::int64_t m_lastTime = 0;
};

}  // namespace velquor_io

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

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io_common.h"
#include "pcap_data.h"

namespace velquor_io {

class PcapFilePlayer : public DAXOpcap_component {
 public:
  /// Largest packet accepted, in bytes (captured or on the wire).
  static constexpr std::uint32_t KyMaxPacketLength = 262144;

  static DAXOComponentDefinition s_definition;
  static DAXOComponent* Instantiate(const char* name, DAXOComponentDefinition& definition);

  PcapFilePlayer(const char* name, DAXOComponentDefinition& definition);
  ~PcapFilePlayer() override;

  void Dynamic() override;
  void Birth() override;
  void Core() override;
  void Death() override;
  void FreeBuffers() override;

 private:
  [[noreturn]] void PacketFault(const char* detail);
  /// pcap_dispatch's callback: `user` is the player.
  static void OnPacket(unsigned char* user, const pcap_pkthdr* header, const unsigned char* bytes);
  /// One packet read by libpcap: appended to the sample being written, kept
  /// for the next sample when it does not fit, or noted as a fault.
  void Take(const pcap_pkthdr& header, const unsigned char* bytes) noexcept;
  void Append(const pcap_pkthdr& header, const unsigned char* bytes);
  /// The end of the file: the end-of-file sample, then the player ends
  /// itself (unless that write failed: Core returns and the life ends).
  /// Last step of a Core.
  void Finish();

  std::string m_path;
  pcap* m_capture = nullptr;
  long m_batchSize = 256;
  std::int32_t m_linkType = 0;
  long m_packets = 0;
  pcap_data_writer* m_writer = nullptr;  // the sample being filled, during pcap_dispatch
  const char* m_fault = nullptr;         // noted by Take, raised after pcap_dispatch
  // A packet read but left out of the previous sample (it did not fit).
  bool m_pending = false;
  pcap_pkthdr m_pendingHeader{};
  std::vector<std::uint8_t> m_pendingBytes;
  std::int64_t m_lastTime = 0;
  InputPathNote m_inputNote;  // the file this player is set to read
};

}  // namespace velquor_io

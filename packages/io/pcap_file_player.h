// PcapFilePlayer: plays a capture file (pcap in either byte order, with
// micro- or nanosecond times, or pcapng; read by PcapFileReader: classic
// pcap on its fast path, the rest with libpcap) as a PCAP packet
// stream: samples of "batch_size" packets on "output" (fewer when the
// packets fill the sample's buffer of "sample_bytes" first: 128 KiB unless
// set; one packet larger than that gets a sample of its own), then one end-of-file
// sample (value 1, the last packet's time) on "end_of_file", then it ends
// itself. Times are microseconds (nanosecond files are cut to µs by libpcap).
// A sample's timestamp is the time of its first packet; "packets" counts the
// packets played so far. Seconds are unsigned, as the pcap format holds them
// (a time at or past 2^31 s is not before 1970). The sections of a pcapng
// file are read one at a time, each in its own byte order; they must share
// the first section's link type.
//
// Faults (unreadable file, wrong magic, truncated header or packet, a packet
// longer than 262144 bytes, a section of another link type) raise a
// component error naming the file and, for a packet, its number from 1.
// With "salvage_truncated" true, a file cut short in its last packet is
// played up to the last whole packet instead, and the cut is reported as a
// warning (the packet's number and the bytes left out).
//
// Threading: threaded model; Birth, Core and Death run on the component's
// thread, which alone touches the capture handle.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture_sections.h"
#include "io_common.h"
#include "pcap_data.h"
#include "pcap_file_reader.h"

namespace velquor_io {

class PcapFilePlayer : public DAXOpcap_component {
 public:
  /// Largest packet accepted, in bytes (captured or on the wire).
  static constexpr std::uint32_t KyMaxPacketLength = 262144;
  // The range of "sample_bytes": each FIFO slot holds a buffer this large.
  static constexpr long KyMinSampleBytes = 1024;
  static constexpr long KyMaxSampleBytes = 64L << 20;

  static DAXOComponentDefinition s_definition;

  PcapFilePlayer(const char* name, DAXOComponentDefinition& definition);
  ~PcapFilePlayer() override;

  void Dynamic() override;
  void Birth() override;
  void Core() override;
  void Death() override;
  void FreeBuffers() override;

 private:
  [[noreturn]] void PacketFault(const std::string& detail);
  /// Closes the capture and the file.
  void Close();
  /// The next pcapng section's stream, or a fault.
  std::FILE* NextSection();
  /// Reads up to `room` packets (going on into the next section when one
  /// ends); false at the end of the file. Raises packet faults.
  bool Read(int room);
  /// Opens the next pcapng section; false when the file ends there (a cut
  /// salvaged). Raises the faults of a section.
  bool OpenNextSection();
  /// After a read error: true when the file was cut short and the salvage
  /// is on (the cut is then reported and the file ends there).
  bool SalvageCut();
  /// One packet read: appended to the sample being written, or kept for
  /// the next sample when it does not fit. Raises packet faults.
  void Take(const pcap_pkthdr& header, const unsigned char* bytes);
  void Append(const pcap_pkthdr& header, const unsigned char* bytes);
  /// The end of the file: the end-of-file sample, then the player ends
  /// itself (unless that write failed: Core returns and the life ends).
  /// Last step of a Core.
  void Finish();

  std::string m_path;
  PcapFileReader m_reader;
  // The file read; the reader's own for a pcap file, this player's (read
  // through m_sections) for a pcapng file.
  std::FILE* m_file = nullptr;
  std::unique_ptr<CaptureSections> m_sections;
  bool m_salvage = false;
  std::int64_t m_wholeEnd = 0;  // salvage: file offset after the last packet read
  long m_batchSize = 256;
  std::int32_t m_linkType = 0;
  long m_packets = 0;
  // The sample being filled, during Core.
  pcap_stream::pcap_data_writer* m_writer = nullptr;
  // A packet read but left out of the previous sample (it did not fit).
  bool m_pending = false;
  pcap_pkthdr m_pendingHeader{};
  std::vector<std::uint8_t> m_pendingBytes;
  std::int64_t m_lastTime = 0;
  InputPathNote m_inputNote;  // the file this player is set to read
};

}  // namespace velquor_io

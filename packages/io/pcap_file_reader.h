// PcapFileReader: the packets of one capture stream (a pcap file, or one
// pcapng section), one at a time, as libpcap would hand them over with
// microsecond precision.
//
// Classic pcap files of version 2.4 in either byte order, with micro- or
// nanosecond times, are read on a fast path: large reads into the reader's
// own buffer, each record parsed where it lies, no per-packet call into
// libpcap or stdio. libpcap still opens the file's header (so that the link
// type, the snapshot length and every header fault are exactly its own) and
// reads whatever the fast path does not take: any other format, and, from
// the first such record on, a record that is cut short by the end of the
// stream or that captures more than the file's snapshot length. libpcap then
// reads a stream that replays the header and the bytes the fast path had
// buffered but not used, so the packets and the faults are the same either
// way (a differential fuzz target holds the two paths to that).
//
// Times: nanoseconds are cut to microseconds; seconds and fractions are
// handed over as libpcap gives them (32 bits, sign-extended).
//
// Threading: none of its own; one thread at a time.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velquor_io {

class PcapFileReader {
 public:
  enum class Status { Packet, End, Fault };

  /// Bytes the fast path reads at a time.
  static constexpr std::size_t kDefaultReadSize = 256 * 1024;

  /// `readSize`: bytes read at a time on the fast path (at least 1; small
  /// sizes let the tests put records across reads).
  explicit PcapFileReader(std::size_t readSize = kDefaultReadSize);
  ~PcapFileReader();
  PcapFileReader(const PcapFileReader&) = delete;
  PcapFileReader& operator=(const PcapFileReader&) = delete;

  /// Opens the capture `stream` (positioned at its start), which the reader
  /// owns from then on, fault or not. `fastPath` false reads it all with
  /// libpcap. False on a fault, with libpcap's text in Fault().
  bool Open(std::FILE* stream, bool fastPath = true);
  /// Closes the capture and the stream.
  void Close();

  /// The next packet: its header and bytes stay valid until the next call.
  /// End at the end of the stream; Fault with the reason in Fault().
  Status Next(const pcap_pkthdr*& header, const unsigned char*& bytes);

  /// The link type (as pcap_datalink gives it).
  int LinkType() const { return m_linkType; }
  /// libpcap's text for the last fault.
  const std::string& Fault() const { return m_fault; }
  /// The offset in the stream just past the last packet handed over (the
  /// end of the file header before the first one); -1 if unknown.
  std::int64_t Position() const;
  /// Whether packets come from the fast path now.
  bool Fast() const { return m_fast; }

 private:
  struct Replay;
  /// Hands the rest of the stream, from the unread record at m_next, to
  /// libpcap through a replay of the header and the buffered bytes.
  bool FallBack();
  /// Opens libpcap on `stream`; false with the fault noted.
  bool OpenLibpcap(std::FILE* stream);
  /// Makes at least `bytes` unread bytes available in m_buffer (fewer at
  /// the end of the stream); the count available.
  std::size_t Fill(std::size_t bytes);

  std::size_t m_readSize;
  pcap_t* m_capture = nullptr;
  std::FILE* m_stream = nullptr;     // the stream given to Open
  std::unique_ptr<Replay> m_replay;  // what libpcap reads after a fall-back
  std::string m_fault;
  int m_linkType = 0;
  bool m_fast = false;

  // The fast path.
  bool m_swapped = false;
  bool m_nanoseconds = false;
  std::uint32_t m_snapshot = 0;
  unsigned char m_fileHeader[24] = {};
  std::vector<unsigned char> m_buffer;
  std::size_t m_next = 0;   // first unread byte of m_buffer
  std::size_t m_end = 0;    // end of the bytes in m_buffer
  std::int64_t m_base = 0;  // stream offset of m_buffer[0]
  bool m_eof = false;       // the stream has no more bytes
  pcap_pkthdr m_header{};
};

}  // namespace velquor_io

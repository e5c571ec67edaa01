// PcapFileReader: classic pcap records parsed in place, libpcap for the rest.
#include "pcap_file_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velquor_io {

namespace {

constexpr std::size_t kFileHeaderSize = 24;
/// The largest snapshot length libpcap gives a file of a plain link type.
constexpr std::size_t kMaxSnapshot = 262144;
constexpr std::size_t kRecordHeaderSize = 16;

constexpr std::uint32_t kMicroMagic = 0xA1B2C3D4;
constexpr std::uint32_t kNanoMagic = 0xA1B23C4D;

std::uint32_t Load32(const unsigned char* p, bool swapped) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return swapped ? __builtin_bswap32(v) : v;
}
std::uint16_t Load16(const unsigned char* p, bool swapped) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return swapped ? __builtin_bswap16(v) : v;
}

/// Link types whose packets libpcap hands over as they lie in the file. For
/// some others it rewrites pseudo-headers (byte order, lengths): those stay
/// with libpcap.
bool PlainLinkType(int type) {
  switch (type) {
    case DLT_NULL:
    case DLT_EN10MB:
    case DLT_PPP:
    case DLT_RAW:
    case DLT_IEEE802_11:
    case DLT_LOOP:
    case DLT_IEEE802_11_RADIO:
    case DLT_IPV4:
    case DLT_IPV6:
      return true;
    default:
      return false;
  }
}

}  // namespace

/// What libpcap reads after a fall-back: `bytes` (the file header and the
/// bytes buffered but not used), then the rest of `rest`. Offset p of the
/// replay is offset p + delta of the original stream (past the header).
struct PcapFileReader::Replay {
  std::vector<unsigned char> bytes;
  std::size_t served = 0;
  std::int64_t consumed = 0;
  std::int64_t delta = 0;
  std::FILE* rest = nullptr;
  std::FILE* file = nullptr;  // the cookie stream libpcap reads

  static ssize_t Read(void* cookie, char* out, std::size_t size) {
    auto* r = static_cast<Replay*>(cookie);
    std::size_t n = 0;
    if (r->served < r->bytes.size()) {
      n = std::min(size, r->bytes.size() - r->served);
      std::memcpy(out, r->bytes.data() + r->served, n);
      r->served += n;
    }
    if (n < size) {
      n += std::fread(out + n, 1, size - n, r->rest);
      if (n == 0 && std::ferror(r->rest) != 0) return -1;
    }
    r->consumed += static_cast<std::int64_t>(n);
    return static_cast<ssize_t>(n);
  }
  /// Only telling the position is supported.
  static int Seek(void* cookie, off64_t* offset, int whence) {
    auto* r = static_cast<Replay*>(cookie);
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = r->consumed;
    return 0;
  }
  /// The original stream is closed by the reader.
  static int Close(void*) { return 0; }
};

PcapFileReader::PcapFileReader(std::size_t readSize)
    : m_readSize(std::max<std::size_t>(readSize, 1)) {}

PcapFileReader::~PcapFileReader() {
  Close();
}

void PcapFileReader::Close() {
  // libpcap closes the stream it was given: the original, or the replay.
  std::FILE* given = m_capture != nullptr ? pcap_file(m_capture) : nullptr;
  if (m_capture != nullptr) pcap_close(m_capture);
  m_capture = nullptr;
  if (m_replay != nullptr && m_replay->file != nullptr && m_replay->file != given) {
    std::fclose(m_replay->file);
  }
  m_replay.reset();
  if (m_stream != nullptr && m_stream != given) std::fclose(m_stream);
  m_stream = nullptr;
  m_fast = false;
  m_buffer.clear();
  m_buffer.shrink_to_fit();
}

bool PcapFileReader::OpenLibpcap(std::FILE* stream) {
  char errors[PCAP_ERRBUF_SIZE] = {};
  m_capture = pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_MICRO, errors);
  if (m_capture == nullptr) {
    m_fault = errors;
    return false;
  }
  m_linkType = pcap_datalink(m_capture);
  return true;
}

bool PcapFileReader::Open(std::FILE* stream, bool fastPath) {
  Close();
  m_stream = stream;
  m_fault.clear();
  m_base = 0;
  m_next = 0;
  m_end = 0;
  m_eof = false;
  if (!fastPath) return OpenLibpcap(stream);

  const std::size_t got = Fill(kFileHeaderSize);
  if (got >= kFileHeaderSize) {
    std::memcpy(m_fileHeader, m_buffer.data(), kFileHeaderSize);
    const std::uint32_t magic = Load32(m_fileHeader, false);
    m_swapped = magic == __builtin_bswap32(kMicroMagic) || magic == __builtin_bswap32(kNanoMagic);
    m_nanoseconds = magic == kNanoMagic || magic == __builtin_bswap32(kNanoMagic);
    const bool classic = m_swapped || magic == kMicroMagic || magic == kNanoMagic;
    if (classic && Load16(m_fileHeader + 4, m_swapped) == 2 &&
        Load16(m_fileHeader + 6, m_swapped) == 4) {
      // libpcap reads the header alone: its link type, its snapshot length
      // and its faults are the ones the slow path would give.
      std::FILE* header = fmemopen(m_fileHeader, kFileHeaderSize, "rb");
      char errors[PCAP_ERRBUF_SIZE] = {};
      pcap_t* probe = header == nullptr ? nullptr
                                        : pcap_fopen_offline_with_tstamp_precision(
                                              header, PCAP_TSTAMP_PRECISION_MICRO, errors);
      if (probe == nullptr && header != nullptr) std::fclose(header);
      if (probe != nullptr) {
        m_linkType = pcap_datalink(probe);
        const int snapshot = pcap_snapshot(probe);
        pcap_close(probe);
        if (PlainLinkType(m_linkType) && snapshot > 0 &&
            static_cast<std::size_t>(snapshot) <= kMaxSnapshot) {
          m_snapshot = static_cast<std::uint32_t>(snapshot);
          m_next = kFileHeaderSize;
          m_fast = true;
          return true;
        }
      }
    }
  }
  // Not for the fast path: libpcap reads the stream from its start, again
  // if it can seek there, else from a replay of the bytes read.
  if (fseeko(stream, 0, SEEK_SET) == 0) return OpenLibpcap(stream);
  return FallBack();
}

std::size_t PcapFileReader::Fill(std::size_t bytes) {
  if (m_end - m_next >= bytes || m_eof) return m_end - m_next;
  if (m_next > 0) {
    std::memmove(m_buffer.data(), m_buffer.data() + m_next, m_end - m_next);
    m_base += static_cast<std::int64_t>(m_next);
    m_end -= m_next;
    m_next = 0;
  }
  // Room for the bytes asked for and one more read: the buffer grows to the
  // largest record met (at most a snapshot's) beside a read.
  if (m_buffer.size() < bytes + m_readSize) m_buffer.resize(bytes + m_readSize);
  while (m_end < bytes && !m_eof) {
    const std::size_t room = std::min(m_readSize, m_buffer.size() - m_end);
    const std::size_t n = std::fread(m_buffer.data() + m_end, 1, room, m_stream);
    m_end += n;
    if (n < room) m_eof = true;  // the end, or a read error libpcap will meet again
  }
  return m_end - m_next;
}

bool PcapFileReader::FallBack() {
  m_replay = std::make_unique<Replay>();
  Replay& r = *m_replay;
  if (m_fast) {
    r.bytes.assign(m_fileHeader, m_fileHeader + kFileHeaderSize);
    r.delta =
        m_base + static_cast<std::int64_t>(m_next) - static_cast<std::int64_t>(kFileHeaderSize);
  } else {
    r.delta = m_base;
  }
  r.bytes.insert(r.bytes.end(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_next),
                 m_buffer.begin() + static_cast<std::ptrdiff_t>(m_end));
  r.rest = m_stream;
  m_fast = false;
  m_buffer.clear();
  m_buffer.shrink_to_fit();
  r.file = fopencookie(&r, "rb", {&Replay::Read, nullptr, &Replay::Seek, &Replay::Close});
  if (r.file == nullptr) {
    m_fault = std::string("cannot read the capture: ") + std::strerror(errno);
    return false;
  }
  return OpenLibpcap(r.file);
}

PcapFileReader::Status PcapFileReader::Next(const pcap_pkthdr*& header,
                                            const unsigned char*& bytes) {
  if (m_fast) {
    const std::size_t got = Fill(kRecordHeaderSize);
    if (got == 0 && m_eof) return Status::End;
    const unsigned char* record = m_buffer.data() + m_next;
    const std::uint32_t caplen =
        got >= kRecordHeaderSize ? Load32(record + 8, m_swapped) : m_snapshot + 1;
    if (caplen <= m_snapshot && Fill(kRecordHeaderSize + caplen) >= kRecordHeaderSize + caplen) {
      record = m_buffer.data() + m_next;  // Fill may have moved the bytes
      // As libpcap reads them: in the file's own byte order the two fields
      // are signed 32 bits (past 2^31 they come out negative), swapped they
      // are unsigned. Nanoseconds are cut to microseconds.
      const std::uint32_t seconds = Load32(record, m_swapped);
      const std::uint32_t fraction = Load32(record + 4, m_swapped);
      const std::int64_t sec = m_swapped ? std::int64_t{seconds} : std::int32_t(seconds);
      const std::int64_t frac = m_swapped ? std::int64_t{fraction} : std::int32_t(fraction);
      m_header.ts.tv_sec = static_cast<time_t>(sec);
      m_header.ts.tv_usec = static_cast<suseconds_t>(m_nanoseconds ? frac / 1000 : frac);
      m_header.caplen = caplen;
      m_header.len = Load32(record + 12, m_swapped);
      header = &m_header;
      bytes = record + kRecordHeaderSize;
      m_next += kRecordHeaderSize + caplen;
      return Status::Packet;
    }
    // A record cut short, or larger than the snapshot: libpcap says what
    // becomes of it and of everything after it.
    if (!FallBack()) return Status::Fault;
  }
  if (m_capture == nullptr) return Status::Fault;
  pcap_pkthdr* h = nullptr;
  const u_char* data = nullptr;
  const int read = pcap_next_ex(m_capture, &h, &data);
  if (read == 1) {
    header = h;
    bytes = data;
    return Status::Packet;
  }
  if (read == PCAP_ERROR_BREAK) return Status::End;
  m_fault = pcap_geterr(m_capture);
  return Status::Fault;
}

std::int64_t PcapFileReader::Position() const {
  if (m_fast) return m_base + static_cast<std::int64_t>(m_next);
  if (m_capture == nullptr) return -1;
  const std::int64_t at = ftello(pcap_file(m_capture));
  if (at < 0) return -1;
  return m_replay != nullptr ? at + m_replay->delta : at;
}

}  // namespace velquor_io

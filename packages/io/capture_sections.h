// The sections of a pcapng file, each as a stream of its own for libpcap.
// libpcap reads every section of a file in the byte order of the first:
// a later section in the other order (files of two machines joined) reads
// as a block of absurd size and ends the file. Opened one at a time, each
// section is a whole pcapng file in its own byte order.
//
// Only the block framing is read here: each block's type and length, and
// a section header's byte-order magic. A framing that cannot be followed
// (a length that is no block length, an unknown magic, a cut header) is
// passed through untouched to the end of the file, for libpcap to report
// as it would without the split.
//
// Threading: one thread at a time (the player's).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace velquor_io {

class CaptureSections {
 public:
  /// Reads `file` from its start; the file stays the caller's and must
  /// outlive every section stream.
  explicit CaptureSections(std::FILE* file) : m_file(file) {}
  CaptureSections(const CaptureSections&) = delete;
  CaptureSections& operator=(const CaptureSections&) = delete;

  /// The next section as a stream (fclose or pcap_close closes it, not the
  /// file), null when fopencookie fails. Call again only once the previous
  /// stream has ended and More() is true.
  std::FILE* Next();
  /// Another section header followed the last stream's end.
  bool More() const { return m_carried; }
  /// Sections handed out so far (1 for the first).
  int Count() const { return m_count; }

 private:
  static ssize_t Read(void* cookie, char* buffer, std::size_t size);
  /// Only ftell's question (SEEK_CUR by 0): the file offset of the next
  /// byte handed out.
  static int Tell(void* cookie, off64_t* offset, int whence);
  /// Reads the next block's header; false at the end of the section or of
  /// the file.
  bool NextBlock();

  std::FILE* m_file;
  unsigned char m_head[12] = {};  // the current block's first bytes
  std::size_t m_headSize = 0;
  std::size_t m_headServed = 0;
  std::uint64_t m_left = 0;  // bytes of the current block not yet handed out
  bool m_swapped = false;    // the current section is big-endian
  bool m_opaque = false;     // framing lost: the rest of the file passes through
  bool m_carried = false;    // m_head holds the next section's header
  bool m_sectionEnd = false;
  long m_blocks = 0;  // blocks of the current section
  int m_count = 0;
  std::int64_t m_offset = 0;
};

}  // namespace velquor_io

// Splitting a pcapng file into its sections.
#include "capture_sections.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace velquor_io {

namespace {

// The section header block's type reads the same in either byte order.
constexpr unsigned char KySectionHeader[4] = {0x0A, 0x0D, 0x0D, 0x0A};
constexpr unsigned char KyLittleEndian[4] = {0x4D, 0x3C, 0x2B, 0x1A};
constexpr unsigned char KyBigEndian[4] = {0x1A, 0x2B, 0x3C, 0x4D};
constexpr std::uint64_t KyRestOfFile = std::numeric_limits<std::uint64_t>::max();

}  // namespace

std::FILE* CaptureSections::Next() {
  m_sectionEnd = false;
  m_blocks = 0;
  m_left = 0;
  ++m_count;
  const cookie_io_functions_t io{&CaptureSections::Read, nullptr, &CaptureSections::Tell, nullptr};
  return fopencookie(this, "rb", io);
}

bool CaptureSections::NextBlock() {
  if (m_sectionEnd) return false;
  if (!m_carried) m_headSize = std::fread(m_head, 1, 8, m_file);
  m_headServed = 0;
  const bool sectionHeader = m_headSize >= 8 && std::memcmp(m_head, KySectionHeader, 4) == 0;
  if (sectionHeader && !m_carried && m_blocks > 0) {
    // The next section begins: this stream ends here, its header is kept.
    m_headSize += std::fread(m_head + 8, 1, 4, m_file);
    m_carried = true;
    m_sectionEnd = true;
    return false;
  }
  m_carried = false;
  bool framed = m_headSize >= 8;
  if (framed && sectionHeader) {
    if (m_headSize < 12) m_headSize += std::fread(m_head + m_headSize, 1, 12 - m_headSize, m_file);
    m_swapped = m_headSize == 12 && std::memcmp(m_head + 8, KyBigEndian, 4) == 0;
    framed = m_headSize == 12 && (m_swapped || std::memcmp(m_head + 8, KyLittleEndian, 4) == 0);
  }
  std::uint32_t length = 0;
  if (framed) {
    const unsigned char* b = m_head + 4;
    length = m_swapped ? (std::uint32_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3]
                       : (std::uint32_t{b[3]} << 24) | (b[2] << 16) | (b[1] << 8) | b[0];
    framed = length >= 12 && length % 4 == 0 && length >= m_headSize;
  }
  if (m_headSize == 0) return false;  // the end of the file, between blocks
  ++m_blocks;
  m_opaque = !framed;
  m_left = framed ? length : KyRestOfFile;
  return true;
}

ssize_t CaptureSections::Read(void* cookie, char* buffer, std::size_t size) {
  auto& self = *static_cast<CaptureSections*>(cookie);
  std::size_t n = 0;
  while (n < size) {
    if (self.m_left == 0 && (self.m_opaque || !self.NextBlock())) break;
    if (self.m_headServed < self.m_headSize) {
      std::size_t k = std::min(size - n, self.m_headSize - self.m_headServed);
      std::memcpy(buffer + n, self.m_head + self.m_headServed, k);
      self.m_headServed += k;
      self.m_left -= k;
      n += k;
      continue;
    }
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size - n, self.m_left));
    const std::size_t got = std::fread(buffer + n, 1, want, self.m_file);
    n += got;
    self.m_left -= got;
    if (got < want) {
      if (n == 0 && std::ferror(self.m_file) != 0) return -1;
      break;
    }
  }
  self.m_offset += static_cast<std::int64_t>(n);
  return static_cast<ssize_t>(n);
}

int CaptureSections::Tell(void* cookie, off64_t* offset, int whence) {
  if (whence != SEEK_CUR || *offset != 0) {
    errno = ESPIPE;
    return -1;
  }
  *offset = static_cast<CaptureSections*>(cookie)->m_offset;
  return 0;
}

}  // namespace velquor_io

// The capture reader's fast path against libpcap: any bytes, read from a
// seekable stream with reads of a size the input chooses, give the same
// link type, packets, times and fault texts as libpcap alone.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pcap_transcript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1 << 16) return 0;
  // The first byte sets the read size (1 to 256 bytes), the rest is the file.
  const std::size_t readSize = static_cast<std::size_t>(data[0]) + 1;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::FILE* forLibpcap = fmemopen(bytes.data(), bytes.size(), "rb");
  std::FILE* forReader = fmemopen(bytes.data(), bytes.size(), "rb");
  if (forLibpcap == nullptr || forReader == nullptr) std::abort();
  const std::string expected = velquor_io::testing::LibpcapTranscript(forLibpcap);
  const std::string got = velquor_io::testing::ReaderTranscript(forReader, readSize);
  if (got != expected) {
    std::fprintf(stderr, "libpcap:\n%s\nreader:\n%s\n", expected.c_str(), got.c_str());
    std::abort();
  }
  return 0;
}

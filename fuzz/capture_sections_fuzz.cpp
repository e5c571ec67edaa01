// Splits arbitrary bytes into pcapng sections: whatever the framing, the
// sections handed out, read to their ends one after the other, are the
// file's bytes, each once and in order.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture_sections.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  std::string seen;
  {
    velquor_io::CaptureSections sections(file);
    do {
      std::FILE* section = sections.Next();
      if (section == nullptr) std::abort();
      char buffer[512];
      std::size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, section)) > 0) seen.append(buffer, n);
      std::fclose(section);
      if (sections.Count() > static_cast<int>(size)) std::abort();  // a section per byte at most
    } while (sections.More());
  }
  std::fclose(file);
  if (seen != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  return 0;
}

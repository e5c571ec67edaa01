// Parses arbitrary bytes as one candump log line; a line that is refused
// has a fault text of bounded length; a line that parses must
// be written as text that parses to the same frame and is written again
// the same way (writing is a fixed point after one normalisation).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "can_log_format.h"

namespace {

bool SameFrame(const velquor_io::CanLogFrame& a, const velquor_io::CanLogFrame& b) {
  return a.ts == b.ts && a.interface == b.interface && a.padding == b.padding && a.id == b.id &&
         a.length == b.length && std::memcmp(a.data, b.data, a.length) == 0 && a.dlc == b.dlc &&
         a.fdFlags == b.fdFlags && a.notation == b.notation;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  velquor_io::CanLogFrame frame;
  if (velquor_io::ParseCanLogLine(line, frame) != nullptr) {
    // A refused line has a fault to tell, of a bounded length.
    const std::string fault = velquor_io::CanLogLineFault(line);
    if (fault.empty() || fault.size() > 120) abort();
    return 0;
  }
  if (frame.length > 64 || frame.interface.empty()) abort();

  std::string text;
  velquor_io::FormatCanLogLine(frame, text);
  velquor_io::CanLogFrame again;
  if (velquor_io::ParseCanLogLine(text, again) != nullptr) abort();
  if (!SameFrame(frame, again)) abort();
  std::string text2;
  velquor_io::FormatCanLogLine(again, text2);
  if (text2 != text) abort();
  return 0;
}

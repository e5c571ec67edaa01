// Compiles and matches arbitrary patterns against arbitrary subjects. The
// first byte splits the rest of the input: that many bytes (modulo the rest's
// length) form the pattern (up to its first NUL), the remainder the subject.
// Nothing may crash, and a match's substrings must lie inside the subject.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "daxo_regexp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  const size_t rest = size - 1;
  const size_t split = rest == 0 ? 0 : data[0] % (rest + 1);
  const std::string pattern(reinterpret_cast<const char*>(data + 1), split);
  const std::string subject(reinterpret_cast<const char*>(data + 1 + split), rest - split);

  DAXORegExp re(pattern.c_str(), data[0] & 1 ? DAXORegExp::OptCaseless : 0);
  if (!re.Ok()) {
    if (re.Match(subject.data(), static_cast<int>(subject.size()))) abort();
    return 0;
  }
  if (data[0] & 2) re.Study();

  DAXORegExp copy(re);
  if (copy.Match(subject.data(), static_cast<int>(subject.size()))) {
    if (re.NbSubstrings() < 1) abort();
    for (int i = 0; i < re.NbSubstrings(); ++i) {
      const int pos = re.Position(i);
      if (pos < -1 || pos > static_cast<int>(subject.size())) abort();
      if (pos >= 0 && pos + re.Substring(i).Length() > static_cast<int>(subject.size())) abort();
    }
  }
  return 0;
}

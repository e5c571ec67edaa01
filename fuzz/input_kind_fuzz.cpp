// Tells the kind of arbitrary first bytes, as the merge tool does for each
// input. A stream is read until its first bytes are complete and its kind
// is decided from them: the rest of the stream must not change that
// decision. An unknown kind always comes with a reason.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "input_kind.h"

using velquor::tool::DetectInputKindFromBytes;
using velquor::tool::HeadIsComplete;
using velquor::tool::InputKind;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 8192) return 0;
  const std::string_view whole(reinterpret_cast<const char*>(data) + 1, size - 1);
  // The first byte says where the stream's first bytes end.
  const std::string_view head = whole.substr(0, std::size_t{data[0]} * 16);
  std::string problem;
  const InputKind kind = DetectInputKindFromBytes(whole, &problem);
  if ((kind == InputKind::Unknown) == problem.empty()) abort();
  if (HeadIsComplete(head) && DetectInputKindFromBytes(head) != kind) abort();
  return 0;
}

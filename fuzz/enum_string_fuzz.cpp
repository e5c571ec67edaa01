// Feeds arbitrary bytes to the enumeration text parser. Nothing may crash or
// read outside the text; a parsed enumeration must hold a selection in
// [-1, count) and values without a vertical bar, and its text form must
// parse back to the same enumeration. The parser reports malformed texts on
// standard error (no engine is bound); run with -close_fd_mask=2 to keep the
// fuzzer's own output readable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "daxo_property_value.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SelectionInRange(const DAXOEnumStruct& e) {
  return e.selected >= -1 && e.selected < e.Count();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  DAXOString text;
  text.concat(static_cast<int>(size), reinterpret_cast<const char*>(data));
  const bool isEnum = DAXOEnumStruct::IsEnumString(text);

  DAXOEnumStruct parsed;
  parsed.FromString(text, false);
  if (!isEnum) {
    Check(parsed == DAXOEnumStruct());  // ill-formed: unchanged
  } else {
    Check(SelectionInRange(parsed));
    for (int i = 0; i < parsed.Count(); ++i) Check(parsed.Value(i).Pos('|') < 0);
    DAXOEnumStruct back;
    back.FromString(parsed.ToString(), false);
    Check(back == parsed);
  }

  // Keeping the values only moves the selection, and keeps it in range.
  DAXOEnumStruct kept("a|b|c", 1);
  kept.FromString(text, true);
  Check(kept.Count() == 3);
  Check(isEnum ? SelectionInRange(kept) : kept.selected == 1);

  // The same bytes as a list of values (up to the first NUL byte).
  const int wanted = size > 0 ? static_cast<int8_t>(data[0]) : 0;
  const DAXOEnumStruct listed(static_cast<const char*>(text), wanted);
  Check(listed.Count() == 0 ? listed.selected == -1
                            : listed.selected >= 0 && listed.selected < listed.Count());

  const DAXOPropertyValue value(static_cast<const char*>(text));
  Check(value.Type() == (DAXOEnumStruct::IsEnumString(static_cast<const char*>(text))
                             ? DAXO::PropertyTypeEnum
                             : DAXO::PropertyTypeString));
  return 0;
}

// Parses arbitrary text as a timestamp ("[-]A[:B[:C]][.F]") and as an
// absolute time ("H:M:S.ms (D/M/Y)"). Nothing may crash or reach undefined
// behaviour; the end pointer must stay inside the text; every value read
// must print and parse back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "daxo_time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  const char* begin = text.c_str();
  const size_t length = std::char_traits<char>::length(begin);

  char* end = nullptr;
  const long us = DAXO::TimestampFromString(begin, &end);
  if (end < begin || end > begin + length) abort();
  if (end == begin && us != 0) abort();
  const DAXOString printed = DAXO::Timestamp2String(us);
  if (DAXO::TimestampFromString(printed, nullptr) != us) abort();

  DAXOAbsoluteTime t;
  if (DAXO::GetAbsoluteTimeFromString(DAXOString(begin), t)) {
    if (t.microsecond != 0) abort();
    char again[160];
    snprintf(again, sizeof again, "%d:%d:%d.%d (%d/%d/%d)", t.hour, t.minute, t.second,
             t.millisecond, t.day, t.month, t.year);
    DAXOAbsoluteTime back;
    if (!DAXO::GetAbsoluteTimeFromString(DAXOString(again), back) || !(back == t)) abort();
    (void)DAXO::AbsoluteTime2String(t);
    (void)DAXO::AbsoluteTimeUTC2Timestamp(&t);
  }
  return 0;
}

// Wall-clock time conversions and the text forms of times.
//
// Every arithmetic step on caller-supplied numbers is overflow-checked: the
// parsers are fed untrusted text (configuration, file names) and must not
// reach undefined behaviour on any input.
#include "daxo_time.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

constexpr long kUsPerSecond = 1000000;
constexpr unsigned long kUsPerSecondU = 1000000UL;

// Field tuple for lexicographic comparison in declaration order.
bool Less(const DAXOAbsoluteTime& a, const DAXOAbsoluteTime& b) {
  const int fa[] = {a.year,   a.month,  a.day,         a.hour,
                    a.minute, a.second, a.millisecond, a.microsecond};
  const int fb[] = {b.year,   b.month,  b.day,         b.hour,
                    b.minute, b.second, b.millisecond, b.microsecond};
  for (int i = 0; i < 8; ++i) {
    if (fa[i] != fb[i]) return fa[i] < fb[i];
  }
  return false;
}

// Floor division of microseconds into whole seconds and a 0..999999 rest, so
// that negative timestamps break down to the calendar second they fall in.
void SplitMicroseconds(long us, time_t& seconds, long& rest) {
  seconds = us / kUsPerSecond;
  rest = us % kUsPerSecond;
  if (rest < 0) {
    rest += kUsPerSecond;
    seconds -= 1;
  }
}

void FromTm(const struct tm& tm, long rest, DAXOAbsoluteTime& t) {
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(rest / 1000);
  t.microsecond = static_cast<int>(rest % 1000);
}

bool FieldsValid(const DAXOAbsoluteTime& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 &&
         t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 60 &&
         t.millisecond >= 0 && t.millisecond <= 999 && t.microsecond >= 0 && t.microsecond <= 999 &&
         t.year >= INT_MIN + 1900;
}

bool ToTm(const DAXOAbsoluteTime& t, struct tm& tm) {
  if (!FieldsValid(t)) return false;
  tm = {};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  return true;
}

// seconds * 10^6 + the sub-second fields; false when that overflows.
bool ComposeMicroseconds(time_t seconds, const DAXOAbsoluteTime& t, long& us) {
  long r = 0;
  if (__builtin_mul_overflow(static_cast<long>(seconds), kUsPerSecond, &r)) return false;
  if (__builtin_add_overflow(r, t.millisecond * 1000L + t.microsecond, &r)) return false;
  us = r;
  return true;
}

// Calendar fields to microseconds since the epoch, as UTC or as local time.
// timegm/mktime set tm_wday on success, which tells a result of -1 s apart
// from a failure.
bool FieldsToMicroseconds(const DAXOAbsoluteTime& t, bool utc, long& us) {
  struct tm tm {};
  if (!ToTm(t, tm)) return false;
  tm.tm_isdst = -1;  // let the zone rules decide summer time
  tm.tm_wday = -1;
  const time_t seconds = utc ? timegm(&tm) : mktime(&tm);
  if (seconds == static_cast<time_t>(-1) && tm.tm_wday == -1) return false;
  return ComposeMicroseconds(seconds, t, us);
}

DAXOAbsoluteTime Now(bool utc) {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  if (utc) {
    gmtime_r(&ts.tv_sec, &tm);
  } else {
    localtime_r(&ts.tv_sec, &tm);
  }
  DAXOAbsoluteTime t;
  FromTm(tm, ts.tv_nsec / 1000, t);
  return t;
}

// Reads a run of decimal digits, saturating at `cap`. Returns false (and
// consumes nothing) when there is no digit at `p`.
bool ReadDigits(const char*& p, unsigned long cap, unsigned long& value) {
  if (!isdigit(static_cast<unsigned char>(*p))) return false;
  value = 0;
  for (; isdigit(static_cast<unsigned char>(*p)); ++p) {
    const unsigned long digit = static_cast<unsigned long>(*p - '0');
    value = value > (cap - digit) / 10 ? cap : value * 10 + digit;
  }
  return true;
}

// scanf's "%d": optional white space, optional sign, digits; fails on
// overflow instead of reaching undefined behaviour.
bool ScanInt(const char*& p, int& out) {
  const char* q = p;
  while (isspace(static_cast<unsigned char>(*q))) ++q;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  unsigned long magnitude = 0;
  if (!ReadDigits(q, 1UL << 40, magnitude)) return false;
  const long value = negative ? -static_cast<long>(magnitude) : static_cast<long>(magnitude);
  if (value < INT_MIN || value > INT_MAX) return false;
  out = static_cast<int>(value);
  p = q;
  return true;
}

// A literal of the scanf format: white space in the format matches any
// amount (including none) of white space in the text.
bool ScanLiteral(const char*& p, const char* literal) {
  for (; *literal != '\0'; ++literal) {
    if (isspace(static_cast<unsigned char>(*literal))) {
      while (isspace(static_cast<unsigned char>(*p))) ++p;
    } else if (*p == *literal) {
      ++p;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

bool operator<(const DAXOAbsoluteTime& a, const DAXOAbsoluteTime& b) {
  return Less(a, b);
}
bool operator>(const DAXOAbsoluteTime& a, const DAXOAbsoluteTime& b) {
  return Less(b, a);
}
bool operator==(const DAXOAbsoluteTime& a, const DAXOAbsoluteTime& b) {
  return !Less(a, b) && !Less(b, a);
}

namespace DAXO {

DAXOString Timestamp2String(long us) {
  // The magnitude in unsigned arithmetic keeps LONG_MIN defined.
  const unsigned long magnitude = us < 0 ? 0UL - static_cast<unsigned long>(us) : us;
  const unsigned long totalSeconds = magnitude / kUsPerSecondU;
  const unsigned long hours = totalSeconds / 3600;
  const unsigned long minutes = totalSeconds / 60 % 60;
  const unsigned long seconds = totalSeconds % 60;
  const unsigned long micro = magnitude % kUsPerSecondU;
  char text[64];
  if (hours != 0) {
    snprintf(text, sizeof text, "%s%lu:%02lu:%02lu.%06lu", us < 0 ? "-" : "", hours, minutes,
             seconds, micro);
  } else {
    snprintf(text, sizeof text, "%s%02lu:%02lu.%06lu", us < 0 ? "-" : "", minutes, seconds, micro);
  }
  return DAXOString(text);
}

long TimestampFromString(const char* text, char** end) {
  if (end != nullptr) *end = const_cast<char*>(text);
  if (text == nullptr) return 0;
  const char* p = text;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';

  // Each field saturates far above any representable timestamp, so the
  // arithmetic below stays in range and the final clamp decides.
  constexpr unsigned long kCap = 1UL << 62;
  unsigned long fields[3] = {0, 0, 0};
  int count = 0;
  if (!ReadDigits(p, kCap, fields[count])) return 0;
  ++count;
  while (count < 3 && p[0] == ':' && isdigit(static_cast<unsigned char>(p[1]))) {
    ++p;
    ReadDigits(p, kCap, fields[count]);
    ++count;
  }
  unsigned __int128 seconds = 0;
  for (int i = 0; i < count; ++i) seconds = seconds * 60 + fields[i];

  unsigned long fraction = 0;
  if (*p == '.') {
    ++p;
    int digits = 0;
    for (; isdigit(static_cast<unsigned char>(*p)); ++p, ++digits) {
      if (digits < 6) fraction = fraction * 10 + static_cast<unsigned long>(*p - '0');
    }
    for (; digits < 6; ++digits) fraction *= 10;
  }
  if (end != nullptr) *end = const_cast<char*>(p);

  const unsigned __int128 total = seconds * kUsPerSecondU + fraction;
  // LONG_MIN's magnitude is one more than LONG_MAX.
  const unsigned __int128 limit =
      negative ? static_cast<unsigned __int128>(LONG_MAX) + 1 : LONG_MAX;
  const unsigned __int128 clamped = total > limit ? limit : total;
  if (!negative) return static_cast<long>(clamped);
  return clamped == limit ? LONG_MIN : -static_cast<long>(clamped);
}

DAXOString AbsoluteTime2String(DAXOAbsoluteTime t) {
  char text[128];
  snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d.%03d%03d", t.year, t.month, t.day,
           t.hour, t.minute, t.second, t.millisecond, t.microsecond);
  return DAXOString(text);
}

bool GetAbsoluteTimeFromString(const DAXOString& text, DAXOAbsoluteTime& t) {
  const char* p = text;
  if (p == nullptr) return false;
  DAXOAbsoluteTime r;
  const bool ok = ScanInt(p, r.hour) && ScanLiteral(p, ":") && ScanInt(p, r.minute) &&
                  ScanLiteral(p, ":") && ScanInt(p, r.second) && ScanLiteral(p, ".") &&
                  ScanInt(p, r.millisecond) && ScanLiteral(p, " (") && ScanInt(p, r.day) &&
                  ScanLiteral(p, "/") && ScanInt(p, r.month) && ScanLiteral(p, "/") &&
                  ScanInt(p, r.year);
  if (!ok) return false;
  r.microsecond = 0;
  t = r;
  return true;
}

DAXOAbsoluteTime GetAbsoluteTime() {
  return Now(false);
}
DAXOAbsoluteTime GetAbsoluteTimeLocal() {
  return Now(false);
}
DAXOAbsoluteTime GetAbsoluteTimeUTC() {
  return Now(true);
}

int Timestamp2AbsoluteTimeUTC(long us, DAXOAbsoluteTime* t) {
  if (t == nullptr) return -1;
  time_t seconds;
  long rest;
  SplitMicroseconds(us, seconds, rest);
  struct tm tm {};
  if (gmtime_r(&seconds, &tm) == nullptr) return -1;
  FromTm(tm, rest, *t);
  return 0;
}

long AbsoluteTimeUTC2Timestamp(const DAXOAbsoluteTime* t) {
  long us = -1;
  if (t == nullptr || !FieldsToMicroseconds(*t, true, us)) return -1;
  return us;
}

long AbsoluteTime2Integer(const DAXOAbsoluteTime& t) {
  long us = -1;
  if (!FieldsToMicroseconds(t, false, us)) return -1;
  return us;
}

int Integer2AbsoluteTime(long us, DAXOAbsoluteTime& t) {
  time_t seconds;
  long rest;
  SplitMicroseconds(us, seconds, rest);
  struct tm tm {};
  if (localtime_r(&seconds, &tm) == nullptr) return -1;
  FromTm(tm, rest, t);
  return 0;
}

bool AbsoluteTimeUTCToAbsoluteTimeLocal(const DAXOAbsoluteTime& utc, DAXOAbsoluteTime& local) {
  long us = 0;
  return FieldsToMicroseconds(utc, true, us) && Integer2AbsoluteTime(us, local) == 0;
}

bool AbsoluteTimeLocalToAbsoluteTimeUTC(const DAXOAbsoluteTime& local, DAXOAbsoluteTime& utc) {
  long us = 0;
  return FieldsToMicroseconds(local, false, us) && Timestamp2AbsoluteTimeUTC(us, &utc) == 0;
}

bool SetSystemTime(const DAXOAbsoluteTime& local) {
  long us = 0;
  if (!FieldsToMicroseconds(local, false, us)) return false;
  time_t seconds;
  long rest;
  SplitMicroseconds(us, seconds, rest);
  const struct timespec ts = {seconds, rest * 1000};
  return clock_settime(CLOCK_REALTIME, &ts) == 0;
}

bool GetLocalTimeZoneDelay(int& minutes) {
  const time_t now = time(nullptr);
  struct tm tm {};
  localtime_r(&now, &tm);
  minutes = static_cast<int>(tm.tm_gmtoff / 60);
  return true;
}

}  // namespace DAXO

// Wall-clock time: broken-down calendar times (DAXOAbsoluteTime), their text
// forms, and the text form of microsecond timestamps.
//
// Timestamps here are plain signed 64-bit microseconds; for the calendar
// conversions they count from the Unix epoch.
//
// Threading: every function may be called from any thread; none keeps shared
// state. The local-time functions read the process time zone (TZ), which the
// C library caches; changing TZ while other threads convert is undefined, as
// for the C library itself. Nothing here blocks.
#pragma once

#include "daxo_string.h"
#include "daxo_types.h"

/// A calendar time broken down into fields. Compared field by field in
/// declaration order, so the order is chronological for normalised values.
struct DAXOAbsoluteTime {
  int year = 0;    // four digits, e.g. 2024
  int month = 0;   // 1 to 12
  int day = 0;     // day of the month, 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 60 (leap second)
  int millisecond = 0;
  int microsecond = 0;
};

bool operator<(const DAXOAbsoluteTime& a, const DAXOAbsoluteTime& b);
bool operator>(const DAXOAbsoluteTime& a, const DAXOAbsoluteTime& b);
bool operator==(const DAXOAbsoluteTime& a, const DAXOAbsoluteTime& b);

namespace DAXO {

/// "[-][H:]MM:SS.uuuuuu": the hours (no leading zeros) appear only when not
/// zero. 3,723,000,042 gives "1:02:03.000042", -1,500,000 gives
/// "-00:01.500000". Defined for every value, the most negative included.
DAXOString Timestamp2String(long us);

/// Reads "[-]A[:B[:C]][.F]" after optional white space: one number is seconds,
/// A:B minutes and seconds, A:B:C hours, minutes and seconds (fields are not
/// range-checked, so "1:90" is 150 s); F holds up to six significant fraction
/// digits, further digits are consumed and ignored. A leading minus negates
/// the whole value. Values beyond the range of a long saturate. Null or text
/// without a number gives 0. When `end` is not null it receives the position
/// after the text read (the start of `text` when nothing was read).
long TimestampFromString(const char* text, char** end = nullptr);

/// "YYYY/MM/DD HH:MM:SS.mmmuuu" with fixed field widths.
DAXOString AbsoluteTime2String(DAXOAbsoluteTime t);

/// Parses "H:M:S.ms (D/M/Y)" (each number an int with optional sign; white
/// space before a number and before the parenthesis is optional). Fills `t`
/// (microsecond = 0) and returns true only when all seven numbers were read
/// and fit an int; `t` is left untouched otherwise.
bool GetAbsoluteTimeFromString(const DAXOString& text, DAXOAbsoluteTime& t);

/// Current wall-clock time in local time (same as GetAbsoluteTimeLocal).
DAXOAbsoluteTime GetAbsoluteTime();
DAXOAbsoluteTime GetAbsoluteTimeLocal();
DAXOAbsoluteTime GetAbsoluteTimeUTC();

/// Microseconds since the epoch to UTC fields. Returns 0, or -1 (and leaves
/// `t` untouched) when `t` is null or the year does not fit.
int Timestamp2AbsoluteTimeUTC(long us, DAXOAbsoluteTime* t);
/// UTC fields to microseconds since the epoch; -1 when `t` is null, a field is
/// out of its range (month 1-12, day 1-31, hour 0-23, minute 0-59, second
/// 0-60, millisecond and microsecond 0-999) or the result does not fit.
long AbsoluteTimeUTC2Timestamp(const DAXOAbsoluteTime* t);

/// The same two conversions in local time.
long AbsoluteTime2Integer(const DAXOAbsoluteTime& t);
int Integer2AbsoluteTime(long us, DAXOAbsoluteTime& t);

/// Converts between the UTC and the local form of one instant. Return false
/// (output untouched) when the input cannot be represented.
bool AbsoluteTimeUTCToAbsoluteTimeLocal(const DAXOAbsoluteTime& utc, DAXOAbsoluteTime& local);
bool AbsoluteTimeLocalToAbsoluteTimeUTC(const DAXOAbsoluteTime& local, DAXOAbsoluteTime& utc);

/// Sets the system clock to the given local time (needs the privilege to do
/// so). Returns false when the time is invalid or the system refuses.
bool SetSystemTime(const DAXOAbsoluteTime& local);

/// The current local offset from UTC in minutes (east positive). Returns true.
bool GetLocalTimeZoneDelay(int& minutes);

}  // namespace DAXO

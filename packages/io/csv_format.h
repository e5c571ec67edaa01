// Time-series CSV lines: the header ("timestamp_us" first, then one name
// per value column) and the rows (integer microseconds, then numbers).
// Pure functions with no engine, no I/O and no global state, so that a
// fuzzer can drive them alone.
//
// Fields are separated by ','; blanks and tabs around a field are ignored;
// a trailing '\r' is ignored. A header's column names may be in double
// quotes (spreadsheets write them so), which may enclose commas. Values are
// parsed as C-locale numbers (std::from_chars: "1e-3", "inf" and "nan" are
// accepted) and written with "%.17g", which reads back to the same double.
//
// Threading: pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velquor_io {

/// Name of the first header column.
constexpr std::string_view KyCsvTimestampColumn = "timestamp_us";
/// Most value columns accepted in one file.
constexpr int KyMaxCsvColumns = 65535;

/// The next column name of a header line from `pos`, trimmed and without
/// its double quotes ("" inside stays as written; an unclosed quote runs to
/// the end of the line); `pos` moves past its comma, or to npos after the
/// last name.
std::string_view NextCsvHeaderName(std::string_view line, std::size_t& pos);

/// Parses a header line. On success returns null and sets `valueColumns`
/// (>= 1); otherwise a short static description of the fault.
const char* ParseCsvHeader(std::string_view line, int& valueColumns);

/// Parses a row of exactly `valueColumns` values into `timestamp` and
/// `values[0..valueColumns)`. Returns null on success, else a short static
/// description of the fault (the outputs are then unspecified).
const char* ParseCsvRow(std::string_view line, int valueColumns, std::int64_t& timestamp,
                        double* values);

/// True for a line with nothing but blanks (and a trailing '\r').
bool IsBlankCsvLine(std::string_view line);

/// Appends the row text (no end of line) to `out`.
void FormatCsvRow(std::int64_t timestamp, const double* values, int count, std::string& out);

}  // namespace velquor_io

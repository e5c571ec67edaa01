// Time-series CSV lines: parser and writer.
#include "csv_format.h"

#include <charconv>
#include <cstdio>

namespace velquor_io {

namespace {

std::string_view Trim(std::string_view field) {
  while (!field.empty() && (field.front() == ' ' || field.front() == '\t')) field.remove_prefix(1);
  while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.remove_suffix(1);
  return field;
}

std::string_view WithoutCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

/// The next field of `line` from `pos` (trimmed); `pos` moves past its comma
/// or to npos after the last field.
std::string_view NextField(std::string_view line, std::size_t& pos) {
  const std::size_t comma = line.find(',', pos);
  const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
  const std::string_view field = Trim(line.substr(pos, end - pos));
  pos = comma == std::string_view::npos ? std::string_view::npos : comma + 1;
  return field;
}

}  // namespace

std::string_view NextCsvHeaderName(std::string_view line, std::size_t& pos) {
  const std::size_t start = line.find_first_not_of(" \t", pos);
  if (start == std::string_view::npos || line[start] != '"') return NextField(line, pos);
  std::size_t close = start + 1;
  while ((close = line.find('"', close)) != std::string_view::npos && close + 1 < line.size() &&
         line[close + 1] == '"') {
    close += 2;  // "" stands for a quote inside the name
  }
  if (close == std::string_view::npos) {
    pos = std::string_view::npos;
    return line.substr(start + 1);
  }
  const std::string_view name = line.substr(start + 1, close - start - 1);
  pos = close + 1;
  NextField(line, pos);  // whatever follows the closing quote, up to the comma
  return name;
}

const char* ParseCsvHeader(std::string_view line, int& valueColumns) {
  line = WithoutCr(line);
  std::size_t pos = 0;
  if (NextCsvHeaderName(line, pos) != KyCsvTimestampColumn) {
    return "the first column must be \"timestamp_us\"";
  }
  int columns = 0;
  while (pos != std::string_view::npos) {
    NextCsvHeaderName(line, pos);
    if (++columns > KyMaxCsvColumns) return "too many columns";
  }
  if (columns == 0) return "no value column after \"timestamp_us\"";
  valueColumns = columns;
  return nullptr;
}

const char* ParseCsvRow(std::string_view line, int valueColumns, std::int64_t& timestamp,
                        double* values) {
  line = WithoutCr(line);
  std::size_t pos = 0;
  const std::string_view time = NextField(line, pos);
  const auto t = std::from_chars(time.data(), time.data() + time.size(), timestamp);
  if (time.empty() || t.ec != std::errc() || t.ptr != time.data() + time.size()) {
    return "the timestamp is not an integer number of microseconds";
  }
  for (int k = 0; k < valueColumns; ++k) {
    if (pos == std::string_view::npos) return "fewer values than header columns";
    const std::string_view field = NextField(line, pos);
    // from_chars refuses a leading '+'; a written "+1.5" is still a number.
    const std::string_view number =
        field.size() > 1 && field.front() == '+' && field[1] != '-' ? field.substr(1) : field;
    const auto v = std::from_chars(number.data(), number.data() + number.size(), values[k]);
    // Out of range values come back as +-inf or 0 with ec set: refused too.
    if (number.empty() || v.ec != std::errc() || v.ptr != number.data() + number.size()) {
      return "a value is not a number";
    }
  }
  if (pos != std::string_view::npos) return "more values than header columns";
  return nullptr;
}

bool IsBlankCsvLine(std::string_view line) {
  return Trim(WithoutCr(line)).empty();
}

void FormatCsvRow(std::int64_t timestamp, const double* values, int count, std::string& out) {
  char text[40];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(timestamp));
  out += text;
  for (int k = 0; k < count; ++k) {
    std::snprintf(text, sizeof text, ",%.17g", values[k]);
    out += text;
  }
}

}  // namespace velquor_io

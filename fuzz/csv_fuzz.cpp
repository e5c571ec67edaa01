// Parses arbitrary bytes as a time-series CSV header line followed by row
// lines; every row that parses must be written as text that parses back to
// the same timestamp and the same values (NaN stays NaN).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "csv_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t end = text.find('\n');
  int columns = 0;
  if (velquor_io::ParseCsvHeader(text.substr(0, end), columns) != nullptr) return 0;
  if (columns < 1 || columns > velquor_io::KyMaxCsvColumns) abort();
  if (end == std::string_view::npos) return 0;
  text.remove_prefix(end + 1);

  std::vector<double> values(static_cast<std::size_t>(columns));
  std::vector<double> back(values.size());
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    const std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    std::int64_t t = 0;
    if (velquor_io::ParseCsvRow(line, columns, t, values.data()) != nullptr) continue;
    std::string row;
    velquor_io::FormatCsvRow(t, values.data(), columns, row);
    std::int64_t t2 = 0;
    if (velquor_io::ParseCsvRow(row, columns, t2, back.data()) != nullptr) abort();
    if (t2 != t) abort();
    for (int k = 0; k < columns; ++k) {
      const double a = values[static_cast<std::size_t>(k)];
      const double b = back[static_cast<std::size_t>(k)];
      if (std::isnan(a) ? !std::isnan(b) : std::memcmp(&a, &b, sizeof a) != 0) abort();
    }
  }
  return 0;
}

// CsvPlayer: plays a time-series CSV file ("timestamp_us" then one column
// per value) as Float64 vector samples, one per row: VectorSize = number of
// value columns, timestamp = the row's time. The output's type name is the
// header line, read when "path" is set (so set it before connecting the
// output: readers match and copy that name), and checked again at start;
// the output buffer is sized from the header at start. A file that can be
// read only once (a pipe, a device) is not read then: "header" names the
// output instead, set by whoever read the stream's first line, and it is
// checked against that line at start like a file's. After the last row,
// one end-of-file sample (value 1, the last row's time) on "end_of_file",
// then the component ends itself. "packets" counts the rows played. Empty
// lines are skipped.
//
// Faults (unreadable file, a header that is not a time-series header or
// that changed since "path" was set, a malformed row, a row at time 0,
// which the engine cannot carry) raise a component error naming the file
// and the line.
//
// Threading: as LinePlayer.
#pragma once

#include <vector>

#include "line_player.h"

namespace velquor_io {

class CsvPlayer : public LinePlayer {
 public:
  static DAXOComponentDefinition s_definition;

  CsvPlayer(const char* name, DAXOComponentDefinition& definition) : LinePlayer(name, definition) {}

  /// Names the output after "header", or else the header of the regular
  /// file at "path" (empty name when there is no readable header yet).
  void Dynamic() override;
  void Birth() override;
  void Core() override;

 private:
  int m_columns = 0;
  std::vector<double> m_values;
};

}  // namespace velquor_io

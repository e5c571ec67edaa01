// CsvRecorder: writes Float64 vector samples as a time-series CSV file. The
// header is the type name of the output the input is connected to (a
// CsvPlayer's header, passed on by a multiplexer), read when the first
// sample or the end of file arrives (a multiplexer settles its output's type
// with its first sample); each sample becomes one
// row: its timestamp as an integer, then its values with "%.17g".
// Statistics: "packets" rows written, "out_of_order" rows older than the
// one before, "max_backwards_us" the largest such step.
//
// Faults (no time-series header in the type name, a sample whose value
// count differs from the header's, the file cannot be created or written)
// raise a component error naming the file.
//
// Threading: threaded model; Birth, Core and Death run on the component's
// thread, which alone touches the file.
#pragma once

#include <string>

#include "io_common.h"

namespace velquor_io {

class CsvRecorder : public TextRecorder {
 public:
  static DAXOComponentDefinition s_definition;

  CsvRecorder(const char* name, DAXOComponentDefinition& definition)
      : TextRecorder(name, definition) {}

 protected:
  void Open() override;
  void Write(DAXOIOElt& element) override;
  void Finish() override;

 private:
  void WriteHeader();

  bool m_header = false;
  std::string m_text;
  int m_columns = 0;
};

}  // namespace velquor_io

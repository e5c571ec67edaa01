// ByteStreamRecorder: writes a byte stream to a file, byte for byte. Built
// on the SDK's byte-stream input template: every sample read on "iStream8"
// (input 0) goes through the template's FIFO, which stamps each byte (from
// the sample's timestamp and, with the frequency flag, its Frequency());
// ProcessStreamData then takes all the FIFO holds and appends it to "path".
//
// With "timestamps_path" set, a text file beside it tells when each byte
// came: after a "#" header line, one line per run of bytes taken together
// (one received sample), "offset count first_us last_us": the file offset of
// the run's first byte, its length, and the timestamps of its first and
// last bytes (the bytes between are evenly spaced from first to last by the
// template's step).
//
// End: input 1 "end_of_file"; both inputs are read by one multi-input read,
// where the lowest index wins, so the data written before the end of file
// is drained first. Then both files are flushed and closed and the
// component ends itself. "bytes" counts the bytes written.
//
// A sample larger than "pInputFIFOSize" grows the FIFO first, so no byte is
// ever overwritten (the FIFO is emptied after every sample anyway).
//
// Faults (a file that cannot be created or written, a path that a player of
// this package reads) raise a component error naming the file.
//
// Threading: threaded model; Birth, Core, ProcessStreamData and Death run on
// the component's thread, which alone touches the files. No lock of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "daxo_stream8_components.h"
#include "io_common.h"

namespace velquor_io {

class ByteStreamRecorder : public DAXOStream8InputComponent {
 public:
  static DAXOComponentDefinition s_definition;

  ByteStreamRecorder(const char* name, DAXOComponentDefinition& definition)
      : DAXOStream8InputComponent(name, definition) {}

  /// The template's Birth (an empty FIFO), then opens the files.
  void Birth() override;
  /// Reads "iStream8" and "end_of_file" together; hands data to Receive.
  void Core() override;
  void Death() override;
  /// Appends every byte the FIFO holds to the file (and one line to the
  /// timestamps file), then empties the FIFO.
  void ProcessStreamData(DAXORBRegion& fifo, unsigned char* data, DAXOTimestamp* timestamps,
                         DAXOTimestamp* timesOfIssue) override;

 private:
  /// Raises the component error FileFault(path, detail), the files closed.
  [[noreturn]] void Fail(const std::string& path, std::string_view detail);
  /// Flushes and closes both files; raises Fail when that fails.
  void Finish();
  void Close();

  std::string m_path;
  std::string m_timestampsPath;  // empty: no timestamps file
  TextFileWriter m_data;
  TextFileWriter m_timestamps;
  std::string m_line;
  std::int64_t m_written = 0;
  bool m_endOfFile = false;
};

}  // namespace velquor_io

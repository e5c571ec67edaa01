// SortedRecorder: records live streams of any type into one text file, in
// timestamp order. Built on the SDK's sorted start-reading template: each
// sample is held back at most "max_latency" µs of engine time and handed
// over oldest first; samples that came too late to be sorted, or are older
// than one already handed over, are flagged and counted on the template's
// "late_samples_count" and "unsorted_samples_count" outputs.
//
// Inputs: "nb_inputs" streams (1..128), declared in Dynamic as data inputs
// "input_<i>" (any type; component input i) and end-of-file inputs
// "iEndOfFile_<i>" (Integer64; input nb_inputs + i), all never-skipping so
// that a held sample makes its writer wait rather than lose data.
//
// "path" gets a "#" header line, then one line per sample handed over, in
// the order handed: "timestamp_us input flags kind values", where input is
// the component input index, flags "-" or any of "L" (late) and "U"
// (unsorted), and kind and values one of
//   stream8 HEX                 the bytes, two lowercase hex digits each
//   int8|int16|int32|int64|stream16|stream32|uint64 N...   the values
//   float32|float64 X...        the values ("%.9g" / "%.17g")
//   text TEXT                   the text; '\' and control bytes escaped
//                               as "\\" and "\xHH"
//   size N                      any other kind: its payload size in bytes
// "samples", "late" and "unsorted" count the lines and their flags; the
// totals are also reported when the component ends.
//
// End: the recorder finishes the file (flushed, closed) and ends itself once
// every stream has ended. A stream whose "input_<i>" is not connected has
// ended from the start. Otherwise it ends once its end-of-file sample has
// been handed over and none of its data is left: nothing unread in its input
// FIFO, and no sample held back in the template's queue (a queued sample
// keeps its slot, so its input holds one). The order in which the two
// samples are handed over does not matter, then: a writer puts its last data
// sample in its FIFO before it writes the end of file, so when the end of
// file is handed over that data sample is unread, queued or already written;
// an end of file stamped with its stream's last time (ties keep the order of
// arrival in the queue) or a data sample read late by a starved thread still
// has all its data written. A stream whose "iEndOfFile_<i>" is not connected
// never ends (warned at Birth): the recorder then runs until it is stopped.
// A clock change that empties the template's queue drops what it held,
// end-of-file samples too.
//
// Faults (the file cannot be created or written, it is a player's input,
// "nb_inputs" out of range) raise a component error naming the file or the
// property.
//
// Threading: threaded model (the template's Core never returns). Dynamic
// runs on the engine's control thread while the component is not living;
// Birth, Core, ProcessSortedIOElt and Death on the component's thread,
// which alone touches the file and the stream states. No lock of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "daxo_sorted_start_reading_component.h"
#include "io_common.h"

namespace velquor_io {

class SortedRecorder : public DAXOSortedStartReadingComponent {
 public:
  /// Most streams ("nb_inputs"): two inputs each fill the template's 256.
  static constexpr long KyMaxStreams = 128;

  static DAXOComponentDefinition s_definition;

  SortedRecorder(const char* name, DAXOComponentDefinition& definition)
      : DAXOSortedStartReadingComponent(name, definition) {}

  /// The template's rows, then the inputs of "nb_inputs" streams.
  void Dynamic() override;
  /// The template's Birth, then opens the file and notes which streams run.
  void Birth() override;
  /// Ends at once when no stream runs; otherwise the template's Core.
  void Core() override;
  /// Closes what is still open and reports the totals.
  void Death() override;
  void ProcessSortedIOElt(DAXOIOElt* element, int inputIndex, bool unsorted, bool late) override;

 private:
  /// Stream `stream` has ended once its end of file was handed over and its
  /// data input has nothing unread and no sample waiting in the queue.
  void CheckEnded(int stream);
  /// Appends the kind and values of `element` to m_line.
  void AppendPayload(DAXOIOElt& element);
  void PublishTotals();
  /// Flushes and closes the file, then ends the component.
  void Finish();
  [[noreturn]] void Fail(std::string_view detail);

  std::string m_path;
  TextFileWriter m_file;
  std::string m_line;
  int m_streams = 0;
  int m_running = 0;              // streams not ended
  std::vector<char> m_ended;      // per stream
  std::vector<char> m_endHanded;  // per stream: its end-of-file sample was handed over
  bool m_born = false;
  long m_samples = 0;
  long m_late = 0;
  long m_unsorted = 0;
};

}  // namespace velquor_io

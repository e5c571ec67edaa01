// LevelMeter: a sound filter that passes its sound through unchanged, as
// floats, on "sndOutput", and writes the level of each block to "path" as a
// time-series CSV that a CsvPlayer reads back: "timestamp_us", then
// "rms_<c>" and "peak_<c>" for each channel c from 0. A row per block: the
// block's timestamp, then per channel the root mean square and the largest
// magnitude of its values (floats in [-1, 1), computed in double). The
// header comes with the first block (its channel count); a run without any
// block writes a one-channel header and no row.
//
// The end of file comes in on "iEndOfFile" (an input may not share its
// name with the output "end_of_file"): once it came and "sndInput" is
// drained, the CSV is finished, one end-of-file sample (the incoming one's
// time) goes out on "end_of_file" and the component ends itself. "blocks"
// counts the rows.
//
// Faults (the CSV cannot be created or written, is the input of a player,
// a block whose channel count differs from the header's, and the sound
// template's own refusals) raise a component error; those of the CSV name it.
//
// Threading: threaded model; Birth, Core (with ProcessSound) and Death run
// on the component's thread, which alone touches the file. No lock of its
// own.
#pragma once

#include <string>
#include <vector>

#include "daxo_sound_processing_component.h"
#include "io_common.h"

namespace velquor_io {

class LevelMeter : public DAXOSoundProcessingComponent {
 public:
  static DAXOComponentDefinition s_definition;

  LevelMeter(const char* name, DAXOComponentDefinition& definition)
      : DAXOSoundProcessingComponent(name, definition) {}

  /// Opens the CSV.
  void Birth() override;
  /// Reads "sndInput" (0) and "iEndOfFile" (1), the lowest index first.
  void Core() override;
  void Death() override;
  /// Copies the block to the output and writes its row.
  void ProcessSound(const float* input, DAXOTimestamp inputTimestamp, float* output,
                    DAXOTimestamp& outputTimestamp, int frames, int channels,
                    bool& discard) override;

 private:
  [[noreturn]] void Fail(std::string_view detail);
  void WriteHeader(int channels);
  /// Finishes the CSV, writes the end-of-file sample and ends the component.
  void EndOfFile();

  std::string m_path;
  TextFileWriter m_file;
  int m_columns = 0;  // channels of the header; 0 before it
  bool m_endOfFile = false;
  DAXOTimestamp m_endTime = 0;
  long m_blocks = 0;
  std::vector<double> m_values;  // rms and peak of each channel
  std::string m_text;
};

}  // namespace velquor_io

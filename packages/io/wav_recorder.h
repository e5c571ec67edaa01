// WavRecorder: writes sound samples (sound_format.h) to a WAV file through
// libsndfile. The first sample fixes the file's format: its channels
// (Misc1()), its frame rate (Frequency() / 1000, rounded to the nearest Hz)
// and its kind, taken from the sample's type and never from Misc2() alone
// (a sound filter publishes floats with its input's Misc2()): Float32
// samples make a 32-bit float WAV, Stream8 samples with Misc2() 8 or 16 an
// 8-bit unsigned or 16-bit signed PCM WAV. Values are written as they come.
// A file that received no sample is a valid empty WAV of one 16-bit channel
// at KyEmptyRate. "packets" counts the samples written; "out_of_order" and
// "max_backwards_us" their order.
//
// Faults (the file cannot be created or written, a sample of another format
// than the first, or one that is not a whole number of frames, a kind,
// width, channel count or rate that cannot be recorded) raise a component
// error naming the file. libsndfile writes the header's sizes when the file
// is closed: on the normal end, and also when a fault or a shutdown ends the
// recording, so what was written stays readable.
//
// Threading: threaded model; Birth, Core and Death run on the component's
// thread, which alone touches the file. No lock of its own.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

#include "io_common.h"
#include "sound_format.h"

namespace velquor_io {

class WavRecorder : public IoRecorder {
 public:
  /// The frame rate of a file that received no sample (Hz).
  static constexpr int KyEmptyRate = 44100;

  static DAXOComponentDefinition s_definition;

  WavRecorder(const char* name, DAXOComponentDefinition& definition)
      : IoRecorder(name, definition) {}
  ~WavRecorder() override;

 protected:
  void Open() override;
  void Write(DAXOIOElt& element) override;
  void Finish() override;
  void Close() override;

 private:
  struct Format {
    SoundKind kind = SoundKind::Pcm16;
    int channels = 0;
    int rate = 0;
    bool operator==(const Format&) const = default;
  };
  /// The format of `element`; raises Fail when it cannot be recorded.
  Format FormatOf(DAXOIOElt& element);
  /// Creates the file in `format`.
  void Create(const Format& format);

  SNDFILE* m_file = nullptr;
  Format m_format;
  std::vector<short> m_shorts;  // integer samples on their way to libsndfile
};

}  // namespace velquor_io

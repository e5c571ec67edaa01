// WavPlayer: plays a sound file (WAV, or any other format libsndfile opens)
// as live sound samples (sound_format.h) on "output": blocks of
// "frames_per_block" frames (the last one shorter), paced and stamped in
// engine time at the file's frame rate from the moment of Birth. After the
// last block, and once engine time has reached the end of the sound, one
// end-of-file sample (value 1, stamped with that end) on "end_of_file";
// then the component ends itself. "frames" counts the frames played.
//
// "sample_format" chooses the kind of the output samples, before start (the
// output's type follows it; set it before connecting): "pcm16" (16-bit
// signed little-endian bytes), "pcm8" (8-bit unsigned bytes: the top 8 bits
// of the 16-bit value) or "float32" (floats, [-1, 1) for integer files).
// libsndfile reads every file as floats (an integer value v of b bits as
// v / 2^(b-1)); the integer kinds are v * 32768 rounded, clipped to 16 bits:
// an 8- or 16-bit file plays its own values.
//
// Faults (a file libsndfile cannot open or decode, no channel, more channels
// than a sound sample carries, a frame rate out of 1 Hz .. 1 MHz, a read
// error) raise a component error naming the file, with libsndfile's text.
//
// Threading: threaded model. Dynamic runs on the engine's control thread
// while the component is not living; Birth, Core and Death on the
// component's thread, which alone touches the sound file. The player takes
// no lock of its own.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "io_common.h"
#include "sound_format.h"

namespace velquor_io {

class WavPlayer : public DAXOComponent {
 public:
  /// Highest frame rate accepted (Hz).
  static constexpr int KyMaxRate = 1000000;
  /// Largest "frames_per_block".
  static constexpr long KyMaxFramesPerBlock = 1 << 20;
  /// Largest output sample (bytes).
  static constexpr long KyMaxBlockBytes = 1 << 24;

  static DAXOComponentDefinition s_definition;

  WavPlayer(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}
  ~WavPlayer() override;

  /// Notes "path" as read by this player and types "output" after
  /// "sample_format".
  void Dynamic() override;
  /// Opens the file, checks its format, sizes the output and takes the
  /// start time.
  void Birth() override;
  /// Reads one block and publishes it at its time; at the end of the file,
  /// the end-of-file sample and the end.
  void Core() override;
  void Death() override;

 private:
  /// Raises the component error FileFault(m_path, detail).
  [[noreturn]] void Fail(const std::string& detail);
  void Close();
  /// The kind "sample_format" selects.
  SoundKind SelectedKind();
  /// Reads the next block into m_floats; its frame count (0 at the end of
  /// the file).
  long ReadBlock();
  /// Copies the block read into `element` in the output's kind.
  void Fill(DAXOIOElt& element, long frames) const;

  std::string m_path;
  SNDFILE* m_file = nullptr;
  SoundKind m_kind = SoundKind::Pcm16;
  int m_channels = 0;
  int m_rate = 0;
  long m_framesPerBlock = 0;
  DAXOTimestamp m_start = 0;
  std::int64_t m_played = 0;    // frames published so far
  std::vector<float> m_floats;  // the block read, as libsndfile normalises it
  InputPathNote m_inputNote;    // the file this player is set to read
};

}  // namespace velquor_io

// ByteStreamPlayer: plays the bytes of a file live, as a byte stream paced
// by engine time. Each sample on "output" holds "chunk_size" bytes (the
// last one what is left); its type is Stream8 with the vector and frequency
// flags, its Frequency() the byte rate in thousandths of hertz, so that a
// reader can stamp every byte (1e6 / "byte_rate" µs apart).
//
// Pacing: Birth takes start = engine time (at least 1 µs: the engine would
// stamp a time 0 with its own clock). The sample whose first byte is byte k
// of the file is stamped start + k * 1e6 / "byte_rate" µs (computed from k
// each time, rounded down: no drift) and is written once engine time has
// reached that stamp, so no sample is ever ahead of engine time. After the
// last byte, one end-of-file sample (value 1) on "end_of_file", stamped with
// the time the next byte would have had, and strictly after the last data
// sample, again written once engine time is there; then the player ends
// itself. "bytes" counts the bytes played.
//
// Faults: a "byte_rate" outside 1..1e9 or a "chunk_size" outside 1..16 MiB
// fail Birth; an unreadable file raises a component error naming it.
//
// Threading: threaded model. Dynamic runs on the engine's control thread
// while the component is not living; Birth, Core and Death on the
// component's thread, which alone touches the file. Takes no lock of its
// own (InputPathNote takes its process-wide one in Dynamic).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "io_common.h"

namespace velquor_io {

class ByteStreamPlayer : public DAXOComponent {
 public:
  static DAXOComponentDefinition s_definition;

  ByteStreamPlayer(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}
  ~ByteStreamPlayer() override;

  /// Notes the file "path" names as read by this player.
  void Dynamic() override;
  void Birth() override;
  /// Plays one sample (waiting for its time first), or the end of file.
  void Core() override;
  void Death() override;

 private:
  void Close();
  /// Waits until engine time `t`; false when the wait failed (reported: the
  /// life ends once Core returns). Throws DAXO::ModuleDied when asked to die.
  bool WaitUntil(DAXOTimestamp t);
  /// The end-of-file sample, then the end of the component.
  void EndOfFile();

  std::string m_path;
  std::FILE* m_file = nullptr;
  std::int64_t m_rate = 0;
  int m_chunkSize = 0;
  DAXOTimestamp m_start = 0;
  DAXOTimestamp m_lastStamp = 0;  // stamp of the last data sample (0: none yet)
  std::int64_t m_played = 0;      // bytes written so far
  std::vector<std::uint8_t> m_buffer;
  InputPathNote m_inputNote;  // the file this player is set to read
};

}  // namespace velquor_io

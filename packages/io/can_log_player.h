// CanLogPlayer: plays a candump log file as vectors of DAXOCANUniFrame
// records (up to 256 frames per sample, type name "candump"; field use in
// can_frame_codec.h), then one end-of-file sample (value 1, the last
// frame's time) on "end_of_file", then ends itself. A sample's timestamp is
// the time of its first frame; "packets" counts the frames played so far.
// Empty lines are skipped. A malformed line raises a component error naming
// the file and the line number.
//
// Threading: as LinePlayer.
#pragma once

#include <vector>

#include "daxo_io_elt.h"
#include "line_player.h"

namespace velquor_io {

class CanLogPlayer : public LinePlayer {
 public:
  /// Frames per output sample.
  static constexpr int KyFramesPerSample = 256;

  static DAXOComponentDefinition s_definition;

  CanLogPlayer(const char* name, DAXOComponentDefinition& definition)
      : LinePlayer(name, definition) {}

  void Birth() override;
  void Core() override;

 private:
  std::vector<DAXOCANUniFrame> m_batch;
};

}  // namespace velquor_io

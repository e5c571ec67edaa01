// CanLogPlayer: plays a candump log file as vectors of DAXOCANUniFrame
// records (up to 256 frames per sample, type name "candump"; field use in
// can_frame_codec.h), then one end-of-file sample (value 1, the last
// frame's time) on "end_of_file", then ends itself. A sample's timestamp is
// the time of its first frame; "packets" counts the frames played so far.
// Empty lines are skipped. A malformed line raises a component error naming
// the file and the line number.
//
// Threading: threaded model; Birth, Core and Death run on the component's
// thread, which alone touches the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "daxo_io_elt.h"
#include "io_common.h"

namespace velquor_io {

class CanLogPlayer : public DAXOComponent {
 public:
  /// Frames per output sample.
  static constexpr int KyFramesPerSample = 256;

  static DAXOComponentDefinition s_definition;
  static DAXOComponent* Instantiate(const char* name, DAXOComponentDefinition& definition);

  CanLogPlayer(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}

  void Dynamic() override;
  void Birth() override;
  void Core() override;
  void Death() override;

 private:
  std::string m_path;
  LineReader m_reader;
  std::vector<DAXOCANUniFrame> m_batch;
  long m_frames = 0;
  std::int64_t m_lastTime = 0;
  InputPathNote m_inputNote;  // the file this player is set to read
};

}  // namespace velquor_io

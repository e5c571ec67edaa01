// CanLogRecorder: writes vectors of DAXOCANUniFrame records made by a
// CanLogPlayer of this process (field use in can_frame_codec.h) back as
// candump log lines: a log played and recorded alone comes back byte for
// byte. Statistics: "packets" frames written, "out_of_order" frames older
// than the one before, "max_backwards_us" the largest such step.
//
// Faults (the file cannot be created or written, a frame whose interface
// number is unknown) raise a component error naming the file.
//
// Threading: threaded model; Birth, Core and Death run on the component's
// thread, which alone touches the file.
#pragma once

#include <string>

#include "io_common.h"

namespace velquor_io {

class CanLogRecorder : public TextRecorder {
 public:
  static DAXOComponentDefinition s_definition;

  CanLogRecorder(const char* name, DAXOComponentDefinition& definition)
      : TextRecorder(name, definition) {}

 protected:
  void Write(DAXOIOElt& element) override;

 private:
  std::string m_text;
  std::string m_interface;
};

}  // namespace velquor_io

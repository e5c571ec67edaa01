// CanLogRecorder: vectors of CAN frame records -> candump log.
#include "can_log_recorder.h"

#include <cerrno>
#include <cstring>

#include "can_frame_codec.h"
#include "daxo_component_record.h"
#include "daxo_package.h"

namespace velquor_io {

namespace {

DAXOOutputDefinition s_outputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

}  // namespace

DAXOComponentDefinition CanLogRecorder::s_definition = ThreadedComponentRecord(
    "CanLogRecorder", "1.4.0", &InstantiateComponent<CanLogRecorder>,
    KyRecorderInputs<&DAXO::FilterCANUniFrame>, s_outputs, KyRecorderProperties, s_actions);

DAXO_DECLARE_MODULE(CanLogRecorder, "DAXOComponent", "CanLogRecorder", "1.4.0",
                    &CanLogRecorder::s_definition);

void CanLogRecorder::Write(DAXOIOElt& element) {
  const auto* records = static_cast<const DAXOCANUniFrame*>(element.Data());
  const int n = element.VectorSize();
  m_text.clear();
  CanLogFrame frame;
  for (int k = 0; k < n && records != nullptr; ++k) {
    if (!FromUniFrame(records[k], m_interface, frame)) {
      Fail("a CAN frame carries an unknown interface number " + std::to_string(records[k].misc));
    }
    FormatCanLogLine(frame, m_text);
    m_text += '\n';
    Observe(records[k].ts);
  }
  if (!m_file.Write(m_text)) Fail(std::string("write error: ") + std::strerror(errno));
}

}  // namespace velquor_io

// CanLogPlayer: candump log -> vectors of CAN frame records.
#include "can_log_player.h"

#include <cstring>

#include "can_frame_codec.h"
#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"

namespace velquor_io {

namespace {

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size, FIFO size, subsampling, shareable
    {"output", 0, DAXOTypeInfo(DAXO::CANUniFrame | DAXO::VectorFlag, "candump"),
     CanLogPlayer::KyFramesPerSample, 16, 1, 1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};

DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"packets", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {},
};

DAXOInputDefinition s_inputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

bool IsEmptyLogLine(std::string_view line) {
  return line.empty() || line == "\r";
}

}  // namespace

DAXOComponentDefinition CanLogPlayer::s_definition =
    ThreadedComponentRecord("CanLogPlayer", "1.4.0", &InstantiateComponent<CanLogPlayer>, s_inputs,
                            s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(CanLogPlayer, "DAXOComponent", "CanLogPlayer", "1.4.0",
                    &CanLogPlayer::s_definition);

void CanLogPlayer::Birth() {
  LinePlayer::Birth();
  m_batch.reserve(KyFramesPerSample);
}

void CanLogPlayer::Core() {
  m_batch.clear();
  bool atEnd = false;
  std::string_view line;
  CanLogFrame frame;
  while (static_cast<int>(m_batch.size()) < KyFramesPerSample) {
    if (!NextLine(line, &IsEmptyLogLine)) {
      atEnd = true;
      break;
    }
    if (ParseCanLogLine(line, frame) != nullptr) LineFault(CanLogLineFault(line));
    m_batch.push_back(ToUniFrame(frame));
  }
  if (!m_batch.empty()) {
    DAXOIOElt* element = StartWriting(Output(0));
    if (element == nullptr) return;  // failed: the life ends with this Core
    std::memcpy(element->Data(), m_batch.data(), m_batch.size() * sizeof(DAXOCANUniFrame));
    element->VectorSize() = static_cast<int>(m_batch.size());
    element->Timestamp() = SampleTimestamp(m_batch.front().ts);
    StopWriting(element);
    Played(static_cast<long>(m_batch.size()), m_batch.back().ts);
  }
  if (atEnd) EndOfFile();
}

}  // namespace velquor_io

// CanLogPlayer: candump log -> vectors of CAN frame records.
#include "can_log_player.h"

#include <cerrno>
#include <cstring>

#include "can_frame_codec.h"
#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"

namespace velquor_io {

namespace {

enum { KyPropPath = 0, KyPropPackets };

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

}  // namespace

DAXOComponentDefinition CanLogPlayer::s_definition =
    ThreadedComponentRecord("CanLogPlayer", "1.4.0", &CanLogPlayer::Instantiate, s_inputs,
                            s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(CanLogPlayer, "DAXOComponent", "CanLogPlayer", "1.4.0",
                    &CanLogPlayer::s_definition);

DAXOComponent* CanLogPlayer::Instantiate(const char* name, DAXOComponentDefinition& definition) {
  return new CanLogPlayer(name, definition);
}

void CanLogPlayer::Dynamic() {
  m_inputNote.Note(StringProperty(*this, KyPropPath));
  DAXOComponent::Dynamic();
}

void CanLogPlayer::Birth() {
  m_path = StringProperty(*this, KyPropPath);
  m_frames = 0;
  m_lastTime = 0;
  DirectSet(*Property(KyPropPackets), 0L);
  m_batch.reserve(KyFramesPerSample);
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  if (!m_reader.Open(m_path)) Error(FileFault(m_path, std::strerror(errno)).c_str());
}

void CanLogPlayer::Core() {
  m_batch.clear();
  bool atEnd = false;
  std::string_view line;
  CanLogFrame frame;
  while (static_cast<int>(m_batch.size()) < KyFramesPerSample) {
    if (!m_reader.Next(line)) {
      if (m_reader.Failed()) Error(FileFault(m_path, "read error").c_str());
      atEnd = true;
      break;
    }
    if (line.empty() || line == "\r") continue;
    if (ParseCanLogLine(line, frame) != nullptr) {
      DirectSet(*Property(KyPropPackets), m_frames);
      Error(FileFault(m_path, "line", m_reader.LineNumber(), CanLogLineFault(line)).c_str());
    }
    m_batch.push_back(ToUniFrame(frame));
  }
  if (!m_batch.empty()) {
    DAXOIOElt* element = StartWriting(Output(0));
    if (element == nullptr) return;  // failed: the life ends with this Core
    std::memcpy(element->Data(), m_batch.data(), m_batch.size() * sizeof(DAXOCANUniFrame));
    element->VectorSize() = static_cast<int>(m_batch.size());
    element->Timestamp() = SampleTimestamp(m_batch.front().ts);
    StopWriting(element);
    m_frames += static_cast<long>(m_batch.size());
    m_lastTime = m_batch.back().ts;
    DirectSet(*Property(KyPropPackets), m_frames);
  }
  if (atEnd) {
    m_reader.Close();
    if (!WriteEndOfFile(*this, Output(1), m_frames > 0 ? SampleTimestamp(m_lastTime) : 0)) return;
    CommitSuicide();
  }
}

void CanLogPlayer::Death() {
  m_reader.Close();
}

}  // namespace velquor_io

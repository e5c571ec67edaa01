// ByteStreamRecorder: a byte stream -> a file, with an optional timestamps file.
#include "byte_stream_recorder.h"

#include <cerrno>
#include <cstring>

#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"

namespace velquor_io {

namespace {

enum { KyPropPath = 0, KyPropTimestampsPath, KyPropBytes };

DAXOInputDefinition s_inputs[] = {
    // name, reserved, type filter, reader type, subsampling
    // Never-skipping: a recorder that falls behind holds its writer back
    // rather than lose bytes.
    {"iStream8", 0, &DAXO::FilterStream8, DAXO::NeverSkippingReader, 1},
    {"end_of_file", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};
DAXOOutputDefinition s_outputs[] = {{}};
// "pInputFIFOSize" is declared by the template's Dynamic.
DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"timestamps_path", new DAXOPropertyValue(""), nullptr, false, false, false, false,
     DAXO::PropertySubTypeFile},
    {"bytes", new DAXOPropertyValue(0L), "bytes", false, false, true, false, 0},
    {},
};
DAXOActionDefinition s_actions[] = {{}};

}  // namespace

DAXOComponentDefinition ByteStreamRecorder::s_definition = ThreadedComponentRecord(
    "ByteStreamRecorder", "1.4.0", &InstantiateComponent<ByteStreamRecorder>, s_inputs, s_outputs,
    s_properties, s_actions);

DAXO_DECLARE_MODULE(ByteStreamRecorder, "DAXOComponent", "ByteStreamRecorder", "1.4.0",
                    &ByteStreamRecorder::s_definition);

void ByteStreamRecorder::Birth() {
  DAXOStream8InputComponent::Birth();
  m_path = StringProperty(*this, KyPropPath);
  m_timestampsPath = StringProperty(*this, KyPropTimestampsPath);
  m_written = 0;
  m_endOfFile = false;
  DirectSet(*Property(KyPropBytes), 0L);
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  if (m_timestampsPath == m_path) {
    Fail(m_path, "\"path\" and \"timestamps_path\" name the same file");
  }
  for (const std::string* path : {&m_path, &m_timestampsPath}) {
    if (path->empty()) continue;
    const std::string input = InputPathNote::InputAt(*path);
    if (!input.empty()) {
      Fail(*path, "it is the input '" + input + "' of a player: it would be overwritten");
    }
  }
  if (!m_data.Open(m_path)) Fail(m_path, std::strerror(errno));
  if (!m_timestampsPath.empty()) {
    if (!m_timestamps.Open(m_timestampsPath) ||
        !m_timestamps.Write("# offset count first_us last_us\n")) {
      Fail(m_timestampsPath, std::strerror(errno));
    }
  }
}

void ByteStreamRecorder::Core() {
  DAXOInput* inputs[2] = {&Input(0), &Input(1)};
  if (m_endOfFile && !DataAvailableInFIFO(*inputs[0])) {
    Finish();
    CommitSuicide();
    return;
  }
  int which = -1;
  DAXOIOElt* element = StartReading(2, inputs, &which);
  // A failure ends the life after this Core; a detached input is read again
  // in the next one.
  if (element == nullptr) return;
  if (which == 1) {
    m_endOfFile = true;
    return;
  }
  // The FIFO is empty between samples: growing it loses nothing.
  if (element->VectorSize() > m_fifo.FifoSize()) Initialize(element->VectorSize());
  Receive(*element);
}

void ByteStreamRecorder::ProcessStreamData(DAXORBRegion& fifo, unsigned char* data,
                                           DAXOTimestamp* timestamps, DAXOTimestamp*) {
  const int count = fifo.Size();
  if (count < 1) return;
  const int first = fifo[0];
  const std::string_view head(reinterpret_cast<const char*>(data) + first,
                              static_cast<std::size_t>(fifo.Size0()));
  const std::string_view wrapped(reinterpret_cast<const char*>(data),
                                 static_cast<std::size_t>(fifo.Size1()));
  if (!m_data.Write(head) || !m_data.Write(wrapped)) {
    Fail(m_path, std::string("write error: ") + std::strerror(errno));
  }
  if (!m_timestampsPath.empty()) {
    m_line = std::to_string(m_written);
    m_line += ' ';
    m_line += std::to_string(count);
    m_line += ' ';
    m_line += std::to_string(timestamps[first]);
    m_line += ' ';
    m_line += std::to_string(timestamps[fifo[count - 1]]);
    m_line += '\n';
    if (!m_timestamps.Write(m_line)) {
      Fail(m_timestampsPath, std::string("write error: ") + std::strerror(errno));
    }
  }
  fifo.Pop(count, nullptr);
  m_written += count;
  DirectSet(*Property(KyPropBytes), static_cast<long>(m_written));
}

void ByteStreamRecorder::Finish() {
  if (!m_data.Finish()) Fail(m_path, std::string("write error: ") + std::strerror(errno));
  if (!m_timestamps.Finish()) {
    Fail(m_timestampsPath, std::string("write error: ") + std::strerror(errno));
  }
}

void ByteStreamRecorder::Close() {
  m_data.Close();
  m_timestamps.Close();
}

void ByteStreamRecorder::Death() {
  Close();
  DAXOStream8InputComponent::Death();
}

void ByteStreamRecorder::Fail(const std::string& path, std::string_view detail) {
  Close();
  Error(FileFault(path, detail).c_str());
  throw DAXO::ErrorException;  // not reached: Error throws (invisible through the virtual call)
}

}  // namespace velquor_io

// ByteStreamPlayer: a file's bytes -> a live Stream8 stream paced by engine time.
#include "byte_stream_player.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"
#include "daxo_services.h"

namespace velquor_io {

namespace {

enum { KyPropPath = 0, KyPropByteRate, KyPropChunkSize, KyPropBytes };

/// Largest accepted "byte_rate": keeps every stamp computation in 64 bits.
constexpr long KyMaxByteRate = 1000000000;
/// Largest accepted "chunk_size" (each of the output's slots holds one).
constexpr long KyMaxChunkSize = 16 * 1024 * 1024;

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size (0: "chunk_size", allocated at Birth), FIFO size, subsampling,
    // shareable
    {"output", 0, DAXOTypeInfo(DAXO::Stream8 | DAXO::VectorFlag | DAXO::FrequencyFlag), 0, 16, 1,
     1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};

DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    // A 115200-baud serial line carries 11520 bytes a second (10 bits a byte).
    {"byte_rate", new DAXOPropertyValue(11520L), "bytes/s", false, false, false, false, 0},
    {"chunk_size", new DAXOPropertyValue(64L), "bytes", false, false, false, false, 0},
    {"bytes", new DAXOPropertyValue(0L), "bytes", false, false, true, false, 0},
    {},
};

DAXOInputDefinition s_inputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

}  // namespace

DAXOComponentDefinition ByteStreamPlayer::s_definition =
    ThreadedComponentRecord("ByteStreamPlayer", "1.4.0", &InstantiateComponent<ByteStreamPlayer>,
                            s_inputs, s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(ByteStreamPlayer, "DAXOComponent", "ByteStreamPlayer", "1.4.0",
                    &ByteStreamPlayer::s_definition);

ByteStreamPlayer::~ByteStreamPlayer() {
  Close();
}

void ByteStreamPlayer::Close() {
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
}

void ByteStreamPlayer::Dynamic() {
  m_inputNote.Note(StringProperty(*this, KyPropPath));
  DAXOComponent::Dynamic();
}

void ByteStreamPlayer::Birth() {
  m_path = StringProperty(*this, KyPropPath);
  m_played = 0;
  m_lastStamp = 0;
  DirectSet(*Property(KyPropBytes), 0L);
  long rate = 0;
  long chunk = 0;
  Get(*Property(KyPropByteRate), rate);
  Get(*Property(KyPropChunkSize), chunk);
  if (rate < 1 || rate > KyMaxByteRate) {
    Error(DAXOStreamedString("velquor_io: byte_rate must be between 1 and ")
          << KyMaxByteRate << " (it is " << rate << ")");
  }
  if (chunk < 1 || chunk > KyMaxChunkSize) {
    Error(DAXOStreamedString("velquor_io: chunk_size must be between 1 and ")
          << KyMaxChunkSize << " (it is " << chunk << ")");
  }
  m_rate = rate;
  m_chunkSize = static_cast<int>(chunk);
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  Close();
  m_file = std::fopen(m_path.c_str(), "rb");
  if (m_file == nullptr) Error(FileFault(m_path, std::strerror(errno)).c_str());
  m_buffer.resize(static_cast<std::size_t>(m_chunkSize));

  DAXOOutput& output = Output(0);
  // A buffer left by a run that ended without a shutdown is kept when it is
  // large enough; a smaller one cannot carry a chunk.
  if (output.IOEltSizeBytes() == 0) {
    output.AllocOutputBuffer(m_chunkSize, true);
  } else if (output.IOEltSizeBytes() < m_chunkSize) {
    Error("velquor_io: the output buffer is smaller than chunk_size (shut the player down first)");
  }
  m_start = std::max<DAXOTimestamp>(DAXO::CurrentTime(), 1);
}

void ByteStreamPlayer::Death() {
  Close();
}

bool ByteStreamPlayer::WaitUntil(DAXOTimestamp t) {
  return WaitForTimestamp(t, nullptr, nullptr);
}

void ByteStreamPlayer::Core() {
  const std::size_t n = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
  if (n == 0) {
    if (std::ferror(m_file) != 0) Error(FileFault(m_path, "read error").c_str());
    EndOfFile();
    return;
  }
  const DAXOTimestamp stamp = PacedTime(m_start, m_played, m_rate);
  if (!WaitUntil(stamp)) return;
  DAXOIOElt* element = StartWriting(Output(0), stamp);
  if (element == nullptr) return;  // failed: the life ends with this Core
  std::memcpy(element->Stream8(), m_buffer.data(), n);
  element->VectorSize() = static_cast<DAXOInt32>(n);
  element->Timestamp() = stamp;
  element->Frequency() = m_rate * 1000;
  StopWriting(element);
  m_played += static_cast<std::int64_t>(n);
  m_lastStamp = stamp;
  DirectSet(*Property(KyPropBytes), static_cast<long>(m_played));
}

void ByteStreamPlayer::EndOfFile() {
  Close();
  // After the last byte's own time, and strictly after the last sample's
  // stamp even when bytes are closer than 1 µs: a reader that sorts its
  // inputs by time then sees the end of the file after the stream's data.
  const DAXOTimestamp stamp =
      std::max(PacedTime(m_start, m_played, m_rate), m_played > 0 ? m_lastStamp + 1 : m_start);
  if (!WaitUntil(stamp)) return;
  if (!WriteEndOfFile(*this, Output(1), stamp)) return;
  CommitSuicide();
}

}  // namespace velquor_io

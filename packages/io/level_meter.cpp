// LevelMeter: sound -> the same sound, and its levels as a time-series CSV.
#include "level_meter.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "csv_format.h"
#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"
#include "sound_format.h"

namespace velquor_io {

namespace {

enum { KyInputSound = 0, KyInputEndOfFile };
enum { KyOutputSound = 0, KyOutputEndOfFile };
enum { KyPropPath = 0, KyPropBlocks };

// The template's rows by name (so that it declares none of its own), the
// sound read without skipping: every block has its row.
DAXOInputDefinition s_inputs[] = {
    // name, reserved, type filter, reader type, subsampling
    {"sndInput", 0, &DAXO::FilterAudioSignals, DAXO::NeverSkippingReader, 1},
    // An input and an output may not share a name: the input is named as
    // the multiplexer names its end-of-file inputs.
    {"iEndOfFile", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};
DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size (0: sized by the first block), FIFO size, subsampling, shareable
    {"sndOutput", 0, DAXOTypeInfo(KyFloatSoundType, "", ""), 0, 16, 1, 1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};
DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"blocks", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {},
};
DAXOActionDefinition s_actions[] = {{}};

}  // namespace

DAXOComponentDefinition LevelMeter::s_definition =
    ThreadedComponentRecord("LevelMeter", "1.4.0", &InstantiateComponent<LevelMeter>, s_inputs,
                            s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(LevelMeter, "DAXOComponent", "LevelMeter", "1.4.0", &LevelMeter::s_definition);

void LevelMeter::Fail(std::string_view detail) {
  m_file.Close();
  Error(FileFault(m_path, detail).c_str());
  throw DAXO::ErrorException;  // not reached: Error throws (GCC cannot see through the virtual
                               // call)
}

void LevelMeter::Birth() {
  DAXOSoundProcessingComponent::Birth();
  m_path = StringProperty(*this, KyPropPath);
  m_columns = 0;
  m_endOfFile = false;
  m_endTime = 0;
  m_blocks = 0;
  DirectSet(*Property(KyPropBlocks), 0L);
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  const std::string input = InputPathNote::InputAt(m_path);
  if (!input.empty()) Fail("it is the input '" + input + "' of a player: it would be overwritten");
  if (!m_file.Open(m_path)) Fail(std::strerror(errno));
}

void LevelMeter::Core() {
  DAXOInput* inputs[2] = {&Input(KyInputSound), &Input(KyInputEndOfFile)};
  // The end of file comes after the stream's last block: what is still
  // queued on the sound input is read first.
  if (m_endOfFile && !DataAvailableInFIFO(*inputs[KyInputSound])) {
    EndOfFile();
    return;
  }
  int which = -1;
  DAXOIOElt* sample = StartReading(2, inputs, &which);
  // A failure ends the life after this Core; a detached input is read again
  // in the next one.
  if (sample == nullptr) return;
  if (which == KyInputSound) {
    Receive(*sample);
  } else if (which == KyInputEndOfFile) {
    m_endOfFile = true;
    m_endTime = sample->Timestamp();
  }
}

void LevelMeter::EndOfFile() {
  if (m_columns == 0) WriteHeader(1);
  if (!m_file.Finish()) Fail(std::string("write error: ") + std::strerror(errno));
  if (!WriteEndOfFile(*this, Output(KyOutputEndOfFile), m_endTime)) return;
  CommitSuicide();
}

void LevelMeter::Death() {
  m_file.Close();
  DAXOSoundProcessingComponent::Death();
}

void LevelMeter::WriteHeader(int channels) {
  m_columns = channels;
  m_text = KyCsvTimestampColumn;
  for (int c = 0; c < channels; ++c) {
    m_text += ",rms_" + std::to_string(c) + ",peak_" + std::to_string(c);
  }
  m_text += '\n';
  if (!m_file.Write(m_text)) Fail(std::string("write error: ") + std::strerror(errno));
}

void LevelMeter::ProcessSound(const float* input, DAXOTimestamp inputTimestamp, float* output,
                              DAXOTimestamp& /*outputTimestamp*/, int frames, int channels,
                              bool& /*discard*/) {
  if (m_columns == 0) WriteHeader(channels);
  if (channels != m_columns) {
    Fail("a block of " + std::to_string(channels) + " channels after blocks of " +
         std::to_string(m_columns));
  }
  const std::size_t values = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
  std::memcpy(output, input, values * sizeof(float));

  // Per channel: the sum of squares (turned into the rms), then the peak.
  m_values.assign(2 * static_cast<std::size_t>(channels), 0.0);
  for (std::size_t i = 0; i < values; ++i) {
    const double v = input[i];
    const std::size_t c = 2 * (i % static_cast<std::size_t>(channels));
    m_values[c] += v * v;
    m_values[c + 1] = std::fmax(m_values[c + 1], std::fabs(v));
  }
  for (int c = 0; c < channels; ++c) {
    m_values[2 * static_cast<std::size_t>(c)] =
        std::sqrt(m_values[2 * static_cast<std::size_t>(c)] / frames);
  }
  m_text.clear();
  FormatCsvRow(inputTimestamp, m_values.data(), 2 * channels, m_text);
  m_text += '\n';
  if (!m_file.Write(m_text)) Fail(std::string("write error: ") + std::strerror(errno));
  DirectSet(*Property(KyPropBlocks), ++m_blocks);
}

}  // namespace velquor_io

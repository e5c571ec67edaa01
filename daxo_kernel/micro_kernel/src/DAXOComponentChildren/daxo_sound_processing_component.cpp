// The sound-processing component template: its tables, the first-sample
// set-up, the integer-to-float conversion and the publishing of each block.
#include "daxo_sound_processing_component.h"

#include <algorithm>
#include <cstdint>

#include "daxo_io.h"
#include "daxo_services.h"
#include "daxo_type_filter.h"
#include "private/template_rows.h"

namespace {

constexpr const char* kInputName = "sndInput";
constexpr const char* kOutputName = "sndOutput";
constexpr const char* kUnsupportedFormat = "Input sound format is not supported.";
constexpr const char* kNativeAudio = "Handling native audio signal type is not supported yet.";
/// The output's type: Float32 vectors with a frequency and misc fields.
constexpr DAXOTypeInfoValue kOutputType =
    DAXO::Float32 | DAXO::VectorFlag | DAXO::FrequencyFlag | DAXO::MiscFlag;
/// The most channels the output's Misc1 byte can name.
constexpr int kMaxChannels = 255;
/// 8-bit samples are unsigned around 128; 16-bit ones signed.
constexpr float kScale8 = 1.0f / 128;
constexpr float kScale16 = 1.0f / 32768;

}  // namespace

// --- the tables --------------------------------------------------------------------------

DAXOInputDefinition DAXOSoundProcessingComponent::InputDefinitions[2] = {
    // name, reserved, filter, reader type, subsampling
    {kInputName, 0, &DAXO::FilterAudioSignals, DAXO::FifoReader, 1},
    {},
};
DAXOOutputDefinition DAXOSoundProcessingComponent::OutputDefinitions[2] = {
    // name, reserved, type (no name, no unit), size, FIFO size, subsampling, shareable
    {kOutputName, 0, DAXOTypeInfo(kOutputType, "", ""), 0, 16, 1, 1},
    {},
};
DAXOPropertyDefinition DAXOSoundProcessingComponent::PropertyDefinitions[1] = {{}};
DAXOActionDefinition DAXOSoundProcessingComponent::ActionDefinitions[1] = {{}};

// --- the component -----------------------------------------------------------------------

DAXOSoundProcessingComponent::DAXOSoundProcessingComponent(const char* name,
                                                           DAXOComponentDefinition& definition)
    : DAXOComponent(name, definition) {}

DAXOSoundProcessingComponent::~DAXOSoundProcessingComponent() = default;

void DAXOSoundProcessingComponent::Dynamic() {
  using DAXOPrivate::DeclareMissing;
  const DAXOComponentDefinition& d = *Definition();
  DeclareMissing(PropertyDefinitions, d.properties, d.nbProperties,
                 [this](const DAXOPropertyDefinition& row) { NewProperty(row); });
  DeclareMissing(InputDefinitions, d.inputs, d.nbInputs,
                 [this](const DAXOInputDefinition& row) { NewInput(row); });
  DeclareMissing(OutputDefinitions, d.outputs, d.nbOutputs,
                 [this](const DAXOOutputDefinition& row) { NewOutput(row); });
  DeclareMissing(ActionDefinitions, d.actions, d.nbActions,
                 [this](const DAXOActionDefinition& row) { NewAction(row); });
}

void DAXOSoundProcessingComponent::Birth() {
  m_firstSample = true;
  m_integerStream = false;
  m_warnedLarger = false;
  m_conversion.reset();
  m_capacity = 0;
}

void DAXOSoundProcessingComponent::Core() {
  DAXOIOElt* sample = StartReading(Input(kInputName));
  if (sample == nullptr) return;
  Receive(*sample);
}

void DAXOSoundProcessingComponent::FirstSample(DAXOIOElt& sample) {
  m_firstSample = false;
  // Receive checked the width before calling: the division is safe.
  DAXOInt32 items = sample.BufferSize();
  if (m_integerStream) {
    items /= sample.Misc2() >> 3;
    m_conversion = std::make_unique<float[]>(static_cast<size_t>(items));
  }
  m_output = &Output(kOutputName);
  // A buffer left by a run that ended without a shutdown is kept (a second
  // allocation is refused); Receive then bounds each block by its size.
  if (m_output->IOEltSizeBytes() == 0) m_output->AllocOutputBuffer(items, true);
  const DAXOInt32 outputItems = m_output->IOEltSizeBytes() / static_cast<int>(sizeof(float));
  m_capacity = std::min(items, outputItems);

  m_frequency = sample.Frequency();
  m_channels = static_cast<std::uint8_t>(sample.Misc1() & 0xFF);
  m_sampleSize = static_cast<std::uint8_t>(sample.Misc2() & 0xFF);
}

void DAXOSoundProcessingComponent::Receive(DAXOIOElt& sample) {
  const DAXOInt32 vectorSize = sample.VectorSize();
  if (vectorSize <= 0) return;
  if (vectorSize > sample.BufferSize() || sample.Data() == nullptr) {
    DAXOStreamedString text("Sound sample of ");
    text << vectorSize << " items does not fit its buffer of " << sample.BufferSize() << " items"
         << (sample.Data() == nullptr ? " (no data)" : "");
    Error(text, 1, 0);
  }
  if (m_firstSample) {
    const DAXOTypeInfo& type = sample.Type();
    m_integerStream = DAXO::FilterStream8.Match(type);
    if (!m_integerStream && DAXO::FilterAudioSignal.Match(type)) Error(kNativeAudio, 1, 0);
    // Only floats are handed over as they are.
    if (!m_integerStream && !DAXO::FilterFloat32.Match(type)) Error(kUnsupportedFormat, 1, 0);
  }
  // Format checks come before any division by the width or the channels.
  const DAXOInt32 width = sample.Misc2();
  if (m_integerStream && width != 8 && width != 16) Error(kUnsupportedFormat, 1, 0);
  const int channels = static_cast<std::int16_t>(sample.Misc1());
  if (channels <= 0 || channels > kMaxChannels) {
    DAXOStreamedString text("Sound sample of ");
    text << channels << " channels (Misc1 " << sample.Misc1() << "): 1 to " << kMaxChannels
         << " channels are supported.";
    Error(text, 1, 0);
  }
  if (m_firstSample) FirstSample(sample);

  const DAXOInt32 count = m_integerStream ? vectorSize / (width >> 3) : vectorSize;
  const DAXOInt32 usable = std::min(count, m_capacity);
  if (usable < count && !m_warnedLarger) {
    m_warnedLarger = true;
    DAXOStreamedString text("Sound sample of ");
    text << count << " items is larger than the " << m_capacity
         << " floats the first sample sized the buffers for: only the whole frames that fit are"
            " processed.";
    Report(text, DAXO::Warning, 0);
  }
  const int frames = usable / channels;
  if (frames == 0) return;  // not one whole frame: nothing to filter
  const int items = frames * channels;

  const float* input = static_cast<const float*>(sample.Data());
  if (m_integerStream) {
    const std::uint8_t* bytes = sample.Stream8();
    float* converted = m_conversion.get();
    if (width == 8) {
      for (int i = 0; i < items; ++i) converted[i] = (static_cast<int>(bytes[i]) - 128) * kScale8;
    } else {
      for (int i = 0; i < items; ++i) {
        const auto value = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        converted[i] = value * kScale16;
      }
    }
    input = converted;
  }

  DAXOIOElt* output = StartWriting(*m_output);
  if (output == nullptr) return;  // failed: the life ends with this Core
  if (output->BufferSize() < items || output->Data() == nullptr) {
    StopWriting(output, true);
    Error("The sndOutput sample has no room for the block", 1, 0);
  }
  output->Timestamp() = sample.Timestamp();
  bool discard = false;
  try {
    ProcessSound(input, sample.Timestamp(), static_cast<float*>(output->Data()),
                 output->Timestamp(), frames, channels, discard);
  } catch (...) {
    StopWriting(output, true);  // give the slot back before the error leaves Core
    throw;
  }
  output->VectorSize() = items;
  output->Frequency() = m_frequency;
  output->Misc1() = m_channels;
  output->Misc2() = m_sampleSize;
  StopWriting(output, discard);
}

void DAXOSoundProcessingComponent::Death() {
  m_conversion.reset();
}

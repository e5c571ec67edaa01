// WavRecorder: sound samples -> WAV file.
#include "wav_recorder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_type_filter.h"

namespace velquor_io {

namespace {

DAXOOutputDefinition s_outputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

/// "2 channels of 16-bit PCM at 48000 Hz".
std::string FormatText(SoundKind kind, int channels, int rate) {
  const char* values = kind == SoundKind::Float32 ? "32-bit float"
                       : kind == SoundKind::Pcm8  ? "8-bit PCM"
                                                  : "16-bit PCM";
  return std::to_string(channels) + (channels == 1 ? " channel of " : " channels of ") + values +
         " at " + std::to_string(rate) + " Hz";
}

}  // namespace

DAXOComponentDefinition WavRecorder::s_definition = ThreadedComponentRecord(
    "WavRecorder", "1.4.0", &InstantiateComponent<WavRecorder>,
    KyRecorderInputs<&DAXO::FilterAudioSignals>, s_outputs, KyRecorderProperties, s_actions);

DAXO_DECLARE_MODULE(WavRecorder, "DAXOComponent", "WavRecorder", "1.4.0",
                    &WavRecorder::s_definition);

WavRecorder::~WavRecorder() {
  Close();
}

void WavRecorder::Open() {
  Close();
  m_format = Format{};
  CheckCreatable();  // the format comes with the first sample
}

WavRecorder::Format WavRecorder::FormatOf(DAXOIOElt& element) {
  Format format;
  const DAXOTypeInfo& type = element.Type();
  if (DAXO::FilterFloat32.Match(type)) {
    format.kind = SoundKind::Float32;
  } else if (DAXO::FilterStream8.Match(type)) {
    const int bits = element.Misc2();
    if (bits != 8 && bits != 16) {
      Fail("a byte-stream sound sample of " + std::to_string(bits) +
           " bits per value (8 or 16 are recorded)");
    }
    format.kind = bits == 8 ? SoundKind::Pcm8 : SoundKind::Pcm16;
  } else {
    Fail("a sound sample that is neither 32-bit floats nor 8/16-bit PCM bytes");
  }
  format.channels = element.Misc1();
  if (format.channels < 1 || format.channels > KyMaxSoundChannels) {
    Fail("a sound sample of " + std::to_string(format.channels) + " channels (1 to " +
         std::to_string(KyMaxSoundChannels) + " are recorded)");
  }
  const DAXOInt64 frequency = element.Frequency();
  if (frequency < KyFrequencyPerHz / 2 || frequency > (DAXOInt64{1} << 40)) {
    Fail("a sound sample of frequency " + std::to_string(frequency) +
         " mHz (no whole frame rate in Hz)");
  }
  format.rate = static_cast<int>((frequency + KyFrequencyPerHz / 2) / KyFrequencyPerHz);
  return format;
}

void WavRecorder::Create(const Format& format) {
  SF_INFO info{};
  info.samplerate = format.rate;
  info.channels = format.channels;
  info.format = SF_FORMAT_WAV | (format.kind == SoundKind::Float32 ? SF_FORMAT_FLOAT
                                 : format.kind == SoundKind::Pcm8  ? SF_FORMAT_PCM_U8
                                                                   : SF_FORMAT_PCM_16);
  m_file = sf_open(m_path.c_str(), SFM_WRITE, &info);
  if (m_file == nullptr) Fail(sf_strerror(nullptr));
  m_format = format;
}

void WavRecorder::Write(DAXOIOElt& element) {
  const int items = element.VectorSize();
  if (items <= 0) return;
  const Format format = FormatOf(element);
  if (m_file == nullptr) {
    Create(format);
  } else if (!(format == m_format)) {
    Fail("a sample of " + FormatText(format.kind, format.channels, format.rate) +
         " after samples of " + FormatText(m_format.kind, m_format.channels, m_format.rate) +
         ": a file holds one format");
  }
  const int perFrame = format.channels * SoundItemsPerValue(format.kind);
  if (items > element.BufferSize() || element.Data() == nullptr || items % perFrame != 0) {
    Fail("a sound sample of " + std::to_string(items) + " items (buffer of " +
         std::to_string(element.BufferSize()) + ") is not a whole number of frames of " +
         std::to_string(perFrame) + " items");
  }
  const sf_count_t frames = items / perFrame;
  sf_count_t written = 0;
  if (format.kind == SoundKind::Float32) {
    written = sf_writef_float(m_file, static_cast<const float*>(element.Data()), frames);
  } else {
    const std::size_t values = static_cast<std::size_t>(frames) * format.channels;
    m_shorts.resize(values);
    const std::uint8_t* bytes = element.Stream8();
    if (format.kind == SoundKind::Pcm16) {
      for (std::size_t i = 0; i < values; ++i) {
        m_shorts[i] = static_cast<short>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
      }
    } else {
      // libsndfile writes 16-bit values to an 8-bit file as their top byte
      // offset to unsigned: these come back as the bytes given.
      for (std::size_t i = 0; i < values; ++i) {
        m_shorts[i] = static_cast<short>((bytes[i] - 128) * 256);
      }
    }
    written = sf_writef_short(m_file, m_shorts.data(), frames);
  }
  if (written != frames) Fail(std::string("write error: ") + sf_strerror(m_file));
  Observe(element.Timestamp());
}

void WavRecorder::Finish() {
  if (m_file == nullptr) Create(Format{SoundKind::Pcm16, 1, KyEmptyRate});
  SNDFILE* file = m_file;
  m_file = nullptr;
  // Closing writes the header's sizes.
  const int error = sf_close(file);
  if (error != SF_ERR_NO_ERROR) Fail(std::string("write error: ") + sf_error_number(error));
}

void WavRecorder::Close() {
  if (m_file != nullptr) sf_close(m_file);
  m_file = nullptr;
}

}  // namespace velquor_io

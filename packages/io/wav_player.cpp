// WavPlayer: sound file -> live sound samples.
#include "wav_player.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"
#include "daxo_services.h"

namespace velquor_io {

namespace {

enum { KyPropPath = 0, KyPropFramesPerBlock, KyPropSampleFormat, KyPropFrames };

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type (Dynamic sets the kind), size (0: sized at Birth), FIFO size,
    // subsampling, shareable
    {"output", 0, DAXOTypeInfo(KyPcmSoundType, ""), 0, 16, 1, 1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};

DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"frames_per_block", new DAXOPropertyValue(1024L), "frames", false, false, false, false, 0},
    // In the order of SoundKind.
    {"sample_format", new DAXOPropertyValue("pcm16|pcm8|float32", 0), nullptr, false, false, false,
     false, 0},
    {"frames", new DAXOPropertyValue(0L), "frames", false, false, true, false, 0},
    {},
};

DAXOInputDefinition s_inputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

}  // namespace

DAXOComponentDefinition WavPlayer::s_definition =
    ThreadedComponentRecord("WavPlayer", "1.4.0", &InstantiateComponent<WavPlayer>, s_inputs,
                            s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(WavPlayer, "DAXOComponent", "WavPlayer", "1.4.0", &WavPlayer::s_definition);

WavPlayer::~WavPlayer() {
  Close();
}

SoundKind WavPlayer::SelectedKind() {
  DAXOEnumStruct format;
  Get(*Property(KyPropSampleFormat), format);
  switch (format.selected) {
    case static_cast<int>(SoundKind::Pcm8):
      return SoundKind::Pcm8;
    case static_cast<int>(SoundKind::Float32):
      return SoundKind::Float32;
    default:
      return SoundKind::Pcm16;
  }
}

void WavPlayer::Dynamic() {
  m_inputNote.Note(StringProperty(*this, KyPropPath));
  Output(0).SetTypeValue(SelectedKind() == SoundKind::Float32 ? KyFloatSoundType : KyPcmSoundType);
  DAXOComponent::Dynamic();
}

void WavPlayer::Fail(const std::string& detail) {
  Close();
  Error(FileFault(m_path, detail).c_str());
  // Not reached: Error throws (GCC cannot see through the virtual call).
  throw DAXO::ErrorException;
}

void WavPlayer::Close() {
  if (m_file != nullptr) sf_close(m_file);
  m_file = nullptr;
}

void WavPlayer::Birth() {
  Close();
  m_path = StringProperty(*this, KyPropPath);
  m_kind = SelectedKind();
  m_played = 0;
  DirectSet(*Property(KyPropFrames), 0L);
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  Get(*Property(KyPropFramesPerBlock), m_framesPerBlock);
  if (m_framesPerBlock < 1 || m_framesPerBlock > KyMaxFramesPerBlock) {
    Error(("velquor_io: \"frames_per_block\" must be between 1 and " +
           std::to_string(KyMaxFramesPerBlock))
              .c_str());
  }

  SF_INFO info{};
  m_file = sf_open(m_path.c_str(), SFM_READ, &info);
  if (m_file == nullptr) Fail(sf_strerror(nullptr));
  if (info.channels < 1 || info.channels > KyMaxSoundChannels) {
    Fail(std::to_string(info.channels) + " channels (a sound sample carries 1 to " +
         std::to_string(KyMaxSoundChannels) + ")");
  }
  if (info.samplerate < 1 || info.samplerate > KyMaxRate) {
    Fail("a frame rate of " + std::to_string(info.samplerate) + " Hz (1 to " +
         std::to_string(KyMaxRate) + " Hz are played)");
  }
  m_channels = info.channels;
  m_rate = info.samplerate;

  const long values = m_framesPerBlock * m_channels;
  const long items = values * SoundItemsPerValue(m_kind);
  const long bytes = values * SoundBytesPerValue(m_kind);
  // The output holds 16 blocks.
  if (bytes > KyMaxBlockBytes) {
    Fail("a block of " + std::to_string(bytes) + " bytes (at most " +
         std::to_string(KyMaxBlockBytes) + "; lower \"frames_per_block\")");
  }
  m_floats.assign(static_cast<std::size_t>(values), 0.0F);
  DAXOOutput& output = Output(0);
  if (output.IOEltSizeBytes() == 0) {
    output.AllocOutputBuffer(static_cast<int>(items), true);
  } else if (output.IOEltSizeBytes() < bytes) {
    Fail("the output buffer left by an earlier run is smaller than a block");
  }
  m_start = DAXO::CurrentTime(true, true);
}

long WavPlayer::ReadBlock() {
  const sf_count_t read =
      sf_readf_float(m_file, m_floats.data(), static_cast<sf_count_t>(m_framesPerBlock));
  // A short read is the end of the file, or an error that libsndfile notes.
  if (read < m_framesPerBlock && sf_error(m_file) != SF_ERR_NO_ERROR) {
    Fail(std::string("read error: ") + sf_strerror(m_file));
  }
  return static_cast<long>(read);
}

void WavPlayer::Fill(DAXOIOElt& element, long frames) const {
  const std::size_t values =
      static_cast<std::size_t>(frames) * static_cast<std::size_t>(m_channels);
  if (m_kind == SoundKind::Float32) {
    std::memcpy(element.Data(), m_floats.data(), values * sizeof(float));
    return;
  }
  std::uint8_t* out = element.Stream8();
  for (std::size_t i = 0; i < values; ++i) {
    // Exact for 8- and 16-bit files, which libsndfile reads as v / 128 and
    // v / 32768; louder values of a float file are clipped.
    const long scaled = std::clamp(std::lrint(m_floats[i] * 32768.0F), -32768L, 32767L);
    const auto v = static_cast<std::uint16_t>(scaled);
    if (m_kind == SoundKind::Pcm16) {
      out[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
      out[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    } else {
      // The top byte, offset to unsigned (as libsndfile writes 16-bit
      // values to an 8-bit file).
      out[i] = static_cast<std::uint8_t>((scaled >> 8) + 128);
    }
  }
}

void WavPlayer::Core() {
  const long frames = ReadBlock();
  if (frames == 0) {
    Close();
    // The end of the sound is due once its last frame has played: strictly
    // after the last block's stamp (rates up to 1 MHz), so that a reader
    // sorting by time sees it after the sound.
    const DAXOTimestamp end = SampleTimestamp(PacedTime(m_start, m_played, m_rate));
    if (!WaitForTimestamp(end, nullptr, nullptr)) return;
    if (!WriteEndOfFile(*this, Output(1), end)) return;
    CommitSuicide();
    return;
  }
  const DAXOTimestamp t = SampleTimestamp(PacedTime(m_start, m_played, m_rate));
  if (!WaitForTimestamp(t, nullptr, nullptr)) return;
  DAXOIOElt* element = StartWriting(Output(0));
  if (element == nullptr) return;  // failed: the life ends with this Core
  Fill(*element, frames);
  element->VectorSize() = static_cast<DAXOInt32>(frames * m_channels * SoundItemsPerValue(m_kind));
  element->Timestamp() = t;
  element->Frequency() = m_rate * KyFrequencyPerHz;
  element->Misc1() = m_channels;
  element->Misc2() = SoundBits(m_kind);
  StopWriting(element);
  m_played += frames;
  DirectSet(*Property(KyPropFrames), static_cast<long>(m_played));
}

void WavPlayer::Death() {
  Close();
}

}  // namespace velquor_io

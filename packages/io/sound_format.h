// Sound samples as the players, recorders and filters of this package
// exchange them. A sample holds whole frames, interleaved by channel, either
// as bytes of a DAXO::Stream8 vector (8-bit unsigned, or 16-bit signed
// little-endian) or as a DAXO::Float32 vector; VectorSize() counts the items
// (bytes or floats) in use. Misc1() is the number of channels, Misc2() the
// bits per item (8, 16 or 32) and Frequency() the frame rate in thousandths
// of Hz. A live player stamps the sample whose first frame is frame k of its
// stream with start + k * 1e6 / rate µs of engine time (start: engine time
// at Birth; computed from k each time so that no rounding error adds up)
// and publishes it only once engine time has reached that stamp.
//
// Threading: constants and pure functions; any thread.
#pragma once

#include <cstdint>

#include "daxo_type_info.h"
#include "daxo_types.h"

namespace velquor_io {

/// The flags every sound output carries.
constexpr DAXOTypeInfoValue KySoundFlags = DAXO::VectorFlag | DAXO::FrequencyFlag | DAXO::MiscFlag;
/// Integer PCM frames carried as bytes.
constexpr DAXOTypeInfoValue KyPcmSoundType = DAXO::Stream8 | KySoundFlags;
/// Frames of 32-bit floats in [-1, 1).
constexpr DAXOTypeInfoValue KyFloatSoundType = DAXO::Float32 | KySoundFlags;

/// Frequency() of one frame per second.
constexpr std::int64_t KyFrequencyPerHz = 1000;
/// The sound template keeps the low byte of Misc1() as the channel count.
constexpr int KyMaxSoundChannels = 255;

/// The kinds of sound sample, in the order of the players' "sample_format"
/// enumeration.
enum class SoundKind { Pcm16 = 0, Pcm8 = 1, Float32 = 2 };

/// Bits per item of `kind` (Misc2()).
constexpr int SoundBits(SoundKind kind) {
  return kind == SoundKind::Pcm8 ? 8 : kind == SoundKind::Pcm16 ? 16 : 32;
}
/// Items (bytes or floats) per channel of a frame.
constexpr int SoundItemsPerValue(SoundKind kind) {
  return kind == SoundKind::Pcm16 ? 2 : 1;
}
/// Bytes per channel of a frame.
constexpr int SoundBytesPerValue(SoundKind kind) {
  return SoundBits(kind) / 8;
}

}  // namespace velquor_io

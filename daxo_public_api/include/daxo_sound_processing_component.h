// Sound-processing component template: an abstract base for filters on
// sound (a level meter, a gain, an equaliser...).
//
// DAXOSoundProcessingComponent reads its "sndInput" input (Float32 vectors,
// or 8-bit unsigned / 16-bit signed little-endian integer PCM carried as
// Stream8 bytes), converts integer samples to floats in [-1, 1), and hands
// each block to the derived class through ProcessSound together with the
// data of a "sndOutput" sample to fill. The output sample is published with
// the input's timestamp (unless ProcessSound changes it), the first sample's
// frequency and format bytes, and the VectorSize described below.
//
// Sound samples: Misc1() = number of channels (its low byte is kept),
// Misc2() = bits per sample (8 or 16 for Stream8, 32 for Float32),
// Frequency() = frames per second in thousandths of Hz, VectorSize() =
// items (bytes for Stream8, floats for Float32) in the sample, interleaved.
//
// Using the template in a package:
//   class MyGain : public DAXOSoundProcessingComponent {
//    public:
//     using DAXOSoundProcessingComponent::DAXOSoundProcessingComponent;
//     void ProcessSound(const float* input, DAXOTimestamp inputTimestamp, float* output,
//                       DAXOTimestamp& outputTimestamp, int frames, int channels,
//                       bool& discard) override;
//   };
//   DAXOComponentDefinition s_myGain{"MyGain", "1.0", &Instantiate, ...};
//   with inputs / nbInputs and outputs / nbOutputs pointing at the template's
//   static tables (DAXOSoundProcessingComponent::InputDefinitions,
//   ::OutputDefinitions) and the counts
//   DAXOComponentDefinition::CountUntilZeroRow; then
//   DAXO_DECLARE_MODULE(MyGain, "DAXOComponent", "MyGain", "1.0", &s_myGain).
// A definition may also leave the template's rows out: Dynamic() then
// declares them as dynamic elements. A derived Dynamic() calls the
// template's first, then declares its own dynamic elements.
// A derived Core that reads "sndInput" together with inputs of its own (an
// end-of-file input, say) calls Receive for each sound sample it reads.
//
// ProcessSound gets `frames * channels` interleaved floats and may write as
// many floats to `output`; setting `discard` drops the output sample.
//
// Decisions:
//   - the first sample of a run fixes the stream kind from its own type (the type of the output
//     the input reads; the input's Type() is only its filter): Stream8 is an integer stream,
//     Float32 a float one. It also fixes the buffer sizes, the frequency and the two format bytes
//     published on every output sample; later samples are converted by their own Misc2() and cut
//     into frames by their own Misc1().
//   - refused with a component error, before any division: a channel count (Misc1() read as a
//     signed 16-bit value) of 0 or below, or above 255 (the output's Misc1 byte could not name
//     it); for integer streams any width (Misc2()) other than 8 and 16, below 8 included, gives
//     "Input sound format is not supported.". A first sample of the native audio-signal type
//     gives "Handling native audio signal type is not supported yet."; of any other type but
//     Stream8 and Float32 (a derived Core may Receive what it likes) the unsupported-format text.
//   - a sample whose VectorSize() exceeds its own BufferSize(), or that has no data, is refused
//     with a component error.
//   - frames = items / channels rounded down; the output's VectorSize() is frames * channels, so
//     it never publishes floats ProcessSound did not write (equal to the item count whenever
//     that count is a whole number of frames). A sample of less than one frame publishes nothing.
//   - a later sample larger than the first: the conversion and output buffers are sized from
//     the first sample, so only the whole frames they hold are processed (the rest of the
//     sample is dropped) and a warning naming both sizes is reported once per run.
//   - Float32 input: ProcessSound gets the input sample's own data, nothing is copied.
//   - the "sndOutput" buffers are allocated at the first sample of the first run; a buffer a
//     run left (no shutdown since) is kept, and its size bounds the blocks as above.
//   - ProcessSound throwing (an Error, the die signal): the output slot is given back unpublished.
//
// Threading: Birth, Core, Receive, ProcessSound and Death run on the
// component's thread (or the feeding writer's thread for a sequential
// model), never two at a time. The conversion buffer and the format fields
// take no lock.
#pragma once

#include "daxo_component.h"
#include "daxo_types.h"

#include <cstdint>
#include <memory>

class DAXOSoundProcessingComponent : public DAXOComponent {
 public:
  DAXOSoundProcessingComponent(const char* name, DAXOComponentDefinition& definition);
  ~DAXOSoundProcessingComponent() override;

  /// Declares every row of the template's tables that the component's
  /// definition does not already make, in table order.
  void Dynamic() override;
  /// Starts one run: the next sample is the first one again.
  void Birth() override;
  /// Reads one sample of "sndInput" and Receive()s it.
  void Core() override;
  /// Converts `sample` (a "sndInput" sample the caller holds), calls
  /// ProcessSound and publishes one "sndOutput" sample. For a derived Core
  /// that reads "sndInput" together with inputs of its own.
  void Receive(DAXOIOElt& sample);
  /// Releases the conversion buffer.
  void Death() override;

  /// The filter: `frames * channels` interleaved floats in `input`, room
  /// for as many in `output`. `outputTimestamp` starts as `inputTimestamp`;
  /// `discard` starts false, true drops the output sample.
  virtual void ProcessSound(const float* input, DAXOTimestamp inputTimestamp, float* output,
                            DAXOTimestamp& outputTimestamp, int frames, int channels,
                            bool& discard) = 0;

  // "sndInput" (AudioSignal, Float32 or Stream8; FIFO reader).
  static DAXOInputDefinition InputDefinitions[2];
  // "sndOutput" (Float32 vector with frequency and misc; FIFO of 16, shareable).
  static DAXOOutputDefinition OutputDefinitions[2];
  static DAXOPropertyDefinition PropertyDefinitions[1];
  static DAXOActionDefinition ActionDefinitions[1];

 protected:
  /// The rest of a run's first sample (kind and format already checked):
  /// sizes the buffers and keeps the format.
  void FirstSample(DAXOIOElt& sample);

  /// Integers of the current block converted to floats (integer streams).
  std::unique_ptr<float[]> m_conversion;
  /// Floats m_conversion holds (integer streams) or that an output sample holds.
  DAXOInt32 m_capacity = 0;
  bool m_firstSample = true;
  bool m_integerStream = false;
  /// A later sample was cut to the buffers this run (warned once).
  bool m_warnedLarger = false;
  std::uint8_t m_channels = 0;
  std::uint8_t m_sampleSize = 0;
  DAXOInt64 m_frequency = 0;

 private:
  DAXOOutput* m_output = nullptr;  // "sndOutput", found at the first sample
};

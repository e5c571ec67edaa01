// The sound-processing template in the real engine: a gated source -> a
// derived DAXOSoundProcessingComponent that records each ProcessSound call
// and copies its input to its output -> a reader of "sndOutput".
#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "daxo_io.h"
#include "daxo_sound_processing_component.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using Bytes = std::vector<unsigned char>;
using Floats = std::vector<float>;

Bytes OfFloats(const Floats& floats) {
  Bytes raw(floats.size() * sizeof(float));
  std::memcpy(raw.data(), floats.data(), raw.size());
  return raw;
}
Bytes OfInt16(const std::vector<int>& values) {  // little-endian
  Bytes raw;
  for (int v : values)
    raw.insert(raw.end(),
               {static_cast<unsigned char>(v & 0xFF), static_cast<unsigned char>((v >> 8) & 0xFF)});
  return raw;
}

struct Planned {
  Bytes raw;
  DAXOInt32 misc1;
  DAXOInt32 misc2;
  DAXOInt32 vectorSize;  // -1: the items in `raw`
  DAXOTimestamp timestamp;
};
constexpr DAXOInt64 kFrequency = 8000000;  // 8 kHz

Planned Sample(Bytes raw, DAXOInt32 misc1 = 1, DAXOInt32 misc2 = 8, DAXOInt32 vectorSize = -1,
               DAXOTimestamp timestamp = 1000) {
  return {std::move(raw), misc1, misc2, vectorSize, timestamp};
}

/// Writes every planned sample not yet written each time `release` is set;
/// records the data address of each sample written.
class Source : public DAXOComponent {
 public:
  Source(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOEvent* events[2] = {&release, &DieEvent()};
    if (DAXOEvent::Wait(2, events, -1) != 0) throw DAXO::ModuleDied;
    release.Reset();
    const size_t itemSize = (Output(0).Type().value & DAXO::Float32) != 0 ? sizeof(float) : 1;
    std::lock_guard<std::mutex> guard(lock);
    for (; next < plan.size(); ++next) {
      const Planned& p = plan[next];
      DAXOIOElt* e = StartWriting(Output(0), p.timestamp);
      if (e == nullptr) return;
      if (!p.raw.empty()) {  // an empty vector's data() may be null
        std::memcpy(e->Data(), p.raw.data(),
                    std::min(p.raw.size(), static_cast<size_t>(Output(0).IOEltSizeBytes())));
      }
      e->VectorSize() =
          p.vectorSize >= 0 ? p.vectorSize : static_cast<DAXOInt32>(p.raw.size() / itemSize);
      e->Misc1() = p.misc1;
      e->Misc2() = p.misc2;
      e->Frequency() = kFrequency;
      written.push_back(e->Data());
      StopWriting(e);
    }
  }
  void Send(std::vector<Planned> samples) {
    {
      std::lock_guard<std::mutex> guard(lock);
      plan.insert(plan.end(), samples.begin(), samples.end());
    }
    release.Set();
  }
  std::mutex lock;
  std::vector<Planned> plan;
  std::vector<const void*> written;
  size_t next = 0;
  DAXOEvent release;
};

/// What one ProcessSound call saw.
struct Call {
  Floats input;
  const void* address = nullptr;
  DAXOTimestamp inputTimestamp = 0;
  DAXOTimestamp outputTimestamp = 0;
  int frames = 0;
  int channels = 0;
};

/// Copies its input to its output; drops the calls listed in `discards`.
class Filter : public DAXOSoundProcessingComponent {
 public:
  using DAXOSoundProcessingComponent::DAXOSoundProcessingComponent;
  void ProcessSound(const float* input, DAXOTimestamp inputTimestamp, float* output,
                    DAXOTimestamp& outputTimestamp, int frames, int channels,
                    bool& discard) override {
    const int n = frames * channels;
    std::copy(input, input + n, output);
    const size_t call = seen.Add(
        {Floats(input, input + n), input, inputTimestamp, outputTimestamp, frames, channels});
    discard = discard || std::count(discards.begin(), discards.end(), call) > 0;
  }
  Log<Call> seen;
  std::vector<size_t> discards;  // set before the run starts
};

struct Published {
  Floats floats;
  DAXOTimestamp timestamp;
  DAXOInt64 frequency;
  DAXOInt32 misc1, misc2;
  DAXOTypeInfoValue type;
};

class Reader : public DAXOComponent {
 public:
  Reader(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOIOElt* e = StartReading(Input(0));
    if (e == nullptr) return;
    const float* data = static_cast<const float*>(e->Data());
    samples.Add({Floats(data, data + e->VectorSize()), e->Timestamp(), e->Frequency(), e->Misc1(),
                 e->Misc2(), e->Type().value});
  }
  Log<Published> samples;
};

constexpr DAXOTypeInfoValue kSoundFlags = DAXO::VectorFlag | DAXO::FrequencyFlag | DAXO::MiscFlag;
DAXOOutputDefinition g_bytesOut[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Stream8 | kSoundFlags), 512, 16, 1, 0}, {}};
DAXOOutputDefinition g_floatsOut[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Float32 | kSoundFlags), 16, 16, 1, 0}, {}};
DAXOOutputDefinition g_audioOut[] = {{"out", 0, DAXOTypeInfo(DAXO::AudioSignal), 64, 16, 1, 0}, {}};
DAXOInputDefinition g_readerIn[] = {{"in", 0, &DAXO::FilterFloat32, DAXO::NeverSkippingReader, 1},
                                    {}};

class Sound : public PropertyTest {
 protected:
  Sound() {
    for (DAXOComponentDefinition& d : models) EXPECT_TRUE(engine.AddModel(d));
  }
  /// A source of `sourceModel` -> a filter of `filterModel` -> a reader.
  void Wire(const char* sourceModel, const char* filterModel = "Filter") {
    src = Make<Source>(sourceModel, "src");
    filter = Make<Filter>(filterModel, "snd");
    reader = Make<Reader>("Reader", "reader");
    ASSERT_TRUE(engine.Connect("src.out", "snd.sndInput"));
    ASSERT_TRUE(engine.Connect("snd.sndOutput", "reader.in"));
  }

  Source* src = nullptr;
  Filter* filter = nullptr;
  Reader* reader = nullptr;
  DAXOComponentDefinition models[6] = {
      Model<Source>("Bytes", true, nullptr, g_bytesOut),
      Model<Source>("Floats", true, nullptr, g_floatsOut),
      Model<Source>("Audio", true, nullptr, g_audioOut),
      Model<Reader>("Reader", true, g_readerIn),
      TemplateModel<Filter>("Filter"),
      // Leaves the template's rows out: Dynamic() declares them.
      Model<Filter>("BareFilter", true),
  };
};

struct Conversion {
  const char* name;
  const char* source;
  int frames, channels;
  Planned sample;
  Floats expected;  // what ProcessSound gets and the output carries
};

class SoundConversion : public Sound, public ::testing::WithParamInterface<Conversion> {};

TEST_P(SoundConversion, HandsTheBlockOverAndPublishesItWithTheInputsTimingAndFormat) {
  const Conversion& c = GetParam();
  Wire(c.source);
  ASSERT_TRUE(engine.StartDiagram());
  src->Send({c.sample});
  ASSERT_TRUE(reader->samples.WaitAtLeast(1));
  const Call call = filter->seen.At(0);
  EXPECT_EQ(call.input, c.expected);
  EXPECT_EQ(call.frames, c.frames);
  EXPECT_EQ(call.channels, c.channels);
  EXPECT_EQ(call.inputTimestamp, 1000);
  EXPECT_EQ(call.outputTimestamp, 1000) << "the output starts with the input's timestamp";
  if (std::string(c.source) == "Floats") {
    std::lock_guard<std::mutex> guard(src->lock);
    EXPECT_EQ(call.address, src->written.at(0)) << "float input is handed over as it is";
  }
  const Published out = reader->samples.At(0);
  EXPECT_EQ(out.floats, c.expected);
  EXPECT_EQ(out.timestamp, 1000);
  EXPECT_EQ(out.frequency, kFrequency);
  EXPECT_EQ(out.misc1, c.sample.misc1);
  EXPECT_EQ(out.misc2, c.sample.misc2);
  EXPECT_EQ(out.type, 0xD000000000010000ul);
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

std::vector<Conversion> ConversionCases() {
  std::vector<int> ramp;  // 200 16-bit values: 100 stereo frames in 400 bytes
  Floats rampFloats;
  for (int k = 0; k < 200; ++k) {
    ramp.push_back(k * 100);
    rampFloats.push_back(static_cast<float>(k * 100) / 32768);
  }
  const Floats floats{0.25f, -0.5f, 2.0f};  // out of range too: passed as is
  return {
      {"Unsigned8", "Bytes", 3, 1, Sample({0, 128, 255}), {-1.0f, 0.0f, 0.9921875f}},
      {"Signed16", "Bytes", 2, 1, Sample(OfInt16({-32768, 16384}), 1, 16), {-1.0f, 0.5f}},
      {"Stereo16Of400Bytes", "Bytes", 100, 2, Sample(OfInt16(ramp), 2, 16), rampFloats},
      // 5 bytes of stereo: two whole frames, the odd byte is not published.
      {"OddByte", "Bytes", 2, 2, Sample({0, 64, 128, 192, 255}, 2), {-1.0f, -0.5f, 0.0f, 0.5f}},
      {"FloatsAsIs", "Floats", 3, 1, Sample(OfFloats(floats), 1, 32), floats},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, SoundConversion, ::testing::ValuesIn(ConversionCases()),
                         [](const ::testing::TestParamInfo<Conversion>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(Sound, ADiscardedBlockIsNotPublished) {
  Wire("Bytes", "BareFilter");
  filter->discards = {1};
  ASSERT_TRUE(engine.StartDiagram());
  src->Send(
      {Sample({1}, 1, 8, -1, 1000), Sample({2}, 1, 8, -1, 2000), Sample({3}, 1, 8, -1, 3000)});
  ASSERT_TRUE(filter->seen.WaitAtLeast(3));
  ASSERT_TRUE(reader->samples.WaitAtLeast(2));
  EXPECT_EQ(reader->samples.At(0).timestamp, 1000);
  EXPECT_EQ(reader->samples.At(1).timestamp, 3000) << "the second block was dropped";
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(Sound, ALaterLargerSampleIsCutToWholeFramesOfTheFirstSamplesBuffersWithOneWarning) {
  Wire("Bytes");
  ASSERT_TRUE(engine.StartDiagram());
  // 16-bit first: the 512-byte buffer holds 256 samples, so the buffers hold
  // 256 floats. 8-bit samples of 300 bytes (100 frames of 3) then fit 85 frames.
  Bytes large(300);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<unsigned char>(i);
  src->Send({Sample(OfInt16({0, 0, 0}), 3, 16), Sample(large, 3, 8), Sample(large, 3, 8)});
  ASSERT_TRUE(reader->samples.WaitAtLeast(3));
  const Call cut = filter->seen.At(1);
  EXPECT_EQ(cut.frames, 85);
  EXPECT_EQ(cut.channels, 3);
  Floats expected;
  for (int i = 0; i < 255; ++i) expected.push_back((i - 128) / 128.0f);
  EXPECT_EQ(reader->samples.At(1).floats, expected);
  EXPECT_EQ(reader->samples.At(2).floats.size(), 255u);
  engine.ShutdownDiagram();
  EXPECT_EQ(Count("*snd: Sound sample of 300 items is larger than the 256 floats*", DAXO::Warning),
            1);
  EXPECT_FALSE(ErrorReported());
}

struct Refusal {
  const char* name;
  const char* source;
  std::vector<Planned> samples;
  const char* pattern;
};

class SoundRefusal : public Sound, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SoundRefusal, IsAComponentErrorThatEndsTheRun) {
  const Refusal& r = GetParam();
  Wire(r.source);
  ASSERT_TRUE(engine.StartDiagram());
  src->Send(r.samples);
  EXPECT_TRUE(Eventually([&] { return Reported(r.pattern); })) << r.pattern;
  EXPECT_TRUE(Eventually([&] { return (engine.ModuleState("snd") & DAXO::DeadState) != 0; }));
  engine.ShutdownDiagram();
}

constexpr const char* kUnsupported = "*snd: Input sound format is not supported.";
constexpr const char* kBadChannels =
    "*snd: Sound sample of * channels (Misc1 *): 1 to 255 channels are supported.";

std::vector<Refusal> RefusalCases() {
  const char* native = "*snd: Handling native audio signal type is not supported yet.";
  const char* tooLong = "*snd: Sound sample of 513 items does not fit its buffer of 512 items";
  return {
      {"NativeAudio", "Audio", {Sample({}, 0, 8, 1)}, native},  // no channel: the type is named
      {"WidthBelow8", "Bytes", {Sample({1, 2}, 1, 4)}, kUnsupported},
      {"Width24", "Bytes", {Sample({1, 2, 3}, 1, 24)}, kUnsupported},
      {"LaterWidthOf0", "Bytes", {Sample({1}), Sample({1, 2}, 1, 0)}, kUnsupported},
      {"NoChannel", "Bytes", {Sample({1, 2}, 0)}, kBadChannels},
      {"NegativeChannels", "Floats", {Sample(OfFloats({0.5f}), 0xFFFF, 32)}, kBadChannels},
      {"ChannelsBeyondAByte", "Bytes", {Sample({1, 2}, 256)}, kBadChannels},
      {"VectorBeyondItsBuffer", "Bytes", {Sample({1}, 1, 8, 513)}, tooLong},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, SoundRefusal, ::testing::ValuesIn(RefusalCases()),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace velquor::test

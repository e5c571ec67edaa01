// The sound components of velquor_io in whole runs of the real engine. A
// WAV file written here through libsndfile is played by a WavPlayer into a
// WavRecorder, a probe, and a LevelMeter whose float output goes to a second
// WavRecorder; the files that come out are read back through libsndfile and
// compared with what libsndfile itself reads from the input. The probe
// checks the samples' format fields and that each one was published only
// once engine time had reached its timestamp.
#include <sndfile.h>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "daxo_component.h"
#include "daxo_io.h"
#include "stream_diagram_support.h"

namespace velquor::test {
namespace {

struct Wav {
  bool ok = false;
  int format = 0;  // SF_FORMAT_WAV | subtype
  int channels = 0;
  int rate = 0;
  std::vector<short> shorts;  // the file as libsndfile reads it in each kind
  std::vector<float> floats;
};

Wav ReadWav(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return {};
  const auto n = static_cast<size_t>(info.frames * info.channels);
  Wav w{true,
        info.format,
        info.channels,
        info.samplerate,
        std::vector<short>(n),
        std::vector<float>(n)};
  sf_readf_short(f, w.shorts.data(), info.frames);
  sf_seek(f, 0, SEEK_SET);
  sf_readf_float(f, w.floats.data(), info.frames);
  sf_close(f);
  return w;
}

/// `frames` frames of pseudo-random values over the whole range, as floats
/// with 24 significant bits (which a 16-bit path would round).
void WriteWav(const std::string& path, int subtype, int channels, int rate, int frames) {
  SF_INFO info{0, rate, channels, SF_FORMAT_WAV | subtype, 0, 0};
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<float> values(static_cast<size_t>(frames * channels), -1.0F);
  for (size_t i = 1; i < values.size(); ++i) {
    const unsigned bits = static_cast<unsigned>(i * 2654435761u) >> 8;
    values[i] = static_cast<float>(std::ldexp(static_cast<double>(bits), -23) - 1.0);
  }
  EXPECT_EQ(sf_writef_float(f, values.data(), frames), frames);
  sf_close(f);
}

/// What the probe saw of one sample: timestamp, time of issue, frequency,
/// bits per value.
using Seen = std::tuple<DAXOTimestamp, DAXOTimestamp, DAXOInt64, int>;

/// Records every sample of "input" until "end_of_file" came and it is drained.
class Probe : public DAXOComponent {
 public:
  Probe(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOInput* inputs[2] = {&Input(0), &Input(1)};
    if (m_end && !DataAvailableInFIFO(*inputs[0])) CommitSuicide();
    int which = -1;
    DAXOIOElt* e = StartReading(2, inputs, &which);
    if (e == nullptr) return;
    m_end = m_end || which == 1;
    std::lock_guard<std::mutex> guard(lock);
    if (which == 0) seen.emplace_back(e->Timestamp(), e->TimeOfIssue(), e->Frequency(), e->Misc2());
  }
  std::mutex lock;
  std::vector<Seen> seen;

 private:
  bool m_end = false;
};

DAXOInputDefinition g_probeInputs[] = {
    {"input", 0, &DAXO::FilterAudioSignals, DAXO::NeverSkippingReader, 1},
    {"end_of_file", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};
DAXOComponentDefinition g_probeModel{
    .name = "SoundProbe",
    .version = "1.0",
    .instantiate = [](const char* n, DAXOComponentDefinition& d) -> DAXOComponent* {
      return new Probe(n, d);
    },
    .nbInputs = DAXOComponentDefinition::CountUntilZeroRow,
    .inputs = g_probeInputs,
    .kind = DAXO::Threaded,
    .threaded = true,
};

enum Kind { Pcm16 = 0, Pcm8 = 1, Float32 = 2 };  // "sample_format" in order
constexpr int kRate = 48000;
constexpr long kBlock = 256;  // divides none of the frame counts

struct Case {
  const char* name;
  int subtype;  // of the input file
  int channels;
  Kind kind;
  int frames;
};

class SoundDiagram : public StreamDiagram {
 protected:
  void SetUp() override {
    StreamDiagram::SetUp();
    ASSERT_TRUE(engine.AddModel(g_probeModel));
  }
  /// `model` `name` writing or reading `path`.
  void Create(const std::string& model, const std::string& name, const std::string& path) {
    StreamDiagram::Create(model, name);
    Set(name, "path", path);
  }
  /// "play" reading `in` as `kind`, in blocks of kBlock frames.
  void Player(const std::string& in, Kind kind) {
    Create("WavPlayer", "play", in);
    Set("play", "sample_format", static_cast<long>(kind));
    Set("play", "frames_per_block", kBlock);
  }
  /// `to` reads the sound output `output` of `from` and its end of file.
  void Link(const std::string& from, const std::string& output, const std::string& to) {
    const bool meter = to == "meter";
    Connect(from + "." + output, to + (meter ? ".sndInput" : ".input"));
    Connect(from + ".end_of_file", to + (meter ? ".iEndOfFile" : ".end_of_file"));
  }
  /// "play" -> "meter" -> "rec" (floats.wav, levels.csv).
  void Meter() {
    Create("LevelMeter", "meter", File("levels.csv"));
    Create("WavRecorder", "rec", File("floats.wav"));
    Link("play", "output", "meter");
    Link("meter", "sndOutput", "rec");
  }
};

class Sound : public SoundDiagram, public ::testing::WithParamInterface<Case> {};

TEST_P(Sound, TheRecordingsHoldTheSoundInEachKindAndTheLevelsOfEachBlock) {
  const Case c = GetParam();
  WriteWav(File("in.wav"), c.subtype, c.channels, kRate, c.frames);
  Player(File("in.wav"), c.kind);
  Create("WavRecorder", "copy", File("copy.wav"));
  Link("play", "output", "copy");
  StreamDiagram::Create("SoundProbe", "probe");
  Link("play", "output", "probe");
  Meter();
  Run();
  EXPECT_EQ(Errors(), "");

  // The copy: the input in the kind played (libsndfile reads a b-bit value v
  // as v / 2^(b-1); the integer kinds take that times 32768, rounded and
  // clipped to 16 bits, and 8 bits keep its top byte).
  const Wav in = ReadWav(File("in.wav"));
  const Wav copy = ReadWav(File("copy.wav"));
  const int subtypes[] = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_U8, SF_FORMAT_FLOAT};
  EXPECT_EQ(copy.format, SF_FORMAT_WAV | subtypes[c.kind]);
  EXPECT_EQ(copy.channels, c.channels);
  EXPECT_EQ(copy.rate, kRate);
  std::vector<short> shorts;
  for (float f : in.floats) {
    const long v = std::clamp(std::lrint(f * 32768.0F), -32768L, 32767L);
    shorts.push_back(static_cast<short>(c.kind == Pcm8 ? v & ~0xFFL : v));
  }
  if (c.kind == Float32) {
    EXPECT_EQ(copy.floats, in.floats);
  } else {
    EXPECT_EQ(copy.shorts, shorts);
  }

  // Through the meter: the played samples as the sound template makes floats of them.
  std::vector<float> floats = in.floats;
  for (size_t i = 0; i < floats.size() && c.kind != Float32; ++i) {
    floats[i] = c.kind == Pcm16 ? shorts[i] / 32768.0F : (shorts[i] >> 8) / 128.0F;
  }
  const Wav metered = ReadWav(File("floats.wav"));
  EXPECT_EQ(metered.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  EXPECT_EQ(metered.floats, floats);

  // One row per block: its time, then the rms and peak of each channel.
  std::ifstream csv(File("levels.csv"));
  std::string line;
  std::string header = "timestamp_us";
  for (int ch = 0; ch < c.channels; ++ch) {
    header += ",rms_" + std::to_string(ch) + ",peak_" + std::to_string(ch);
  }
  ASSERT_TRUE(std::getline(csv, line));
  EXPECT_EQ(line, header);
  const long blocks = (c.frames + kBlock - 1) / kBlock;
  std::vector<long long> rowTimes;
  for (long k = 0; std::getline(csv, line); ++k) {
    SCOPED_TRACE(line);
    std::istringstream row(line);
    char comma = 0;
    rowTimes.emplace_back();
    row >> rowTimes.back();
    const long first = k * kBlock;
    const long frames = std::min(kBlock, c.frames - first);
    for (int ch = 0; ch < c.channels; ++ch) {
      double squares = 0, peak = 0, rms = -1, peakRead = -1;
      for (long f = first; f < first + frames; ++f) {
        const double v = floats[static_cast<size_t>(f * c.channels + ch)];
        squares += v * v;
        peak = std::max(peak, std::fabs(v));
      }
      row >> comma >> rms >> comma >> peakRead;
      EXPECT_NEAR(rms, std::sqrt(squares / frames), 1e-12) << "channel " << ch;
      EXPECT_EQ(peakRead, peak) << "channel " << ch;
    }
    EXPECT_TRUE(row.eof()) << "more columns than channels";
  }
  ASSERT_EQ(static_cast<long>(rowTimes.size()), blocks);

  // Every sample as played: its time, format fields, and never early.
  EXPECT_EQ(Integer("play", "frames"), c.frames);
  auto* probe = static_cast<Probe*>(engine.Component("probe"));
  std::lock_guard<std::mutex> guard(probe->lock);
  ASSERT_EQ(static_cast<long>(probe->seen.size()), blocks);
  for (long k = 0; k < blocks; ++k) {
    SCOPED_TRACE(k);
    const auto [t, issued, frequency, bits] = probe->seen[static_cast<size_t>(k)];
    // Frame n of the stream is stamped start + n * 1e6 / rate (rounded down).
    EXPECT_EQ(t - std::get<0>(probe->seen[0]), k * kBlock * 1000000 / kRate);
    EXPECT_EQ(rowTimes[static_cast<size_t>(k)], t) << "the level row has its block's time";
    EXPECT_GE(issued, t) << "published before engine time reached it";
    EXPECT_EQ(frequency, kRate * 1000L);
    EXPECT_EQ(bits, c.kind == Pcm16 ? 16 : c.kind == Pcm8 ? 8 : 32);
  }
}

INSTANTIATE_TEST_SUITE_P(
    FormatsAndKinds, Sound,
    ::testing::Values(Case{"pcm16_1ch_as_pcm16", SF_FORMAT_PCM_16, 1, Pcm16, 2500},
                      Case{"pcm16_2ch_as_pcm16", SF_FORMAT_PCM_16, 2, Pcm16, 2500},
                      Case{"u8_2ch_as_pcm8", SF_FORMAT_PCM_U8, 2, Pcm8, 1999},
                      Case{"pcm16_1ch_as_pcm8", SF_FORMAT_PCM_16, 1, Pcm8, 1000},
                      Case{"float_2ch_as_float32", SF_FORMAT_FLOAT, 2, Float32, 2500},
                      Case{"u8_1ch_as_float32", SF_FORMAT_PCM_U8, 1, Float32, 700},
                      Case{"float_3ch_as_pcm16", SF_FORMAT_FLOAT, 3, Pcm16, 1000}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST_F(SoundDiagram, NoSoundGivesAValidEmptyWavAndAHeaderOnlyCsv) {
  WriteWav(File("in.wav"), SF_FORMAT_PCM_16, 2, kRate, 0);
  Player(File("in.wav"), Pcm16);
  Meter();
  Run();
  EXPECT_EQ(Errors(), "");
  const Wav out = ReadWav(File("floats.wav"));
  EXPECT_TRUE(out.ok);
  EXPECT_TRUE(out.shorts.empty());
  EXPECT_EQ(ReadFile(File("levels.csv")), "timestamp_us,rms_0,peak_0\n");
}

TEST_F(SoundDiagram, FaultsNameTheFile) {
  WriteWav(File("good.wav"), SF_FORMAT_PCM_16, 1, kRate, 100);
  WriteWav(File("fast.wav"), SF_FORMAT_PCM_16, 1, 2000000, 100);
  WriteFile(File("text.wav"), "RIFF? no, only a line of text\n");
  struct Fault {
    const char* model;  // fed by a player of good.wav unless it is the player
    std::string path;
  };
  const Fault faults[] = {
      {"WavPlayer", File("missing.wav")},       {"WavPlayer", File("text.wav")},
      {"WavPlayer", File("fast.wav")},          {"WavRecorder", "/dev/full"},
      {"WavRecorder", File("no/such/out.wav")}, {"LevelMeter", "/dev/full"},
      {"LevelMeter", File("no/such/out.csv")},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.model + (" " + f.path));
    reports->Clear();
    const std::string model = f.model;
    const std::string name = model == "LevelMeter" ? "meter" : "rec";
    Player(model == "WavPlayer" ? f.path : File("good.wav"), Pcm16);
    if (model != "WavPlayer") {
      Create(model, name, f.path);
      Link("play", "output", name);
    }
    Run();
    EXPECT_TRUE(ReportHas("velquor_io: " + f.path + ": ", DAXO::Error)) << Errors();
    ASSERT_TRUE(engine.DestroyComponent("play"));
    if (model != "WavPlayer") {
      ASSERT_TRUE(engine.DestroyComponent(name));
    }
  }
}

}  // namespace
}  // namespace velquor::test

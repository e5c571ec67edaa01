// The byte-stream templates in the real engine: a gated source writes Stream8
// samples into a derived DAXOStream8InputComponent that records what each
// ProcessStreamData call sees, and a derived DAXOStream8IOComponent sends
// data that a plain reader records.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "daxo_io.h"
#include "daxo_stream8_components.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using Bytes = std::vector<unsigned char>;
using Times = std::vector<DAXOTimestamp>;

struct Planned {
  Bytes bytes;
  DAXOTimestamp timestamp = 1000;
  bool frequencyFlag = false;
  DAXOInt64 frequency = 0;
  int extraLength = 0;  // VectorSize() beyond the bytes written
};

/// Writes the next planned sample each time `release` is set.
class Source : public DAXOComponent {
 public:
  Source(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOEvent* events[2] = {&release, &DieEvent()};
    if (DAXOEvent::Wait(2, events, -1) != 0) throw DAXO::ModuleDied;
    release.Reset();
    Planned p;
    {
      std::lock_guard<std::mutex> guard(lock);
      p = plan.at(next++);
    }
    DAXOIOElt* e = StartWriting(Output(0), p.timestamp);
    if (e == nullptr) return;
    std::copy(p.bytes.begin(), p.bytes.end(), e->Stream8());
    e->VectorSize() = static_cast<DAXOInt32>(p.bytes.size()) + p.extraLength;
    e->Frequency() = p.frequency;
    e->TimeOfIssue() = p.timestamp + 7;
    if (p.frequencyFlag) {
      e->Type().value |= DAXO::FrequencyFlag;
    } else {
      e->Type().value &= ~DAXO::FrequencyFlag;
    }
    StopWriting(e);
  }
  void Add(Planned p) {
    std::lock_guard<std::mutex> guard(lock);
    plan.push_back(std::move(p));
  }
  std::mutex lock;
  std::vector<Planned> plan;
  size_t next = 0;
  DAXOEvent release;
};

/// What one ProcessStreamData call saw, in run order.
struct Seen {
  int offset = 0;
  int size = 0;
  Bytes run;
  Times timestamps;
  Times timesOfIssue;
  Bytes slots;  // the whole data buffer, by ring slot
};

/// Records each call; pops `consume` bytes (-1: all of them).
template <class Base>
class Recorder : public Base {
 public:
  Recorder(const char* name, DAXOComponentDefinition& d) : Base(name, d) {}
  void ProcessStreamData(DAXORBRegion& fifo, unsigned char* data, DAXOTimestamp* timestamps,
                         DAXOTimestamp* timesOfIssue) override {
    Seen s{fifo.Offset(), fifo.Size(), {}, {}, {}, Bytes(data, data + fifo.FifoSize())};
    for (int i = 0; i < fifo.Size(); ++i) {
      s.run.push_back(data[fifo[i]]);
      s.timestamps.push_back(timestamps[fifo[i]]);
      s.timesOfIssue.push_back(timesOfIssue[fifo[i]]);
    }
    Respond();
    const int n = consume < 0 ? fifo.Size() : consume;
    if (n > 0) fifo.Pop(n, nullptr);
    seen.Add(std::move(s));
  }
  virtual void Respond() {}
  Log<Seen> seen;
  int consume = 0;
};

using InputRecorder = Recorder<DAXOStream8InputComponent>;

/// Sends `sends` (length, timestamp) on each sample, recording the answers.
class Echo : public Recorder<DAXOStream8IOComponent> {
 public:
  using Recorder::Recorder;
  void Respond() override {
    for (auto [length, ts] : sends) {
      Bytes bytes(static_cast<size_t>(length > 0 ? length : 0));
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i + 1);
      answers.push_back(SendData(bytes.data(), length, ts));
    }
  }
  std::vector<std::pair<int, DAXOTimestamp>> sends;
  std::vector<bool> answers;
};

/// Records every Stream8 sample it reads.
class Reader : public DAXOComponent {
 public:
  Reader(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOIOElt* e = StartReading(Input(0));
    if (e == nullptr) return;
    samples.Add({Bytes(e->Stream8(), e->Stream8() + e->VectorSize()), e->Timestamp()});
  }
  Log<std::pair<Bytes, DAXOTimestamp>> samples;
};

DAXOOutputDefinition g_sourceOutputs[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Stream8), 64, 16, 1, 0},
    {},
};
DAXOInputDefinition g_readerInputs[] = {
    {"in", 0, &DAXO::FilterStream8, DAXO::NeverSkippingReader, 1},
    {},
};

class Stream8 : public PropertyTest {
 protected:
  Stream8() {
    for (DAXOComponentDefinition& d : models) EXPECT_TRUE(engine.AddModel(d));
  }

  /// src -> a recorder of `model` named "dst" with the given FIFO size.
  template <class C>
  C* Wire(const char* model, long fifoSize) {
    src = Make<Source>("Source", "src");
    auto* dst = Make<C>(model, "dst");
    dst->Set(*dst->Property("pInputFIFOSize"), fifoSize);
    EXPECT_TRUE(engine.Connect("src.out", "dst.iStream8"));
    return dst;
  }
  /// Writes `p`; true once `dst` has processed `calls` samples.
  template <class C>
  bool Feed(C* dst, Planned p, int calls) {
    src->Add(std::move(p));
    src->release.Set();
    return dst->seen.WaitAtLeast(calls);
  }
  /// Starts the diagram and waits until `dst` failed with `pattern`.
  void ExpectFailure(const std::string& pattern) {
    EXPECT_TRUE(Eventually([&] { return Reported(pattern); })) << pattern;
    EXPECT_TRUE(Eventually([&] { return (engine.ModuleState("dst") & DAXO::DeadState) != 0; }));
  }

  Source* src = nullptr;
  DAXOComponentDefinition models[5] = {
      Model<Source>("Source", true, nullptr, g_sourceOutputs),
      TemplateModel<InputRecorder>("InputRecorder"),
      TemplateModel<Echo>("Echo"),
      Model<Reader>("Reader", true, g_readerInputs),
      // Leaves the template's rows out: Dynamic() declares them.
      Model<InputRecorder>("BareRecorder", true),
  };
};

TEST_F(Stream8, AFullFifoOverwritesItsOldestBytesAndTheCopyWraps) {
  auto* dst = Wire<InputRecorder>("InputRecorder", 8);
  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_TRUE(Feed(dst, {{1, 2, 3, 4, 5}}, 1));
  ASSERT_TRUE(Feed(dst, {{6, 7, 8, 9, 10}}, 2));
  const Seen first = dst->seen.At(0);
  EXPECT_EQ(first.offset, 0);
  EXPECT_EQ(first.run, (Bytes{1, 2, 3, 4, 5}));
  const Seen second = dst->seen.At(1);
  EXPECT_EQ(second.offset, 2) << "the two oldest bytes are dropped";
  EXPECT_EQ(second.run, (Bytes{3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(second.slots, (Bytes{9, 10, 3, 4, 5, 6, 7, 8})) << "3 bytes at slots 5-7, 2 at 0-1";
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(Stream8, BytesAreStampedFromTheSampleAndItsFrequency) {
  struct Case {
    bool flag;
    DAXOInt64 frequency;
    Times expected;
  };
  const Case cases[] = {
      {true, 1000000, {1000, 2000, 3000, 4000}},  // 1 kHz: 1000 µs a byte
      {false, 1000000, {1000, 1000, 1000, 1000}},
      {true, 0, {1000, 1000, 1000, 1000}},
      {true, 3000000, {1000, 1333, 1666, 1999}},  // 1e9 / 3e6 = 333, integer division
  };
  auto* dst = Wire<InputRecorder>("InputRecorder", 6);
  dst->consume = -1;
  ASSERT_TRUE(engine.StartDiagram());
  int calls = 0;
  for (const Case& c : cases) {
    ASSERT_TRUE(Feed(dst, {{1, 2, 3, 4}, 1000, c.flag, c.frequency}, ++calls));
    const Seen s = dst->seen.At(static_cast<size_t>(calls - 1));
    EXPECT_EQ(s.timestamps, c.expected) << "case " << calls << ", FIFO offset " << s.offset;
    EXPECT_EQ(s.timesOfIssue, Times(4, 1007)) << "case " << calls;
  }
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(Stream8, WhileTimeRunsBackwardsEachSampleEmptiesTheFifoFirst) {
  auto* dst = Wire<InputRecorder>("InputRecorder", 16);
  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_TRUE(Feed(dst, {{1, 2}}, 1));
  engine.SetClockSpeed(-1000);
  ASSERT_TRUE(Feed(dst, {{3, 4, 5}}, 2));
  ASSERT_TRUE(Feed(dst, {{6}}, 3));
  engine.SetClockSpeed(1000);
  ASSERT_TRUE(Feed(dst, {{7, 8}}, 4));
  EXPECT_EQ(dst->seen.At(1).run, (Bytes{3, 4, 5}));
  EXPECT_EQ(dst->seen.At(2).run, (Bytes{6}));
  EXPECT_EQ(dst->seen.At(3).run, (Bytes{6, 7, 8})) << "forwards again: bytes accumulate";
  engine.ShutdownDiagram();
}

TEST_F(Stream8, ADefinitionWithoutTheTemplateRowsGetsThemFromDynamic) {
  auto* dst = Wire<InputRecorder>("BareRecorder", 4);
  ASSERT_EQ(dst->NbInputs(), 1);
  EXPECT_STREQ(dst->Input(0).ShortName(), "iStream8");
  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_TRUE(Feed(dst, {{1, 2, 3, 4, 5, 6}}, 1));
  EXPECT_EQ(dst->seen.At(0).run, (Bytes{1, 2, 3, 4}))
      << "a sample longer than the FIFO: its first bytes";
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(Stream8, SendDataSplitsIntoChunksWithOneTimestampAndLengthZeroWritesNothing) {
  auto* echo = Wire<Echo>("Echo", 16);
  auto* reader = Make<Reader>("Reader", "reader");
  ASSERT_TRUE(engine.Connect("dst.oStream8", "reader.in"));
  echo->consume = -1;
  echo->sends = {{0, 777}, {25, 777}, {25, 0}, {1, 999}};
  ASSERT_TRUE(engine.StartDiagram());
  engine.SetClockSpeed(0);  // engine time holds: ts = 0 reads it exactly
  engine.JumpClock(5000000);
  ASSERT_TRUE(Feed(echo, {{1}}, 1));
  ASSERT_TRUE(reader->samples.WaitAtLeast(7));
  EXPECT_EQ(echo->answers, (std::vector<bool>{true, true, true, true}));
  engine.ShutdownDiagram();

  Bytes all(25);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<unsigned char>(i + 1);
  const Bytes a(all.begin(), all.begin() + 10), b(all.begin() + 10, all.begin() + 20),
      c(all.begin() + 20, all.end());
  const DAXOTimestamp now = 5000000;
  const std::vector<std::pair<Bytes, DAXOTimestamp>> expected = {
      {a, 777}, {b, 777}, {c, 777}, {a, now}, {b, now}, {c, now}, {Bytes{1}, 999}};
  EXPECT_EQ(reader->samples.All(), expected) << "length 0 wrote nothing before the first chunk";
  EXPECT_FALSE(ErrorReported());
}

struct Refusal {
  const char* name;
  const char* model;
  std::function<void(DAXOComponent&, Source&)> setUp;
  const char* pattern;
};

class Stream8Refusal : public Stream8, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Stream8Refusal, IsAComponentErrorThatEndsTheRun) {
  const Refusal& r = GetParam();
  DAXOComponent* dst = std::string(r.model) == "Echo"
                           ? static_cast<DAXOComponent*>(Wire<Echo>(r.model, 16))
                           : Wire<InputRecorder>(r.model, 16);
  r.setUp(*dst, *src);
  ASSERT_TRUE(engine.StartDiagram());
  src->release.Set();
  ExpectFailure(r.pattern);
  engine.ShutdownDiagram();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Stream8Refusal,
    ::testing::Values(
        Refusal{"InputFifoOfZero", "InputRecorder",
                [](DAXOComponent& c, Source& s) {
                  c.Set(*c.Property("pInputFIFOSize"), 0L);
                  s.Add({{1}});
                },
                "*dst: Error while initializing the FIFO"},
        Refusal{"OutputChunkOfZero", "Echo",
                [](DAXOComponent& c, Source& s) {
                  c.Set(*c.Property("pOutputFIFOsSize"), 0L);
                  s.Add({{1}});
                },
                "*dst: Property pOutputFIFOsSize must be between 1 and 2147483647 (it is 0)"},
        Refusal{"SampleLongerThanItsBuffer", "InputRecorder",
                [](DAXOComponent&, Source& s) {
                  s.Add({Bytes(64, 1), 1000, false, 0, 1});
                },
                "*dst: Stream8 sample of 65 bytes does not fit its buffer of 64 bytes"},
        Refusal{"NegativeSendLength", "Echo",
                [](DAXOComponent& c, Source& s) {
                  static_cast<Echo&>(c).sends = {{-1, 5}};
                  s.Add({{1}});
                },
                "*dst: SendData: -1 bytes at * cannot be sent"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velquor::test

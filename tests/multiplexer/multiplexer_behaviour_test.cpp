// Whole runs (and configurations) of the SortingMultiplexer for what the
// main suite leaves out: the entries lost at a shutdown, the inputs that
// "nb_inputs" makes, what input_0's connection decides, the grouping of the
// final flush, a stream that reopens after an end-of-file of value 0, and
// the units of the time-jump report.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "daxo_property.h"
#include "mux_fixture.h"

namespace velquor::test {
namespace {

constexpr long kNeverElapses = 3600L * kSecond;  // a flush delay no test outlives

// The multiplexer reads "vector_max_size" at the start of every Core: a
// read callback on it counts the multiplexer's steps.
std::atomic<Counter*> g_muxSteps{nullptr};
void CountStep(DAXOProperty&, void*) {
  if (Counter* steps = g_muxSteps.load()) steps->Raise();
}

enum class Kind { Pcap, Can, Any };

class MuxBehaviour : public Multiplexer {
 protected:
  // Nothing may call back into the test once it is over.
  void TearDown() override {
    engine.ShutdownDiagram();
    g_muxSteps = nullptr;
  }

  DAXOProperty* MuxProperty(const std::string& name) {
    return static_cast<DAXOProperty*>(engine.FindSymbol("mux." + name, DAXOSymbolKind::Property));
  }

  /// Short names of the multiplexer's inputs, in their order.
  std::vector<std::string> MuxInputs() {
    DAXOComponent* mux = engine.Component("mux");
    std::vector<std::string> names;
    for (int i = 0; i < mux->NbInputs(); ++i) names.emplace_back(mux->Input(i).ShortName());
    return names;
  }

  /// The entries "sink" has recorded.
  Counter& SinkEntries() { return static_cast<RecordingSink*>(engine.Component("sink"))->entries; }

  Counter muxSteps;
};

// --- entries still queued at a shutdown ------------------------------------------

struct LostCase {
  Kind kind;
  const char* source;
  const char* sink;
};

void PrintTo(const LostCase& c, std::ostream* os) {
  *os << c.source << " into " << c.sink;
}

class LostAtShutdown : public MuxBehaviour, public ::testing::WithParamInterface<LostCase> {};

// Two streams of ten entries, twelve kept back, a flush that never comes:
// the sink gets eight, the shutdown loses twelve and says so once, whatever
// queue the kind of data uses.
TEST_P(LostAtShutdown, ReportsTheQueuedCountOnce) {
  const LostCase& c = GetParam();
  Build(2, c.source, c.sink);
  SetMux("buffer_packet_count", 12);
  // Each step writes down to the twelve kept (samples of any other type go
  // out one by one, and the limit is not theirs).
  if (c.kind != Kind::Any) SetMux("vector_max_size", 1000);
  SetMux("flush_delay", kNeverElapses);
  for (int i = 0; i < 2; ++i) {
    const std::string src = "src" + std::to_string(i);
    switch (c.kind) {
      case Kind::Pcap:
        Source(i).packets = MakePackets(i, 10, 1000 + 10 * i, 20, 10, 60, 21u + i);
        Source(i).batches = Batches(10, 3, 31u + i);
        break;
      case Kind::Can: {
        auto& s = *static_cast<CanSource*>(engine.Component(src));
        for (int k = 0; k < 10; ++k) s.vectors.push_back({Frame(1, 1000 + 20 * k + 10 * i, 0)});
        break;
      }
      case Kind::Any: {
        auto& s = *static_cast<AnySource*>(engine.Component(src));
        for (int k = 0; k < 10; ++k) s.times.push_back(1000 + 20 * k + 10 * i);
        break;
      }
    }
  }
  Preload(2, 64);
  ASSERT_TRUE(engine.StartDiagram());
  Counter& received = SinkEntries();
  // The eighth entry is written only once all twenty have been read.
  ASSERT_TRUE(received.WaitAtLeast(8));
  engine.ShutdownDiagram();
  EXPECT_EQ(received.Value(), 8);
  // The engine names the reporting component first.
  const std::string lost = "component mux: 12 data were still in the buffer and got lost ";
  EXPECT_TRUE(reports->WaitFor([&](const ReportRecord& r) { return r.text == lost; },
                               std::chrono::seconds(10)));
  EXPECT_EQ(ReportCount(lost, DAXO::Warning), 1);
  EXPECT_FALSE(ReportHas("Flush Delay reached", DAXO::Info));
}

INSTANTIATE_TEST_SUITE_P(EveryQueue, LostAtShutdown,
                         ::testing::Values(LostCase{Kind::Pcap, "PcapSource", "PcapSink"},
                                           LostCase{Kind::Can, "CanSource", "CanSink"},
                                           LostCase{Kind::Any, "AnySource", "AnySink"}),
                         [](const auto& info) { return std::string(info.param.source); });

// --- configuration ------------------------------------------------------------------

TEST_F(MuxBehaviour, NbInputsMakesTheEndOfFileInputsThenTheDataInputs) {
  ASSERT_TRUE(engine.CreateComponent("SortingMultiplexer", "mux"));
  const std::vector<std::string> three = {"iEndOfFile_0", "iEndOfFile_1", "iEndOfFile_2",
                                          "input_0",      "input_1",      "input_2"};
  SetMux("nb_inputs", 3);
  EXPECT_EQ(MuxInputs(), three);
  SetMux("nb_inputs", 2);
  EXPECT_EQ(MuxInputs(),
            (std::vector<std::string>{"iEndOfFile_0", "iEndOfFile_1", "input_0", "input_1"}));
  SetMux("nb_inputs", 3);
  EXPECT_EQ(MuxInputs(), three);
}

// One multiplexer whose input_0 is connected in turn to each kind: the
// limits' mutability must follow every change, in both directions.
TEST_F(MuxBehaviour, Input0DecidesTheOutputTypeAndWhetherTheLimitsAreMutable) {
  struct Row {
    const char* sourceModel;
    DAXOTypeInfoValue type;
    const char* typeName;
    bool limitsMutable;
  };
  const Row rows[] = {
      {"CanSource", DAXO::CANUniFrame | DAXO::VectorFlag, "can", true},
      {"AnySource", DAXO::Float64 | DAXO::VectorFlag, "series", false},
      {"PcapSource", pcap_stream::KyTypeValue, pcap_stream::KyTypeName, true},
  };
  ASSERT_TRUE(engine.CreateComponent("SortingMultiplexer", "mux"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sourceModel);
    ASSERT_TRUE(engine.CreateComponent(row.sourceModel, row.sourceModel));
    ASSERT_TRUE(engine.Connect(std::string(row.sourceModel) + ".output", "mux.input_0"));
    DAXOOutput& output = engine.Component("mux")->Output("output");
    EXPECT_EQ(output.Type().value, row.type);
    const char* name = output.TypeName();
    EXPECT_STREQ(name != nullptr ? name : "", row.typeName);
    EXPECT_EQ(MuxProperty("vector_max_size")->IsMutable(), row.limitsMutable);
    EXPECT_EQ(MuxProperty("vector_max_latency")->IsMutable(), row.limitsMutable);
  }
}

// --- the final flush ------------------------------------------------------------------

// Everything stays queued until the flush; packets 600 µs apart in two
// interleaved streams: with 1000 µs per sample, every sample holds a pair.
TEST_F(MuxBehaviour, TheFlushCutsSamplesAtTheLatency) {
  Build(2, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 1000);
  SetMux("vector_max_size", 10);
  SetMux("vector_max_latency", 1000);
  std::vector<Packet> all;
  for (int i = 0; i < 2; ++i) {
    Source(i).packets = MakePackets(i, 5, 1000000 + 600 * i, 1200, 20, 80, 41u + i);
    Source(i).batches = Batches(5, 2, 51u + i);
    all.insert(all.end(), Source(i).packets.begin(), Source(i).packets.end());
  }
  Preload(2, 16);
  Run();
  ExpectSortedAndComplete(Sink().packets, all);
  EXPECT_EQ(Sink().sampleSizes, (std::vector<int>(5, 2)));
  EXPECT_EQ(Sink().sampleSpans, (std::vector<std::int64_t>(5, 600)));
  EXPECT_TRUE(ReportHas("Flush Delay reached", DAXO::Info));
}

// --- end of file ------------------------------------------------------------------

// An end-of-file of value 0 leaves its stream open: no flush however many
// steps pass, until a later end-of-file of value 1 on that stream.
TEST_F(MuxBehaviour, EndOfFileZeroKeepsTheStreamOpenUntilALaterOne) {
  ASSERT_TRUE(engine.CreateComponent("SortingMultiplexer", "mux"));
  SetMux("flush_delay", 1000);
  SetMux("buffer_packet_count", 3);
  ASSERT_TRUE(engine.CreateComponent("CanSource", "src"));
  ASSERT_TRUE(engine.Connect("src.output", "mux.input_0"));
  ASSERT_TRUE(engine.Connect("src.end_of_file", "mux.iEndOfFile_0"));
  ASSERT_TRUE(engine.CreateComponent("CanSink", "sink"));
  ASSERT_TRUE(engine.Connect("mux.output", "sink.input"));
  ASSERT_TRUE(engine.Connect("mux.end_of_file", "sink.eof"));
  // Frames 0-5, an end of file of value 0, then (once released) 6-9.
  auto& src = *static_cast<CanSource*>(engine.Component("src"));
  for (std::uint8_t k = 0; k < 10; ++k) src.vectors.push_back({Frame(1, 100 + 100 * k, k)});
  src.reopenAt = 6;
  auto& sink = *static_cast<CanSink*>(engine.Component("sink"));
  g_muxSteps = &muxSteps;
  MuxProperty("vector_max_size")->SetGetCallback(&CountStep);

  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_EQ(src.paused.Wait(20 * kSecond), 0);
  ASSERT_TRUE(sink.entries.WaitAtLeast(3)) << "six read, three kept";
  // Thirty more steps: the end-of-file read, then idle steps that rest
  // 100 µs each, well past the 1 ms flush delay.
  EXPECT_TRUE(muxSteps.WaitAtLeast(muxSteps.Value() + 30)) << "the multiplexer stopped stepping";
  EXPECT_FALSE(ReportHas("Flush Delay reached", DAXO::Info));
  EXPECT_EQ(sink.entries.Value(), 3);
  {
    std::lock_guard<std::mutex> guard(sink.lock);
    EXPECT_FALSE(sink.eofSeen);
  }

  src.release.Set();
  ASSERT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  EXPECT_TRUE(ReportHas("Flush Delay reached", DAXO::Info));
  ASSERT_EQ(sink.frames.size(), 10u);
  for (std::size_t k = 0; k < 10; ++k) EXPECT_EQ(sink.frames[k].data[0], k) << "frame " << k;
  EXPECT_TRUE(sink.eofSeen);
  EXPECT_EQ(sink.eofValue, 1);
  EXPECT_EQ(sink.eofTimestamp, 1000);
}

// --- the units of the time-jump report -----------------------------------------------

struct JumpCase {
  std::int64_t before;  // µs
  std::int64_t after;   // µs, earlier than `before`
  const char* timestamp;
  const char* jump;
};

void PrintTo(const JumpCase& c, std::ostream* os) {
  *os << c.before << " then " << c.after;
}

class TimeJumpUnits : public MuxBehaviour, public ::testing::WithParamInterface<JumpCase> {};

// One stream, nothing kept back: the second packet goes out after the
// first and is reported with its time and the step, each in its unit.
TEST_P(TimeJumpUnits, AreChosenByMagnitude) {
  const JumpCase& c = GetParam();
  Build(1, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 0);
  std::vector<Packet> packets = MakePackets(0, 2, c.before, 0, 10, 10, 1);
  packets[1].time = c.after;
  Source(0).packets = packets;
  Source(0).batches = {1, 1};
  Run();
  EXPECT_EQ(Sink().packets.size(), 2u) << "written all the same";
  EXPECT_TRUE(
      ReportHas(std::string("The signal with the timestamp ") + c.timestamp + " has wrong order!",
                DAXO::Error));
  EXPECT_TRUE(ReportHas(std::string("Wrong order count: 1 (maximum time-jump: ") + c.jump +
                            "). Please, adjust buffer size!",
                        DAXO::Error))
      << "expected " << c.jump;
}

INSTANTIATE_TEST_SUITE_P(Boundaries, TimeJumpUnits,
                         ::testing::Values(JumpCase{5000, 4000, "4 ms", "-1000 us"},
                                           JumpCase{2002, 1001, "1.001 ms", "-1.001 ms"},
                                           JumpCase{2001000, 1999500, "1.9995 s", "-1.5 ms"},
                                           JumpCase{2000000, 1000000, "1000 ms", "-1000 ms"},
                                           JumpCase{2000002, 1000001, "1.000001 s",
                                                    "-1.000001 s"}));

}  // namespace
}  // namespace velquor::test

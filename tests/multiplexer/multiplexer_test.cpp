// Whole runs of the SortingMultiplexer package in the real engine, fed by
// test sources and read by a test sink: ordering, completeness, limits,
// end of file, the report texts, and the configuration failures.
#include <map>
#include <set>

#include "mux_fixture.h"

namespace velquor::test {

namespace {

TEST_F(Multiplexer, TwoInterleavedPcapStreamsComeOutInTimeOrderWithinTheLimits) {
  Build(2, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 100);
  SetMux("vector_max_size", 10);
  SetMux("vector_max_latency", 1000);
  std::vector<Packet> all;
  for (int i = 0; i < 2; ++i) {
    Source(i).packets = MakePackets(i, 1500, 1000 + 10 * i, 20, 40, 1500, 11u + i);
    Source(i).batches = Batches(1500, 30, 5u + i);
    Source(i).eofValue = 7 - 4 * i;  // 7, then 3
    all.insert(all.end(), Source(i).packets.begin(), Source(i).packets.end());
  }
  Preload(2, 128);
  Run();
  ExpectSortedAndComplete(Sink().packets, all);
  for (size_t s = 0; s < Sink().sampleSizes.size(); ++s) {
    EXPECT_LE(Sink().sampleSizes[s], 10);
    EXPECT_LE(Sink().sampleSpans[s], 1000);
    EXPECT_TRUE(Sink().sampleTimestamps[s]) << "a sample carries its first packet's time";
  }
  // Stream 1 ends last (its last packet is 10 µs later): its value wins.
  EXPECT_TRUE(Sink().eofSeen);
  EXPECT_EQ(Sink().eofValue, 3);
  EXPECT_EQ(Sink().eofTimestamp, Source(1).packets.back().time);
  EXPECT_TRUE(ReportHas("Flush Delay reached", DAXO::Info));
  EXPECT_FALSE(ReportHas("wrong order", DAXO::Error));
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kStressPackets = 5000;  // the same run, smaller, under the sanitizers
#else
constexpr int kStressPackets = 50000;
#endif

TEST_F(Multiplexer, StressEightStreamsRandomSizesAndPacing) {
  Build(8, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 2000);
  SetMux("vector_max_size", 256);
  std::vector<Packet> all;
  for (int i = 0; i < 8; ++i) {
    Source(i).packets = MakePackets(i, kStressPackets, 1000 + 7 * i, 50, 1, 1500, 300u + i);
    Source(i).batches = Batches(kStressPackets, 100, 400u + i);
    Source(i).pace = (i % 2) == 0;
    all.insert(all.end(), Source(i).packets.begin(), Source(i).packets.end());
  }
  Run();
  const std::vector<Packet>& out = Sink().packets;
  ASSERT_EQ(out.size(), all.size()) << "packets in == packets out";
  // Every backwards step the sink sees is one the multiplexer counted.
  long descents = 0;
  for (size_t i = 1; i < out.size(); ++i) descents += out[i].time < out[i - 1].time ? 1 : 0;
  EXPECT_EQ(descents, ReportCount("has wrong order!"));
  EXPECT_TRUE(SamePackets(out, all));
}

TEST_F(Multiplexer, DifferentLinkTypesStopTheComponent) {
  Build(2, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 0);
  for (int i = 0; i < 2; ++i) {
    Source(i).packets = MakePackets(i, 5, 100 * i, 10, 10, 10, 3);
    Source(i).batches = {5};
    Source(i).linkType = 1 + 100 * i;
  }
  ASSERT_TRUE(engine.StartDiagram());
  EXPECT_TRUE(reports->WaitFor(
      [](const ReportRecord& r) {
        return r.text.find("Cannot multiplex different link_types!") != std::string::npos;
      },
      std::chrono::seconds(10)));
  engine.ShutdownDiagram();
  EXPECT_NE(engine.ModuleState("mux") & DAXO::ErrorState, 0);
}

TEST_F(Multiplexer, CanFramesAreOrderedAndEqualTimesComeOutNewestFirst) {
  Build(2, "CanSource", "CanSink");
  SetMux("buffer_packet_count", 4);
  SetMux("vector_max_size", 1000);  // an output element holds 256 frames at most
  auto& a = *static_cast<CanSource*>(engine.Component("src0"));
  auto& b = *static_cast<CanSource*>(engine.Component("src1"));
  a.vectors = {{Frame(1, 100, 1), Frame(1, 300, 2)}, {Frame(1, 500, 3)}};
  // Three frames of one vector share a time.
  b.vectors = {{Frame(2, 200, 10), Frame(2, 200, 11), Frame(2, 200, 12)}};
  for (int i = 0; i < 600; ++i) b.vectors.push_back({Frame(3, 1000 + i, 20)});
  Preload(2, 1024);
  Run();
  auto& sink = *static_cast<CanSink*>(engine.Component("sink"));
  ASSERT_EQ(sink.frames.size(), 606u);
  std::vector<int> tags;
  for (size_t i = 0; i < 6; ++i) tags.push_back(sink.frames[i].data[0]);
  EXPECT_EQ(tags, (std::vector<int>{1, 12, 11, 10, 2, 3}));
  for (size_t i = 1; i < sink.frames.size(); ++i) {
    ASSERT_LE(sink.frames[i - 1].ts, sink.frames[i].ts);
  }
  for (int n : sink.sampleSizes) EXPECT_LE(n, 256);
}

TEST_F(Multiplexer, SamplesOfAnyTypeAreRestoredWithTheirTimestampsInOrder) {
  Build(2, "AnySource", "AnySink");
  SetMux("buffer_packet_count", 2);
  auto& a = *static_cast<AnySource*>(engine.Component("src0"));
  auto& b = *static_cast<AnySource*>(engine.Component("src1"));
  a.tag = 100;
  b.tag = 200;
  for (int i = 0; i < 50; ++i) {
    a.times.push_back(1000 + 20 * i);
    b.times.push_back(1010 + 20 * i);
  }
  Preload(2, 64);
  Run();
  auto& sink = *static_cast<AnySink*>(engine.Component("sink"));
  ASSERT_EQ(sink.samples.size(), 100u);
  std::map<DAXOTimestamp, std::vector<double>> expected;
  for (int i = 0; i < 50; ++i) {
    for (auto [src, t0] : {std::pair{&a, 1000}, std::pair{&b, 1010}}) {
      std::vector<double> v;
      for (int k = 0; k < 3 + i % 2; ++k) v.push_back(src->tag + i + k / 10.0);
      expected[t0 + 20 * i] = v;
    }
  }
  size_t n = 0;
  for (const auto& [t, v] : expected) {
    EXPECT_EQ(sink.timestamps[n], t) << "sample " << n;
    EXPECT_EQ(sink.samples[n], v) << "sample " << n;
    ++n;
  }
}

TEST_F(Multiplexer, ConfigurationFailuresGiveTheirMessages) {
  ASSERT_TRUE(engine.CreateComponent("SortingMultiplexer", "mux"));
  SetMux("nb_inputs", 0);
  EXPECT_TRUE(ReportHas("Number of inputs has to be >= 1", DAXO::Error));
  SetMux("nb_inputs", 2);
  ASSERT_TRUE(engine.CreateComponent("PcapSource", "src0"));
  ASSERT_TRUE(engine.Connect("src0.output", "mux.input_0"));
  ASSERT_TRUE(engine.Connect("src0.output", "mux.input_1"));
  ASSERT_TRUE(engine.Connect("src0.end_of_file", "mux.iEndOfFile_0"));
  // iEndOfFile_1 is not connected.
  reports->Clear();
  ASSERT_TRUE(engine.StartComponent("mux"));  // Birth runs on its thread
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead) << "the failed start ends it";
  EXPECT_TRUE(ReportHas("All inputs have to be connected and of same type!", DAXO::Error));

  ASSERT_TRUE(engine.Connect("src0.end_of_file", "mux.iEndOfFile_1"));
  auto failsWith = [&](const std::string& text) {
    reports->Clear();
    EXPECT_TRUE(engine.StartComponent("mux"));
    EXPECT_TRUE(reports->WaitFor(
        [&](const ReportRecord& r) {
          return r.level == DAXO::Error && r.text.find(text) != std::string::npos;
        },
        std::chrono::seconds(10)))
        << text;
    EXPECT_TRUE(engine.ShutdownComponent("mux")) << text;
  };
  SetMux("buffer_packet_count", -1);
  failsWith("buffer_packet_count must be >= 0");
  SetMux("buffer_packet_count", 0);
  SetMux("vector_max_size", 0);
  failsWith("vector_max_size must be >= 1");
  SetMux("vector_max_size", 1);
  // Data inputs of different types.
  ASSERT_TRUE(engine.CreateComponent("CanSource", "can"));
  ASSERT_TRUE(engine.Connect("can.output", "mux.input_1"));
  failsWith("All inputs have to be connected and of same type!");
  ASSERT_TRUE(engine.Connect("src0.output", "mux.input_1"));
  SetMux("vector_max_latency", 999);
  failsWith("vector_max_latency must be >= 1 ms");
}

// --- exact order ----------------------------------------------------------------------

// Packets at the given times, one per sample.
std::vector<Packet> PacketsAt(int stream, std::initializer_list<std::int64_t> times) {
  std::vector<Packet> packets = MakePackets(stream, static_cast<int>(times.size()), 0, 1, 8, 8, 1);
  size_t k = 0;
  for (std::int64_t t : times) packets[k++].time = t;
  return packets;
}

class HeldStream : public Multiplexer, public testing::WithParamInterface<bool> {};

// Stream 0 sends 100 µs, then holds 200 µs back until the test releases it;
// stream 1 runs ahead. The live rule skips the held stream and writes past
// it; the exact rule waits and the output stays in order.
TEST_P(HeldStream, TheLiveRuleWritesPastAHeldStreamTheExactRuleWaitsForIt) {
  const bool exact = GetParam();
  Build(2, "PcapSource", "PcapSink");
  SetMux("exact_order", exact);
  SetMux("buffer_packet_count", 0);
  SetMux("vector_max_size", 100);
  Source(0).packets = PacketsAt(0, {100, 200});
  Source(0).batches = {1, 1};
  Source(0).holdAt = 1;
  Source(1).packets = PacketsAt(1, {150, 250, 350, 450});
  Source(1).batches = {1, 1, 1, 1};
  Source(1).holdAt = 4;  // every packet out, its end of file held back
  std::vector<Packet> all = Source(0).packets;
  all.insert(all.end(), Source(1).packets.begin(), Source(1).packets.end());
  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_EQ(Source(0).holding.Wait(20 * kSecond), 0);
  ASSERT_EQ(Source(1).holding.Wait(20 * kSecond), 0);
  if (!exact) {
    EXPECT_TRUE(Sink().WaitUntil([&] { return Sink().packets.size() >= 4; }))
        << "the live rule does not wait for the held stream";
  } else {
    // 100 may go (stream 1 stands at 150), nothing after it may.
    ASSERT_TRUE(Sink().WaitUntil([&] { return !Sink().packets.empty(); }));
    std::lock_guard<std::mutex> guard(Sink().lock);
    for (const Packet& p : Sink().packets) EXPECT_LT(p.time, 200) << "written past the held stream";
  }
  Source(0).release.Set();
  Source(1).release.Set();
  ASSERT_EQ(engine.RunDiagram(60 * kSecond), RunEnd::AllDead);
  if (exact) {
    ExpectSortedAndComplete(Sink().packets, all);
    EXPECT_FALSE(ReportHas("has wrong order!", DAXO::Error));
  } else {
    // Whichever packet lagged (200, or 100 when stream 1 came first), it
    // was written after later ones, counted and reported.
    EXPECT_FALSE(std::is_sorted(Sink().packets.begin(), Sink().packets.end(),
                                [](const Packet& a, const Packet& b) { return a.time < b.time; }));
    EXPECT_TRUE(ReportHas("has wrong order!", DAXO::Error));
  }
}

INSTANTIATE_TEST_SUITE_P(LiveAndExact, HeldStream, testing::Bool(),
                         [](const auto& info) { return info.param ? "Exact" : "Live"; });

// Four paced streams whose times are mostly equal across streams, read
// three times with other pacing (other thread timings): every run gives
// the same packets, by time, ties in input order, each input's own order
// kept. The multiplexer is started again for each run.
TEST_F(Multiplexer, ExactMergesAreIdenticalOnEveryRunWithTiesInInputOrder) {
  constexpr int kStreams = 4;
  Build(kStreams, "PcapSource", "PcapSink");
  SetMux("exact_order", true);
  SetMux("buffer_packet_count", 0);
  SetMux("vector_max_size", 7);
  std::vector<std::pair<std::int64_t, int>> expected;  // (time, stream), then input order
  std::vector<Packet> byStream[kStreams];
  for (int i = 0; i < kStreams; ++i) {
    // Streams 0-2 share every time (two packets per time); stream 3 is offset.
    std::vector<Packet> packets = MakePackets(i, 600, i == 3 ? 5 : 0, 10, 1, 200, 50u + i);
    for (size_t k = 0; k < packets.size(); ++k) {
      if (i < 3) packets[k].time = 1000 + 10 * static_cast<std::int64_t>(k / 2);
    }
    Source(i).packets = byStream[i] = packets;
    Source(i).batches = Batches(600, 50, 60u + i);
    Source(i).pace = true;
  }
  std::vector<Packet> want;
  for (int i = 0; i < kStreams; ++i)
    want.insert(want.end(), byStream[i].begin(), byStream[i].end());
  // Stable: among equal times, the stream's own order, streams in order.
  std::stable_sort(want.begin(), want.end(),
                   [](const Packet& a, const Packet& b) { return a.time < b.time; });
  for (unsigned run = 0; run < 3; ++run) {
    SCOPED_TRACE(testing::Message() << "run " << run);
    for (int i = 0; i < kStreams; ++i) Source(i).random.seed(1000 * run + static_cast<unsigned>(i));
    Run();
    ASSERT_EQ(Sink().packets.size(), want.size());
    EXPECT_TRUE(Sink().packets == want) << "not the one exact order";
    EXPECT_FALSE(ReportHas("has wrong order!", DAXO::Error));
  }
}

// CAN frames and samples of any type: equal times come out in input order
// (and, within an input, in arrival order) instead of newest first.
TEST_F(Multiplexer, ExactTiesFollowTheInputsForCanFramesAndOtherSamples) {
  {
    Build(2, "CanSource", "CanSink");
    SetMux("exact_order", true);
    SetMux("buffer_packet_count", 0);
    SetMux("vector_max_size", 256);
    auto& a = *static_cast<CanSource*>(engine.Component("src0"));
    auto& b = *static_cast<CanSource*>(engine.Component("src1"));
    a.vectors = {{Frame(1, 100, 1), Frame(1, 200, 2), Frame(1, 200, 3)}, {Frame(1, 300, 4)}};
    b.vectors = {{Frame(2, 100, 10), Frame(2, 200, 11)}, {Frame(2, 200, 12), Frame(2, 300, 13)}};
    Run();
    auto& sink = *static_cast<CanSink*>(engine.Component("sink"));
    std::vector<int> tags;
    for (const auto& f : sink.frames) tags.push_back(f.data[0]);
    EXPECT_EQ(tags, (std::vector<int>{1, 10, 2, 3, 11, 12, 4, 13}));
  }
  ASSERT_TRUE(engine.DestroyComponent("mux"));
  ASSERT_TRUE(engine.DestroyComponent("sink"));
  for (const char* src : {"src0", "src1"}) ASSERT_TRUE(engine.DestroyComponent(src));
  Build(2, "AnySource", "AnySink");
  SetMux("exact_order", true);
  SetMux("buffer_packet_count", 0);
  auto& a = *static_cast<AnySource*>(engine.Component("src0"));
  auto& b = *static_cast<AnySource*>(engine.Component("src1"));
  a.tag = 100;
  b.tag = 200;
  a.times = {10, 20, 20, 30};
  b.times = {10, 20, 30, 30};
  Run();
  auto& sink = *static_cast<AnySink*>(engine.Component("sink"));
  std::vector<double> firsts;
  for (const auto& v : sink.samples) firsts.push_back(v.at(0));
  // A sample's first value is its source's tag plus its index.
  EXPECT_EQ(firsts, (std::vector<double>{100, 200, 101, 102, 201, 103, 202, 203}));
}

// One multiplexer run again and again, rewired each time to new sources and
// a new sink of another kind of data, through every change of kind: each
// run's output is sized for what it carries (a frame written into an
// element sized for a Float64 vector would be corrupted, or overrun it).
TEST_F(Multiplexer, RestartsCarryAnyKindAfterAnyOther) {
  ASSERT_TRUE(engine.CreateComponent("SortingMultiplexer", "mux"));
  SetMux("nb_inputs", 2);
  SetMux("flush_delay", 1000);
  SetMux("buffer_packet_count", 2);
  SetMux("vector_max_size", 8);
  SetMux("exact_order", true);  // the same order whatever the threads do
  engine.StartClock();          // components are started one by one
  int run = 0;
  // Every change of kind: Any->Can->Pcap->Can->Any->Pcap->Any.
  for (const std::string kind : {"Any", "Can", "Pcap", "Can", "Any", "Pcap", "Any"}) {
    SCOPED_TRACE(kind);
    const std::string sinkName = "sink" + std::to_string(run);
    std::vector<std::string> names = {sinkName, "mux"};
    std::vector<Packet> packets;
    for (int i = 0; i < 2; ++i) {
      const std::string src = "src" + std::to_string(run) + "_" + std::to_string(i);
      ASSERT_TRUE(engine.CreateComponent(kind + "Source", src));
      DAXOComponent* c = engine.Component(src);
      if (kind == "Any") {
        auto& any = *static_cast<AnySource*>(c);
        any.tag = 10 * i;
        for (int t = 0; t < 30; ++t) any.times.push_back(100 + 10 * t + i);
      } else if (kind == "Can") {
        auto& can = *static_cast<CanSource*>(c);
        for (int t = 0; t < 30; ++t) {
          can.vectors.push_back({Frame(7, 100 + 10 * t + i, static_cast<std::uint8_t>(t))});
        }
      } else {
        auto& pcap = *dynamic_cast<PcapSource*>(c);
        pcap.packets = MakePackets(i, 30, 100 + i, 10, 60, 1400, 9u + i);
        pcap.batches = Batches(30, 4, 3u + i);
        packets.insert(packets.end(), pcap.packets.begin(), pcap.packets.end());
      }
      ASSERT_TRUE(engine.Connect(src + ".output", "mux.input_" + std::to_string(i)));
      ASSERT_TRUE(engine.Connect(src + ".end_of_file", "mux.iEndOfFile_" + std::to_string(i)));
      names.push_back(src);
    }
    // The output takes its type from the sources: the sink comes last.
    ASSERT_TRUE(engine.CreateComponent(kind + "Sink", sinkName));
    ASSERT_TRUE(engine.Connect("mux.output", sinkName + ".input"));
    ASSERT_TRUE(engine.Connect("mux.end_of_file", sinkName + ".eof"));
    for (const std::string& c : names) ASSERT_TRUE(engine.StartComponent(c)) << c;
    ASSERT_EQ(engine.RunDiagram(60 * kSecond), RunEnd::AllDead);
    EXPECT_EQ(engine.ModuleState("mux") & DAXO::ErrorState, 0);
    DAXOComponent* sink = engine.Component(sinkName);
    if (kind == "Any") {
      const auto& samples = static_cast<AnySink*>(sink)->samples;
      ASSERT_EQ(samples.size(), 60u);
      for (size_t n = 0; n < 60; ++n) {
        const double t = static_cast<double>(n / 2);
        ASSERT_EQ(samples[n].at(0), 10 * static_cast<double>(n % 2) + t) << "sample " << n;
        ASSERT_EQ(samples[n].size(), 3u + (n / 2) % 2);
      }
    } else if (kind == "Can") {
      const auto& frames = static_cast<CanSink*>(sink)->frames;
      ASSERT_EQ(frames.size(), 60u);
      for (size_t n = 0; n < 60; ++n) {
        ASSERT_EQ(frames[n].ts, static_cast<std::int64_t>(100 + 10 * (n / 2) + n % 2));
        ASSERT_EQ(frames[n].id, 7u);
        ASSERT_EQ(frames[n].data[0], n / 2);
      }
    } else {
      ExpectSortedAndComplete(static_cast<PcapSink*>(sink)->packets, packets);
    }
    // The next run's sink and sources are new; these go.
    for (const std::string& c : names) {
      if (c != "mux") {
        ASSERT_TRUE(engine.DestroyComponent(c)) << c;
      }
    }
    ++run;
  }
}

// A stream taken away while the exact rule waits for it ends the run with
// an error that names it, once.
TEST_F(Multiplexer, ExactRuleFailsOnceWhenTheAwaitedStreamIsDisconnected) {
  Build(2, "PcapSource", "PcapSink");
  SetMux("exact_order", true);
  SetMux("buffer_packet_count", 0);
  Source(0).packets = PacketsAt(0, {100, 200});
  Source(0).batches = {1, 1};
  Source(0).holdAt = 1;
  Source(1).packets = PacketsAt(1, {150, 250});
  Source(1).batches = {1, 1};
  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_EQ(Source(0).holding.Wait(20 * kSecond), 0);
  ASSERT_TRUE(Sink().WaitUntil([&] { return !Sink().packets.empty(); }));
  ASSERT_TRUE(engine.Disconnect("mux.input_0"));
  const std::string text = "mux.input_0 was disconnected while the merge waited for it";
  EXPECT_TRUE(reports->WaitFor(
      [&](const ReportRecord& r) { return r.text.find(text) != std::string::npos; },
      std::chrono::seconds(20)));
  Source(0).release.Set();
  engine.ShutdownDiagram();
  EXPECT_NE(engine.ModuleState("mux") & DAXO::ErrorState, 0);
  EXPECT_EQ(ReportCount(text), 1) << "the failed read ends the run; no step runs after it";
}

}  // namespace
}  // namespace velquor::test

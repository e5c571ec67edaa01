// Whole runs of the SortingMultiplexer package in the real engine, fed by
// test sources and read by a test sink: ordering, completeness, limits,
// end of file, the report texts, and the configuration failures.
#include <map>
#include <set>

#include "mux_fixture.h"

namespace velquor::test {

const DAXOTypeFilterBase kPcapFilter{DAXO::DynamicStructure, 0x40000, DAXO::TypeMask,
                                     "DAXOpcap_data_t", nullptr};

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
  EXPECT_TRUE(Reported("Flush Delay reached", DAXO::Info));
  EXPECT_FALSE(Reported("wrong order", DAXO::Error));
}

TEST_F(Multiplexer, EightStreamsWithRandomBatchesAndPacingLoseNothing) {
  Build(8, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 400);
  SetMux("vector_max_size", 64);
  std::vector<Packet> all;
  for (int i = 0; i < 8; ++i) {
    Source(i).packets = MakePackets(i, 800, 3 * i, 25, 1, 300, 100u + i);
    Source(i).batches = Batches(800, 40, 200u + i);
    Source(i).pace = true;
    all.insert(all.end(), Source(i).packets.begin(), Source(i).packets.end());
  }
  Run();
  ASSERT_EQ(Sink().packets.size(), all.size());
  std::vector<Packet> out = Sink().packets;
  std::sort(out.begin(), out.end());
  std::sort(all.begin(), all.end());
  EXPECT_TRUE(out == all);
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
  long reported = 0;
  for (const ReportRecord& r : reports->Reports()) {
    reported += r.text.find("has wrong order!") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(descents, reported);
  std::vector<Packet> sorted = out;
  std::sort(sorted.begin(), sorted.end());
  std::sort(all.begin(), all.end());
  EXPECT_TRUE(sorted == all);
}

TEST_F(Multiplexer, OutOfOrderInputIsWrittenCountedAndReported) {
  Build(1, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 0);
  // One packet 1.5 ms older than the one before it, in its own sample.
  std::vector<Packet> packets = MakePackets(0, 3, 2000000, 1000, 10, 10, 1);
  packets[2].time = packets[1].time - 1500;
  Source(0).packets = packets;
  Source(0).batches = {1, 1, 1};
  Run();
  EXPECT_EQ(Sink().packets.size(), 3u);
  EXPECT_TRUE(Reported("The signal with the timestamp 1.9995 s has wrong order!", DAXO::Error));
  EXPECT_TRUE(
      Reported("Wrong order count: 1 (maximum time-jump: -1.5 ms). Please, adjust buffer "
               "size!",
               DAXO::Error));
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
  EXPECT_TRUE(Reported("Number of inputs has to be >= 1", DAXO::Error));
  SetMux("nb_inputs", 2);
  ASSERT_TRUE(engine.CreateComponent("PcapSource", "src0"));
  ASSERT_TRUE(engine.Connect("src0.output", "mux.input_0"));
  ASSERT_TRUE(engine.Connect("src0.output", "mux.input_1"));
  ASSERT_TRUE(engine.Connect("src0.end_of_file", "mux.iEndOfFile_0"));
  // iEndOfFile_1 is not connected.
  reports->Clear();
  ASSERT_TRUE(engine.StartComponent("mux"));  // Birth runs on its thread
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead) << "the failed start ends it";
  EXPECT_TRUE(Reported("All inputs have to be connected and of same type!", DAXO::Error));

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
  reports->Clear();
  ASSERT_TRUE(engine.StartComponent("mux"));
  EXPECT_TRUE(reports->WaitFor(
      [](const ReportRecord& r) {
        return r.text.find("vector_max_latency must be >= 1 ms") != std::string::npos;
      },
      std::chrono::seconds(10)));
  engine.ShutdownDiagram();
}

TEST_F(Multiplexer, FormatTimestampPicksTheUnitByMagnitude) {
  // Through the reports: a 1000 µs backwards step is written in µs.
  Build(1, "PcapSource", "PcapSink");
  SetMux("buffer_packet_count", 0);
  std::vector<Packet> packets = MakePackets(0, 2, 5000, 1000, 10, 10, 1);
  packets[1].time = 4000;
  Source(0).packets = packets;
  Source(0).batches = {1, 1};
  Run();
  EXPECT_TRUE(Reported("The signal with the timestamp 4 ms has wrong order!", DAXO::Error));
  EXPECT_TRUE(Reported("(maximum time-jump: -1000 us)", DAXO::Error));
}

}  // namespace
}  // namespace velquor::test

// Packets per second through the SortingMultiplexer in process: the real
// package loaded by the engine, fed by in-memory sources (packets prepared
// beforehand) and read by an in-memory sink. One iteration is one whole
// run: start, merge, flush, every component ended. `exact` 1 runs the
// multiplexer with its exact reading rule (it waits for the stream furthest
// behind), 0 with the live rule.
//
//   cmake -B build/bench -DCMAKE_BUILD_TYPE=Release -DVELQUOR_BUILD_BENCHMARKS=ON
//   cmake --build build/bench --target mux_bench && build/bench/bench/mux_bench
#include <benchmark/benchmark.h>

#include "mux_test_support.h"

namespace velquor::test {

namespace {

DAXOOutputDefinition g_outputs[] = {
    {"output", 0, DAXOTypeInfo(pcap_stream::KyTypeValue, pcap_stream::KyTypeName),
     pcap_stream::KyDataSize, 16, 1, 0},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 4, 1, 0},
    {},
};
DAXOInputDefinition g_inputs[] = {
    {"input", 0, &pcap_stream::KyStreamFilter, DAXO::NeverSkippingReader, 1},
    {"eof", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};

/// A sink that only counts (recording every byte would measure the sink).
class CountingSink : public RecordingSink {
 public:
  CountingSink(const char* name, DAXOComponentDefinition& d) : RecordingSink(name, d) {}
  // Counts without raising the per-entry counter: nobody waits on it here.
  int Record(DAXOIOElt& e) override {
    packets += static_cast<const DAXOpcap_data_t*>(e.Data())->nb_packets;
    return 0;
  }
  void Forget() override { packets = 0; }
  long packets = 0;
};

template <class T>
DAXOComponent* Make(const char* name, DAXOComponentDefinition& d) {
  return new T(name, d);
}

void MuxThroughput(benchmark::State& state) {
  const int streams = static_cast<int>(state.range(0));
  const int size = static_cast<int>(state.range(1));
  const bool exact = state.range(2) != 0;
  const int perStream = 200000 / streams;
  std::vector<std::vector<Packet>> packets;
  for (int i = 0; i < streams; ++i) {
    packets.push_back(MakePackets(i, perStream, 1000000 + i, 10, size, size, 1u + i));
  }
  DAXOComponentDefinition source{"PcapSource", "1.0", &Make<PcapSource>};
  source.kind = DAXO::Threaded;
  source.threaded = true;
  source.nbOutputs = DAXOComponentDefinition::CountUntilZeroRow;
  source.outputs = g_outputs;
  DAXOComponentDefinition sink{"CountingSink", "1.0", &Make<CountingSink>};
  sink.kind = DAXO::Threaded;
  sink.threaded = true;
  sink.nbInputs = DAXOComponentDefinition::CountUntilZeroRow;
  sink.inputs = g_inputs;

  long total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto owned = std::make_unique<Engine>(EngineOptions{false, false});
    Engine& engine = *owned;
    auto binding = std::make_unique<KernelBinding>(engine);
    engine.LoadPackage(VELQUOR_SORTING_MULTIPLEXER_PCK);
    engine.AddModel(source);
    engine.AddModel(sink);
    engine.CreateComponent("SortingMultiplexer", "mux");
    DAXOComponent* mux = engine.Component("mux");
    auto set = [&](const char* p, long v) {
      mux->Set(*static_cast<DAXOProperty*>(
                   engine.FindSymbol(std::string("mux.") + p, DAXOSymbolKind::Property)),
               v);
    };
    set("nb_inputs", streams);
    set("buffer_packet_count", 10000);
    set("vector_max_size", 1024);
    set("vector_max_latency", 3600000000L);
    set("flush_delay", 1000);
    mux->Set(
        *static_cast<DAXOProperty*>(engine.FindSymbol("mux.exact_order", DAXOSymbolKind::Property)),
        exact);
    for (int i = 0; i < streams; ++i) {
      const std::string src = "src" + std::to_string(i);
      engine.CreateComponent("PcapSource", src);
      auto* s = dynamic_cast<PcapSource*>(engine.Component(src));
      s->packets = packets[static_cast<size_t>(i)];
      s->batches = std::vector<int>(static_cast<size_t>(perStream / 256), 256);
      s->batches.push_back(perStream % 256 == 0 ? 256 : perStream % 256);
      if (perStream % 256 == 0) s->batches.pop_back();
      engine.Connect(src + ".output", "mux.input_" + std::to_string(i));
      engine.Connect(src + ".end_of_file", "mux.iEndOfFile_" + std::to_string(i));
    }
    engine.CreateComponent("CountingSink", "sink");
    engine.Connect("mux.output", "sink.input");
    engine.Connect("mux.end_of_file", "sink.eof");
    state.ResumeTiming();

    engine.StartDiagram();
    if (engine.RunDiagram(600 * kSecond) != RunEnd::AllDead) state.SkipWithError("run timed out");

    state.PauseTiming();
    total += static_cast<CountingSink*>(engine.Component("sink"))->packets;
    engine.ShutdownDiagram();
    binding.reset();
    owned.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(total);
  state.counters["packets"] = static_cast<double>(perStream * streams);
}

BENCHMARK(MuxThroughput)
    ->ArgNames({"streams", "bytes", "exact"})
    ->ArgsProduct({{2, 8}, {60, 1500}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace
}  // namespace velquor::test

BENCHMARK_MAIN();

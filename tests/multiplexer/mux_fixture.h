// The fixture of the multiplexer's whole-run tests: the engine with the
// real package loaded, the test models (sources and sinks of each data
// kind), and helpers to build, preload and run a diagram around "mux".
#pragma once

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "mux_test_support.h"
#include "sdk_test_support.h"

namespace velquor::test {

inline DAXOOutputDefinition g_pcapOutputs[] = {
    {"output", 0, DAXOTypeInfo(pcap_stream::KyTypeValue, pcap_stream::KyTypeName),
     pcap_stream::KyDataSize, 16, 1, 0},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 4, 1, 0},
    {},
};
inline DAXOOutputDefinition g_canOutputs[] = {
    {"output", 0, DAXOTypeInfo(DAXO::CANUniFrame | DAXO::VectorFlag, "can"), 64, 16, 1, 0},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 4, 1, 0},
    {},
};
inline DAXOOutputDefinition g_anyOutputs[] = {
    {"output", 0, DAXOTypeInfo(DAXO::Float64 | DAXO::VectorFlag, "series"), 4, 16, 1, 0},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 4, 1, 0},
    {},
};
inline DAXOInputDefinition g_anySinkInputs[] = {
    {"input", 0, &DAXO::FilterFloats64, DAXO::NeverSkippingReader, 1},
    {"eof", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};
inline DAXOInputDefinition g_pcapSinkInputs[] = {
    {"input", 0, &pcap_stream::KyStreamFilter, DAXO::NeverSkippingReader, 1},
    {"eof", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};
inline DAXOInputDefinition g_canSinkInputs[] = {
    {"input", 0, &DAXO::FilterCANUniFrame, DAXO::NeverSkippingReader, 1},
    {"eof", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};

/// A threaded model of this executable's component `C`.
template <class C>
DAXOComponentDefinition TestModel(const char* name, DAXOOutputDefinition* outputs,
                                  DAXOInputDefinition* inputs) {
  return Model<C>(name, true, inputs, outputs, DAXO::Threaded);
}

class Multiplexer : public EngineTest {
 protected:
  Multiplexer()
      : pcapSource(TestModel<PcapSource>("PcapSource", g_pcapOutputs, nullptr)),
        pcapSink(TestModel<PcapSink>("PcapSink", nullptr, g_pcapSinkInputs)),
        canSource(TestModel<CanSource>("CanSource", g_canOutputs, nullptr)),
        canSink(TestModel<CanSink>("CanSink", nullptr, g_canSinkInputs)),
        anySource(TestModel<AnySource>("AnySource", g_anyOutputs, nullptr)),
        anySink(TestModel<AnySink>("AnySink", nullptr, g_anySinkInputs)) {}

  void SetUp() override {
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_SORTING_MULTIPLEXER_PCK));
    for (auto* d : {&pcapSource, &pcapSink, &canSource, &canSink, &anySource, &anySink}) {
      ASSERT_TRUE(engine.AddModel(*d));
    }
  }

  /// Sets a property of "mux" (a flag when `value` is a bool).
  template <class V>
  void SetMux(const std::string& property, V value) {
    auto* p =
        static_cast<DAXOProperty*>(engine.FindSymbol("mux." + property, DAXOSymbolKind::Property));
    ASSERT_NE(p, nullptr) << property;
    if constexpr (std::is_same_v<V, bool>) {
      engine.Component("mux")->Set(*p, value);
    } else {
      engine.Component("mux")->Set(*p, static_cast<long>(value));
    }
  }

  /// The multiplexer with `n` streams of `sourceModel`, read by `sinkModel`.
  void Build(int n, const char* sourceModel, const char* sinkModel) {
    ASSERT_TRUE(engine.CreateComponent("SortingMultiplexer", "mux"));
    SetMux("nb_inputs", n);
    SetMux("flush_delay", 1000);
    for (int i = 0; i < n; ++i) {
      const std::string src = "src" + std::to_string(i);
      ASSERT_TRUE(engine.CreateComponent(sourceModel, src));
      ASSERT_TRUE(engine.Connect(src + ".output", "mux.input_" + std::to_string(i)));
      ASSERT_TRUE(engine.Connect(src + ".end_of_file", "mux.iEndOfFile_" + std::to_string(i)));
    }
    ASSERT_TRUE(engine.CreateComponent(sinkModel, "sink"));
    ASSERT_TRUE(engine.Connect("mux.output", "sink.input"));
    ASSERT_TRUE(engine.Connect("mux.end_of_file", "sink.eof"));
  }

  PcapSource& Source(int i) {
    return *dynamic_cast<PcapSource*>(engine.Component("src" + std::to_string(i)));
  }
  PcapSink& Sink() { return *static_cast<PcapSink*>(engine.Component("sink")); }

  /// Plays every source's whole stream into FIFOs of `slots` samples
  /// before the multiplexer starts. The multiplexer serves a stream whose
  /// FIFO is empty after the others, so only preloaded streams give an
  /// order that does not depend on thread scheduling.
  void Preload(int n, long slots) {
    for (int i = 0; i < n; ++i) {
      const std::string src = "src" + std::to_string(i);
      DAXOComponent* c = engine.Component(src);
      auto property = [&](const char* name) {
        return static_cast<DAXOProperty*>(
            engine.FindSymbol(src + "." + name, DAXOSymbolKind::Property));
      };
      c->Set(*property("output.fifosize"), slots);
      c->Set(*property("autoStart"), false);
      ASSERT_TRUE(engine.StartComponent(src));
    }
    // Each source ends itself once its end of file is written; the
    // multiplexer and the sink have not started yet.
    ASSERT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  }

  /// Runs the diagram until every component has died.
  void Run() {
    ASSERT_TRUE(engine.StartDiagram());
    ASSERT_EQ(engine.RunDiagram(60 * kSecond), RunEnd::AllDead);
  }

  DAXOComponentDefinition pcapSource, pcapSink, canSource, canSink, anySource, anySink;
};

/// Whether `out` holds exactly the packets of `in`, each once and intact.
inline bool SamePackets(std::vector<Packet> out, std::vector<Packet> in) {
  std::sort(out.begin(), out.end());
  std::sort(in.begin(), in.end());
  return out == in;
}

inline void ExpectSortedAndComplete(const std::vector<Packet>& out, const std::vector<Packet>& in) {
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 1; i < out.size(); ++i) {
    ASSERT_LE(out[i - 1].time, out[i].time) << "at output packet " << i;
  }
  EXPECT_TRUE(SamePackets(out, in)) << "every packet once, every byte intact";
}

}  // namespace velquor::test

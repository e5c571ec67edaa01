// ScaleOffset: every value of a Float64 vector stream becomes
// scale * value + offset; the samples keep their timestamps, their columns
// and the input's type name (a CsvPlayer's header, which a CsvRecorder
// writes back as the names of its columns). The end of the stream
// (Integer64 on "iEndOfFile") goes out on "end_of_file" after the last
// sample, and the component then ends.
//
// Threading: a threaded component; Birth and Core run on its own thread.
#include "daxo_component.h"
#include "daxo_io.h"
#include "daxo_package.h"

namespace scale_example {

/// Values per sample: the size of the output's samples.
constexpr int kMaxValues = 256;

class ScaleOffset : public DAXOComponent {
 public:
  using DAXOComponent::DAXOComponent;

  static DAXOComponent* Instantiate(const char* name, DAXOComponentDefinition& definition) {
    return new ScaleOffset(name, definition);
  }

  void Birth() override {
    Get(*Property("scale"), m_scale);
    Get(*Property("offset"), m_offset);
    // The upstream output's name is settled before the diagram runs; no
    // sample has left this output yet, so no reader can see it change.
    DAXOOutput* source = Input(0).ConnectedOutput();
    if (source != nullptr && source->TypeName() != nullptr) {
      Output(0).SetTypeName(source->TypeName());
    }
  }

  void Core() override {
    DAXOInput* inputs[2] = {&Input(0), &Input(1)};
    // The writer ended its stream after its last sample: pass the end on
    // once every sample before it has gone out.
    if (m_ended && !DataAvailableInFIFO(Input(0))) {
      DAXOIOElt* end = StartWriting(Output(1), m_endTime);
      if (end == nullptr) return;
      *end->Integer64(0) = 1;
      StopWriting(end);
      CommitSuicide();  // throws: the life ends here
      return;
    }
    int which = -1;
    DAXOIOElt* in = StartReading(2, inputs, &which);  // blocks; throws when dying
    if (in == nullptr) return;
    if (which == 1) {
      m_ended = true;
      m_endTime = in->Timestamp();
      return;
    }
    const int n = in->VectorSize();
    if (n > kMaxValues) Error("a sample holds more values than the output's 256");
    DAXOIOElt* out = StartWriting(Output(0), in->Timestamp());
    if (out == nullptr) return;
    const auto* x = static_cast<const double*>(in->Data());
    auto* y = static_cast<double*>(out->Data());
    for (int i = 0; i < n; ++i) y[i] = m_scale * x[i] + m_offset;
    out->VectorSize() = n;
    StopWriting(out);  // publishes to every reader
  }

  static DAXOComponentDefinition s_definition;

 private:
  double m_scale = 1.0;
  double m_offset = 0.0;
  bool m_ended = false;
  DAXOTimestamp m_endTime = 0;
};

// Tables end with an all-zero row.
DAXOInputDefinition s_inputs[] = {
    // name, reserved, type filter, reader type, subsampling
    {"input", 0, &DAXO::FilterFloats64, DAXO::NeverSkippingReader, 1},
    {"iEndOfFile", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};
DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size (values), FIFO size, subsampling, shareable
    {"output", 0, DAXOTypeInfo(DAXO::Float64 | DAXO::VectorFlag, ""), kMaxValues, 16, 1, 1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};
DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"scale", new DAXOPropertyValue(1.0), nullptr, false, false, false, false, 0},
    {"offset", new DAXOPropertyValue(0.0), nullptr, false, false, false, false, 0},
    {},
};
DAXOActionDefinition s_actions[] = {{}};

DAXOComponentDefinition ScaleOffset::s_definition = [] {
  DAXOComponentDefinition d{"ScaleOffset", "1.0.0", &ScaleOffset::Instantiate};
  d.nbInputs = d.nbOutputs = d.nbProperties = d.nbActions =
      DAXOComponentDefinition::CountUntilZeroRow;
  d.inputs = s_inputs;
  d.outputs = s_outputs;
  d.properties = s_properties;
  d.actions = s_actions;
  d.kind = DAXO::Threaded;
  d.threaded = true;
  return d;
}();

}  // namespace scale_example

DAXO_DECLARE_MODULE(ScaleOffset, "DAXOComponent", "ScaleOffset", "1.0.0",
                    &scale_example::ScaleOffset::s_definition);

// The byte-stream component templates: the shared FIFO and Core, the input
// template's tables, and the IO template's output and SendData.
#include "daxo_stream8_components.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "daxo_io.h"
#include "daxo_services.h"
#include "private/template_rows.h"

namespace {

constexpr const char* kInputName = "iStream8";
constexpr const char* kOutputName = "oStream8";
constexpr const char* kInputFifoSize = "pInputFIFOSize";
constexpr const char* kOutputChunkSize = "pOutputFIFOsSize";
constexpr long kDefaultInputFifoSize = 1000;
constexpr long kDefaultOutputChunkSize = 10;
/// Microseconds per byte = kFrequencyScale / frequency (thousandths of Hz).
constexpr DAXOInt64 kFrequencyScale = 1000000000;

// name, default, unit, needs init, modifiable after start, read-only, locked.
DAXOPropertyDefinition IntegerRow(const char* name, long value) {
  return DAXOPropertyDefinition(name, new DAXOPropertyValue(value), nullptr, false, false, false,
                                true);
}

}  // namespace

// --- the tables --------------------------------------------------------------------------

DAXOInputDefinition DAXOStream8InputComponent::InputDefinitions[2] = {
    // name, reserved, filter, reader type, subsampling
    {kInputName, 0, &DAXO::FilterStream8, DAXO::FifoReader, 1},
    {},
};
DAXOOutputDefinition DAXOStream8InputComponent::OutputDefinitions[1] = {{}};
DAXOPropertyDefinition DAXOStream8InputComponent::PropertyDefinitions[2] = {
    IntegerRow(kInputFifoSize, kDefaultInputFifoSize),
    {},
};
DAXOActionDefinition DAXOStream8InputComponent::ActionDefinitions[1] = {{}};

DAXOInputDefinition DAXOStream8IOComponent::InputDefinitions[2] = {
    {kInputName, 0, &DAXO::FilterStream8, DAXO::FifoReader, 1},
    {},
};
DAXOOutputDefinition DAXOStream8IOComponent::OutputDefinitions[2] = {
    // name, reserved, type (no name, no unit), size, FIFO size, subsampling, shareable
    {kOutputName, 0, DAXOTypeInfo(DAXO::Stream8, "", ""), 0, 16, 1, 1},
    {},
};
DAXOPropertyDefinition DAXOStream8IOComponent::PropertyDefinitions[3] = {
    IntegerRow(kInputFifoSize, kDefaultInputFifoSize),
    IntegerRow(kOutputChunkSize, kDefaultOutputChunkSize),
    {},
};
DAXOActionDefinition DAXOStream8IOComponent::ActionDefinitions[1] = {{}};

// --- the shared base ---------------------------------------------------------------------

DAXOStream8ComponentBase::DAXOStream8ComponentBase(const char* name,
                                                   DAXOComponentDefinition& definition,
                                                   const Tables& tables)
    : DAXOComponent(name, definition), m_tables(tables) {}

DAXOStream8ComponentBase::~DAXOStream8ComponentBase() = default;

void DAXOStream8ComponentBase::Dynamic() {
  using DAXOPrivate::DeclareMissing;
  const DAXOComponentDefinition& d = *Definition();
  DeclareMissing(m_tables.properties, d.properties, d.nbProperties,
                 [this](const DAXOPropertyDefinition& row) { NewProperty(row); });
  DeclareMissing(m_tables.inputs, d.inputs, d.nbInputs,
                 [this](const DAXOInputDefinition& row) { NewInput(row); });
  DeclareMissing(m_tables.outputs, d.outputs, d.nbOutputs,
                 [this](const DAXOOutputDefinition& row) { NewOutput(row); });
  DeclareMissing(m_tables.actions, d.actions, d.nbActions,
                 [this](const DAXOActionDefinition& row) { NewAction(row); });
}

long DAXOStream8ComponentBase::IntegerProperty(const char* shortName) {
  long value = 0;
  Get(*Property(shortName), value);
  return value;
}

void DAXOStream8ComponentBase::Birth() {
  m_started = true;
  Close();
  Initialize(IntegerProperty(kInputFifoSize));
}

void DAXOStream8ComponentBase::Initialize(long size) {
  Close();
  // A size past INT_MAX is given to the region as -1, which it refuses.
  const int slots = size > INT_MAX ? -1 : static_cast<int>(std::max<long>(size, INT_MIN));
  if (!DAXORBRegion::IsClean(m_fifo.Init(slots, 0, 0))) {
    Error("Error while initializing the FIFO", 1, 0);
  }
  m_data = std::make_unique<unsigned char[]>(static_cast<size_t>(slots));
  m_timestamps = std::make_unique<DAXOTimestamp[]>(static_cast<size_t>(slots));
  m_timesOfIssue = std::make_unique<DAXOTimestamp[]>(static_cast<size_t>(slots));
}

void DAXOStream8ComponentBase::Core() {
  DAXOIOElt* sample = StartReading(Input(kInputName));
  if (sample == nullptr) return;
  Receive(*sample);
}

void DAXOStream8ComponentBase::Receive(DAXOIOElt& received) {
  DAXOIOElt* sample = &received;
  if (DAXO::TimeSpeed() < 0) m_fifo.Reset();
  const int length = sample->VectorSize();
  if (length < 1) return;
  const std::uint8_t* bytes = sample->Stream8();
  if (length > sample->BufferSize() || bytes == nullptr) {
    DAXOStreamedString text("Stream8 sample of ");
    text << length << " bytes does not fit its buffer of " << sample->BufferSize() << " bytes"
         << (bytes == nullptr ? " (no data)" : "");
    Error(text, 1, 0);
  }

  DAXORBRegion appended;
  const DAXOConstRBRegionState state = m_fifo.Push(length, appended, true);
  if (state != DAXOConstRBRegionOverflowOp && !DAXORBRegion::IsClean(state)) {
    Error(DAXORBRegion::StateToString(state), 1, 0);
  }
  const int fifoSize = m_fifo.FifoSize();
  const int count = std::min(appended.Size(), length);
  const int offset = appended.Offset();
  const int beforeWrap = std::min(count, fifoSize - offset);
  std::memcpy(m_data.get() + offset, bytes, static_cast<size_t>(beforeWrap));
  std::memcpy(m_data.get(), bytes + beforeWrap, static_cast<size_t>(count - beforeWrap));

  const DAXOInt64 frequency = sample->Frequency();
  const bool spaced = (sample->Type().value & DAXO::FrequencyFlag) != 0 && frequency != 0;
  // Unsigned steps: a far timestamp wraps instead of overflowing.
  const std::uint64_t step = spaced ? static_cast<std::uint64_t>(kFrequencyScale / frequency) : 0;
  std::uint64_t timestamp = static_cast<std::uint64_t>(sample->Timestamp());
  const DAXOTimestamp timeOfIssue = sample->TimeOfIssue();
  for (int i = 0, slot = offset; i < count; ++i, slot = (slot + 1 == fifoSize ? 0 : slot + 1)) {
    m_timestamps[slot] = static_cast<DAXOTimestamp>(timestamp);
    m_timesOfIssue[slot] = timeOfIssue;
    timestamp += step;
  }
  ProcessStreamData(m_fifo, m_data.get(), m_timestamps.get(), m_timesOfIssue.get());
}

void DAXOStream8ComponentBase::Death() {
  Close();
}

void DAXOStream8ComponentBase::Close() {
  m_data.reset();
  m_timestamps.reset();
  m_timesOfIssue.reset();
}

// --- the templates -----------------------------------------------------------------------

DAXOStream8InputComponent::DAXOStream8InputComponent(const char* name,
                                                     DAXOComponentDefinition& definition)
    : DAXOStream8ComponentBase(
          name, definition,
          Tables{InputDefinitions, OutputDefinitions, PropertyDefinitions, ActionDefinitions}) {}

DAXOStream8IOComponent::DAXOStream8IOComponent(const char* name,
                                               DAXOComponentDefinition& definition)
    : DAXOStream8ComponentBase(
          name, definition,
          Tables{InputDefinitions, OutputDefinitions, PropertyDefinitions, ActionDefinitions}) {}

void DAXOStream8IOComponent::Birth() {
  DAXOStream8ComponentBase::Birth();
  const long chunk = IntegerProperty(kOutputChunkSize);
  if (chunk < 1 || chunk > INT_MAX) {
    DAXOStreamedString text("Property ");
    text << kOutputChunkSize << " must be between 1 and " << static_cast<long>(INT_MAX)
         << " (it is " << chunk << ")";
    Error(text, 1, 0);
  }
  m_outputChunkSize = static_cast<DAXOInt32>(chunk);
  m_output = &Output(kOutputName);
  // A buffer left by a run that ended without a shutdown is kept.
  if (m_output->IOEltSizeBytes() == 0) m_output->AllocOutputBuffer(m_outputChunkSize, true);
}

bool DAXOStream8IOComponent::SendData(const unsigned char* data, int length, DAXOTimestamp ts) {
  if (ts == 0) ts = DAXO::CurrentTime(true, true);
  if (length == 0) return true;
  if (length < 0 || data == nullptr) {
    DAXOStreamedString text("SendData: ");
    text << length << " bytes at " << (data == nullptr ? "a null address" : "an address")
         << " cannot be sent";
    Error(text, 1, 0);
  }
  if (m_output == nullptr || m_outputChunkSize < 1) {
    Error("SendData: the component was not born (no output buffer)", 1, 0);
  }
  for (int sent = 0; sent < length;) {
    DAXOIOElt* element = StartWriting(*m_output);
    if (element == nullptr) return false;  // failed: the life ends with this Core
    const int chunk = std::min({m_outputChunkSize, length - sent, element->BufferSize()});
    if (chunk < 1) {
      StopWriting(element, true);
      Error("SendData: the oStream8 sample has no room for a byte", 1, 0);
    }
    std::memcpy(element->Stream8(), data + sent, static_cast<size_t>(chunk));
    element->VectorSize() = chunk;
    element->Timestamp() = ts;
    StopWriting(element, false);
    sent += chunk;
  }
  return true;
}

bool DAXOStream8IOComponent::SendData(const char* data, int length, DAXOTimestamp ts) {
  return SendData(reinterpret_cast<const unsigned char*>(data), length, ts);
}

// The SortingMultiplexer model: definition, configuration, the sorting loop
// and the final flush.
#include "daxo_sorting_multiplexer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "daxo_component_record.h"
#include "daxo_generic_components_helper.h"
#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_module_management.h"
#include "daxo_package.h"
#include "daxo_property_value.h"
#include "daxo_services.h"

// Exported for peer packages, which name them; the multiplexer itself uses
// pcap_stream::KyStreamFilter. A filter cannot be copied (it caches compiled
// patterns): these are objects of their own, of the stream's kind and name.
constinit const DAXOTypeFilterBase DAXOFilterPCAPStructure{pcap_stream::KyTypeValue,
                                                           pcap_stream::KyTypeValue, DAXO::TypeMask,
                                                           pcap_stream::KyTypeName, nullptr};
constinit const DAXOTypeFilterBase DAXOFilterPCAPStructureStrict{
    DAXO::TypeMask, pcap_stream::KyTypeValue, DAXO::TypeMask, pcap_stream::KyTypeName, nullptr};

namespace {

// Every input is dynamic: the table holds only its terminating row.
DAXOInputDefinition s_inputs[] = {{}};

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size, FIFO size, subsampling, shareable
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {"output", 0, DAXOTypeInfo(DAXO::AnyType), 0, 16, 1, 1},  // sized when the kind is known
    {},
};

// All integer, no unit, not required before start, not read-only, locked.
DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"nb_inputs", new DAXOPropertyValue(1L), nullptr, false, false, false, true, 0},
    {"buffer_packet_count", new DAXOPropertyValue(100L), nullptr, false, false, false, true, 0},
    {"vector_max_size", new DAXOPropertyValue(1L), nullptr, false, true, false, true, 0},
    {"vector_max_latency", new DAXOPropertyValue(100000L), nullptr, false, true, false, true, 0},
    {"flush_delay", new DAXOPropertyValue(500000L), nullptr, false, true, false, true, 0},
    // Never skip a stream that has not ended (see the header): exact merges.
    {"exact_order", new DAXOPropertyValue(false), nullptr, false, false, false, true, 0},
    {},
};

DAXOActionDefinition s_actions[] = {{}};

constexpr DAXODelay KyIdleRest = 100;
constexpr DAXODelay KyDrainRest = 1000;

// a + b, held at the limits: the largest latency or flush delay means "no
// limit", not a time that wrapped round to the far past.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<std::int64_t>::max()
               : std::numeric_limits<std::int64_t>::min();
}

bool SameTypeName(const DAXOTypeInfo& a, const DAXOTypeInfo& b) {
  const char* x = a.name != nullptr ? static_cast<const char*>(*a.name) : "";
  const char* y = b.name != nullptr ? static_cast<const char*>(*b.name) : "";
  const int lx = a.name != nullptr ? a.name->Length() : 0;
  const int ly = b.name != nullptr ? b.name->Length() : 0;
  return lx == ly && std::memcmp(x, y, static_cast<size_t>(lx)) == 0;
}

// Releases `output`'s buffer once its readers have given back every sample
// they hold, as the engine's shutdown does before it frees buffers.
void ReleaseOutput(DAXOOutput& output) {
  auto& out = static_cast<DAXOOutputImplementation&>(output);
  out.HandshakeReaders();
  out.FreeBuffer();
}

}  // namespace

DAXOComponentDefinition daxo_sorting_multiplexer::s_componentDefinition =
    ThreadedComponentRecord("SortingMultiplexer", "1.4.0", &daxo_sorting_multiplexer::Instantiate,
                            s_inputs, s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(daxo_sorting_multiplexer, "DAXOComponent", "SortingMultiplexer", "1.4.0",
                    &daxo_sorting_multiplexer::s_componentDefinition);

DAXOComponent* daxo_sorting_multiplexer::Instantiate(const char* name,
                                                     DAXOComponentDefinition& definition) {
  return new daxo_sorting_multiplexer(name, definition);
}

daxo_sorting_multiplexer::daxo_sorting_multiplexer(const char* name,
                                                   DAXOComponentDefinition& definition)
    : DAXOComponent(name, definition), DAXOpcap_component(name, definition) {}

daxo_sorting_multiplexer::~daxo_sorting_multiplexer() = default;

long daxo_sorting_multiplexer::ReadIntegerProperty(int index) {
  long value = 0;
  Get(*Property(index), value);
  return value;
}

// --- configuration -----------------------------------------------------------------

void daxo_sorting_multiplexer::Dynamic() {
  m_dynamicInputModels.Reset();
  m_dynamicOutputModels.Reset();
  m_nbInputs = ReadIntegerProperty(KyPropNbInputs);
  if (m_nbInputs < 1) Error("Number of inputs has to be >= 1");
  // Each input is a reader, a FIFO slot set and, in a merge, a thread and a
  // file: a count past this is a slip, and declaring it would take minutes
  // and gigabytes before anything could say so.
  if (m_nbInputs > KyMaxInputs) {
    Error(DAXOStreamedString("Number of inputs has to be <= ") << static_cast<long>(KyMaxInputs));
  }
  const auto n = static_cast<std::size_t>(m_nbInputs);
  m_inputEofPair.eofInputs.resize(n, nullptr);
  m_inputEofPair.dataInputs.resize(n, nullptr);
  m_inputEofReceived.resize(n, {0, 0});
  const DAXOString noName;
  for (std::size_t i = 0; i < n; ++i) {
    m_inputEofPair.eofInputs[i] =
        &m_dynamicInputModels.NewInput(*this, "iEndOfFile_" + std::to_string(i), DAXO::Integer64,
                                       noName, DAXO::NeverSkippingReader);
  }
  for (std::size_t i = 0; i < n; ++i) {
    m_inputEofPair.dataInputs[i] = &m_dynamicInputModels.NewInput(
        *this, "input_" + std::to_string(i), DAXO::AnyType, noName, DAXO::NeverSkippingReader);
  }

  DAXOInput* first = m_inputEofPair.dataInputs[0];
  if (first->IsConnected()) {
    const DAXOTypeInfo& type = first->ConnectedOutput()->Type();
    if (DAXO::TypeFilter(type, pcap_stream::KyStreamFilter)) {
      m_selectedDataType = DAXOpcap;
    } else if (DAXO::TypeFilter(type, DAXO::FilterCANUniFrame)) {
      m_selectedDataType = DAXOcan;
    } else {
      m_selectedDataType = DAXOany;
    }
    // Addressed by name: the vector limits only make sense for packets and
    // frames.
    const bool limits = m_selectedDataType != DAXOany;
    Property("vector_max_size")->SetMutable(limits);
    Property("vector_max_latency")->SetMutable(limits);
  }
  DAXOOutput& output = Output("output");
  if (ValidateDataInputs() && first->IsConnected()) {
    const DAXOTypeInfo& type = first->ConnectedOutput()->Type();
    output.SetTypeValue(type.value);
    output.SetTypeName(type.name != nullptr ? static_cast<const char*>(*type.name) : "");
  } else {
    output.SetTypeValue(DAXO::AnyType);
    output.SetTypeName("");
  }
}

bool daxo_sorting_multiplexer::AreDataInputsConnected() const {
  return std::all_of(m_inputEofPair.dataInputs.begin(), m_inputEofPair.dataInputs.end(),
                     [](DAXOInput* in) { return in != nullptr && in->IsConnected(); });
}

bool daxo_sorting_multiplexer::AreEofInputsConnected() const {
  return std::all_of(m_inputEofPair.eofInputs.begin(), m_inputEofPair.eofInputs.end(),
                     [](DAXOInput* in) { return in != nullptr && in->IsConnected(); });
}

bool daxo_sorting_multiplexer::ValidateDataInputs() const {
  const auto& inputs = m_inputEofPair.dataInputs;
  if (inputs.empty()) return true;
  if (!AreDataInputsConnected()) return false;
  const DAXOTypeInfo& reference = inputs[0]->ConnectedOutput()->Type();
  return std::all_of(inputs.begin(), inputs.end(), [&](DAXOInput* in) {
    const DAXOTypeInfo& type = in->ConnectedOutput()->Type();
    return type.value == reference.value && SameTypeName(type, reference);
  });
}

void daxo_sorting_multiplexer::SetVectorSize() {
  const long size = ReadIntegerProperty(KyPropVectorMaxSize);
  if (size < 1) Error("vector_max_size must be >= 1");
  m_maxVectorSize =
      static_cast<std::int32_t>(std::min<long>(size, std::numeric_limits<std::int32_t>::max()));
  const long latency = ReadIntegerProperty(KyPropVectorMaxLatency);
  if (latency <= 999) Error("vector_max_latency must be >= 1 ms");
  m_maxVectorLatency = latency;
}

void daxo_sorting_multiplexer::Birth() {
  const long kept = ReadIntegerProperty(KyPropBufferPacketCount);
  if (kept < 0) Error("buffer_packet_count must be >= 0");
  m_minBufferSize =
      static_cast<std::int32_t>(std::min<long>(kept, std::numeric_limits<std::int32_t>::max()));
  if (!ValidateDataInputs() || !AreEofInputsConnected()) {
    Error("All inputs have to be connected and of same type!");
  }
  bool exact = false;
  Get(*Property("exact_order"), exact);
  m_exactOrder = exact;
  PrepareOutput(Output("output"), m_inputEofPair.dataInputs[0]->ConnectedOutput()->Type());
  for (auto& record : m_inputEofReceived) record = {0, 0};
  m_inputsToRead.clear();
  for (std::int32_t i = 0; i < static_cast<std::int32_t>(m_nbInputs); ++i) {
    InsertBeforeEqual(m_inputsToRead, 0, i);
  }
  const auto lanes = static_cast<std::size_t>(m_nbInputs);
  m_pcapQueue.Reset(lanes, m_exactOrder ? LaneTies::KyByLane : LaneTies::KyOldestFirst);
  m_canQueue.Reset(lanes, m_exactOrder ? LaneTies::KyByLane : LaneTies::KyNewestFirst);
  m_genericQueue.Reset(lanes, m_exactOrder ? LaneTies::KyByLane : LaneTies::KyNewestFirst);
  m_openStreams.clear();
  m_streamMark.assign(lanes, MarkOf(std::numeric_limits<std::int64_t>::min()));
  m_streamOpen.assign(lanes, m_exactOrder);
  m_pendingEof.assign(lanes, PendingEof{});
  if (m_exactOrder) {
    for (std::size_t i = 0; i < lanes; ++i) {
      m_openStreams.emplace(m_streamMark[i].first, m_streamMark[i].second,
                            static_cast<std::int32_t>(i));
    }
  }
  UpdateLeastMark();
  m_linkType = 0;
  m_wrongOrderCount = 0;
  m_lastPacketTimestamp = KyNoPacketYet;
  m_maxNegTimestampJump = 0;
  m_firstRun = true;
  m_isBufferFlushed = false;
  m_lastDataTs = 0;
}

void daxo_sorting_multiplexer::PrepareOutput(DAXOOutput& output, const DAXOTypeInfo& type) {
  // What an earlier run left (another kind, another element size, or
  // packet buffers that readers may still point into) goes first: no run
  // writes into elements shaped for another.
  if (output.IOEltSizeBytes() != 0 || !m_data_buffers.empty()) {
    ReleaseOutput(output);
    ReleasePacketBuffers();
  }
  try {
    if (DAXO::TypeFilter(type, pcap_stream::KyStreamFilter)) {
      output.AllocOutputBuffer(pcap_stream::KyDataSize, true);
      DAXOpcap_component::Birth(output);
    } else if (DAXO::TypeFilter(type, DAXO::FilterCANUniFrame)) {
      output.AllocOutputBuffer(KyMaxCanFramesOut, true);
    }
    // Any other type: shaped like the first sample, in Core.
  } catch (const std::bad_alloc&) {
    Error("Not enough memory to prepare the output buffers.");
  }
}

void daxo_sorting_multiplexer::FreeBuffers() {
  DAXOpcap_component::FreeBuffers();
}

// --- the loop ------------------------------------------------------------------------

void daxo_sorting_multiplexer::Core() {
  SetVectorSize();
  if (m_isBufferFlushed) {
    if (IsFIFOEmpty(Output("output")) && IsFIFOEmpty(Output("end_of_file"))) {
      CommitSuicide();
      return;
    }
    Rest(KyDrainRest);
    return;
  }
  const int idx = SelectInputToRead();
  if (idx < 0) {
    if (AreEofSignalsReceived() && IsFlushDelayReached()) {
      Report("Flush Delay reached", DAXO::Info, 0);
      // A failed write has been reported: the run ends after this step.
      if (!FlushInternalBuffer() || !WriteEof()) return;
      m_isBufferFlushed = true;
    }
    Rest(KyIdleRest);
    return;
  }
  if (m_exactOrder && IsOpen(idx)) {
    if (ReadExact(idx)) WriteReady();
    return;
  }
  DAXOInput* pair[2] = {m_inputEofPair.eofInputs[static_cast<std::size_t>(idx)],
                        m_inputEofPair.dataInputs[static_cast<std::size_t>(idx)]};
  int which = -1;
  DAXOIOElt* element = StartReading(2, pair, &which, 0, nullptr);
  if (element == nullptr) return;
  if (which == 1) {
    ReadData(element, idx);
  } else if (which == 0) {
    RecordEof(element, idx);
  } else {
    Error("Something went wrong!");
  }
  if (m_exactOrder) {
    WriteReady();
  } else {
    WriteData(m_minBufferSize, m_maxVectorSize, m_maxVectorLatency);
  }
}

bool daxo_sorting_multiplexer::ReadExact(int idx) {
  const auto i = static_cast<std::size_t>(idx);
  DAXOInput* data = m_inputEofPair.dataInputs[i];
  PendingEof& pending = m_pendingEof[i];
  if (pending.pending && !DataAvailableInFIFO(*data)) {
    // Its data is all read now: the end of file it sent takes effect.
    pending.pending = false;
    m_inputEofReceived[i] = {pending.value, pending.timestamp};
    m_lastDataTs = std::max(m_lastDataTs, pending.timeOfIssue);
    if (pending.value > 0) CloseStream(idx);
    return true;
  }
  // Data first: when both answer, the data was written before the end.
  DAXOInput* pair[2] = {data, m_inputEofPair.eofInputs[i]};
  int which = -1;
  DAXOIOElt* element = StartReading(2, pair, &which, 0, nullptr);
  if (element == nullptr) {
    // A failed read has put the component in its error state already; a
    // stream taken away while the merge waits for it cannot stay exact.
    if ((State() & DAXO::ErrorState) == 0) {
      Error(DAXOStreamedString(data->Name()) << " was disconnected while the merge waited for it");
    }
    return false;
  }
  if (which == 0) {
    ReadData(element, idx);
  } else if (which == 1) {
    if (DataAvailableInFIFO(*data)) {
      // Data written before this end is still queued: the end waits until
      // the stream is next selected with its data read, so the point where
      // the stream ends does not depend on the threads' timing.
      pending = {true, *element->Integer64(0), element->Timestamp(), element->TimeOfIssue()};
    } else {
      RecordEof(element, idx);
    }
  } else {
    Error("Something went wrong!");
  }
  return true;
}

void daxo_sorting_multiplexer::RecordEof(DAXOIOElt* element, int idx) {
  auto& record = m_inputEofReceived[static_cast<std::size_t>(idx)];
  record = {*element->Integer64(0), element->Timestamp()};
  m_lastDataTs = std::max<std::int64_t>(m_lastDataTs, element->TimeOfIssue());
  if (m_exactOrder && record.first > 0 && IsOpen(idx)) CloseStream(idx);
}

void daxo_sorting_multiplexer::MoveMark(int index, const Mark& mark) {
  const auto i = static_cast<std::size_t>(index);
  Mark& current = m_streamMark[i];
  if (current == mark) return;
  m_openStreams.erase({current.first, current.second, index});
  current = mark;
  m_openStreams.emplace(mark.first, mark.second, index);
  UpdateLeastMark();
}

void daxo_sorting_multiplexer::CloseStream(int index) {
  const auto i = static_cast<std::size_t>(index);
  m_openStreams.erase({m_streamMark[i].first, m_streamMark[i].second, index});
  m_streamOpen[i] = false;
  UpdateLeastMark();
}

void daxo_sorting_multiplexer::UpdateLeastMark() {
  if (m_openStreams.empty()) {
    m_leastMark = {~std::uint64_t{0}, ~std::uint64_t{0}};
  } else {
    m_leastMark = {std::get<0>(*m_openStreams.begin()), std::get<1>(*m_openStreams.begin())};
  }
}

bool daxo_sorting_multiplexer::MayWriteFront() const {
  if (!m_exactOrder) return true;
  Mark front;
  std::size_t lane = 0;
  switch (m_selectedDataType) {
    case DAXOpcap:
      front = MarkOf(m_pcapQueue.FrontKey());
      lane = m_pcapQueue.FrontLane();
      break;
    case DAXOcan:
      front = MarkOf(m_canQueue.FrontKey());
      lane = m_canQueue.FrontLane();
      break;
    case DAXOany:
      front = MarkOf(m_genericQueue.FrontKey());
      lane = m_genericQueue.FrontLane();
      break;
    default:
      return false;
  }
  // The least open stream other than the front's own decides (the front's
  // own stream brings nothing before its own entries).
  for (const auto& [high, low, index] : m_openStreams) {
    if (static_cast<std::size_t>(index) == lane) continue;
    return std::tie(front.first, front.second, lane) <
           std::make_tuple(high, low, static_cast<std::size_t>(index));
  }
  return true;
}

bool daxo_sorting_multiplexer::WriteReady() {
  const auto kept = static_cast<std::size_t>(m_minBufferSize);
  if (m_selectedDataType == DAXOany) return WriteAny(kept) >= 0;
  while (QueueSize() > kept && MayWriteFront()) {
    if (WriteData(kept, m_maxVectorSize, m_maxVectorLatency) <= 0) return false;
  }
  return true;
}

int daxo_sorting_multiplexer::SelectInputToRead() {
  if (m_selectedDataType != DAXOpcap && m_selectedDataType != DAXOcan &&
      m_selectedDataType != DAXOany) {
    Error("Something went wrong!");
  }
  // Exact: the open stream furthest behind, whether it has data or not.
  if (m_exactOrder && !m_openStreams.empty()) return std::get<2>(*m_openStreams.begin());
  for (const auto& [key, i] : m_inputsToRead) {
    const auto index = static_cast<std::size_t>(i);
    if (m_inputEofReceived[index].first == 0 &&
        DataAvailableInFIFO(*m_inputEofPair.eofInputs[index])) {
      return i;
    }
    if (DataAvailableInFIFO(*m_inputEofPair.dataInputs[index])) return i;
  }
  return -1;
}

void daxo_sorting_multiplexer::ReplaceElmByValue(ReadOrder& map, std::int64_t timestamp,
                                                 std::int32_t index) {
  for (auto it = map.begin(); it != map.end(); ++it) {
    if (it->second == index) {
      map.erase(it);
      InsertBeforeEqual(map, timestamp, index);
      return;
    }
  }
}

void daxo_sorting_multiplexer::ReadData(DAXOIOElt* element, int index) {
  const auto lane = static_cast<std::size_t>(index);
  std::int64_t key = 0;
  Mark mark;
  bool any = false;  // the sample had content, and `mark` is its last key
  try {
    switch (m_selectedDataType) {
      case DAXOcan: {
        const int n = element->VectorSize();
        const auto* frames = static_cast<const DAXOCANUniFrame*>(element->Data());
        for (int k = 0; k < n && frames != nullptr; ++k) {
          key = frames[k].ts;
          std::memcpy(m_canQueue.Push(lane, key, sizeof frames[k]), &frames[k], sizeof frames[k]);
          any = true;
        }
        mark = MarkOf(key);
        break;
      }
      case DAXOpcap: {
        const auto* sample = static_cast<const DAXOpcap_data_t*>(element->Data());
        if (sample == nullptr) {
          Error(DAXOStreamedString("A PCAP sample without data arrived on ")
                << m_inputEofPair.dataInputs[lane]->Name());
        }
        if (m_linkType == 0) {
          m_linkType = sample->link_type;
        } else if (sample->link_type != m_linkType) {
          Error("Cannot multiplex different link_types!");
        }
        pcap_stream::pcap_data_reader reader(*this, *sample);
        const std::uint8_t* data = nullptr;
        const DAXOpcap_packet_header_t* packet = nullptr;
        // The raw header is queued as it is: no converted copy is asked for.
        while (reader.get_next_packet(nullptr, &data, &packet) == pcap_stream::PCAP_NO_ERROR) {
          DAXOpcap_packet_header_t copy;
          std::memcpy(&copy, packet, sizeof copy);
          std::memcpy(m_pcapQueue.Push(lane, copy, copy.caplen), data, copy.caplen);
          key = pcap_stream::Microseconds(copy);
          mark = MarkOf(copy);
          any = true;
        }
        // A sample without packets has no time of its own: the stream keeps
        // its place in the read order.
        if (!any) return;
        break;
      }
      case DAXOany:
        if (m_firstRun) {
          DAXOOutput& output = Output("output");
          if (output.IOEltSizeBytes() == 0) {
            DAXOGenericComponentsHelper::AllocOutputBuffer(&output, element);
          }
          m_firstRun = false;
        }
        key = element->Timestamp();
        mark = MarkOf(key);
        QueueSerialized(element, index);
        any = true;
        break;
      default:
        break;
    }
  } catch (const std::bad_alloc&) {
    Error(DAXOStreamedString("Not enough memory to queue a sample of ")
          << m_inputEofPair.dataInputs[lane]->Name());
  }
  if (m_exactOrder && IsOpen(index)) {
    // An empty sample leaves the stream where it stands.
    if (any) MoveMark(index, mark);
    return;
  }
  ReplaceElmByValue(m_inputsToRead, key, index);
}

void daxo_sorting_multiplexer::QueueSerialized(DAXOIOElt* element, int index) {
  const int serialized = element->Serialize(nullptr, 25);
  const int used = element->IOEltUsedSizeInBytes(nullptr);
  const int capacity = element->IOEltBufferSizeInBytes(nullptr);
  long size = static_cast<long>(serialized);
  if (used >= 0 && capacity >= used) size += capacity - used;
  const auto bytes = static_cast<std::size_t>(size);
  std::uint8_t* at =
      m_genericQueue.Push(static_cast<std::size_t>(index), element->Timestamp(), bytes);
  // The room beyond what Serialize writes stays zero, as the reader expects
  // of a block sized for the sample's whole buffer.
  std::memset(at, 0, bytes);
  element->Serialize(at, static_cast<unsigned int>(bytes));
}

std::size_t daxo_sorting_multiplexer::QueueSize() const {
  switch (m_selectedDataType) {
    case DAXOcan:
      return m_canQueue.Size();
    case DAXOpcap:
      return m_pcapQueue.Size();
    case DAXOany:
      return m_genericQueue.Size();
    default:
      return 0;
  }
}

long daxo_sorting_multiplexer::WriteData(std::int64_t minKept, std::int32_t sizeLimit,
                                         std::int64_t latencyLimit) {
  switch (m_selectedDataType) {
    case DAXOcan:
      // An output element holds 256 frames, whatever vector_max_size says.
      return WriteCan(minKept, std::min(sizeLimit, KyMaxCanFramesOut), latencyLimit);
    case DAXOpcap:
      // nb_packets is 16 bits.
      return WritePcap(minKept, std::min(sizeLimit, pcap_stream::KyMaxPackets), latencyLimit);
    case DAXOany:
      return WriteAny(minKept);
    default:
      return 0;
  }
}

long daxo_sorting_multiplexer::WriteCan(std::int64_t minKept, std::int32_t sizeLimit,
                                        std::int64_t latencyLimit) {
  DAXOIOElt* element = StartWriting(Output("output"));
  if (element == nullptr) return -1;  // reported
  auto* frames = static_cast<DAXOCANUniFrame*>(element->Data());
  if (frames == nullptr) {
    StopWriting(element, true);
    Error("The output has no buffer for CAN frames");
  }
  if (static_cast<std::int64_t>(m_canQueue.Size()) <= minKept || !MayWriteFront()) {
    element->VectorSize() = 0;
    StopWriting(element, true);
    return 0;
  }
  const std::int64_t first = m_canQueue.FrontKey();
  element->Timestamp() = first;
  const std::int64_t deadline = SaturatingAdd(first, latencyLimit);
  int written = 0;
  while (written < sizeLimit && !m_canQueue.Empty()) {
    const std::int64_t time = m_canQueue.FrontKey();
    if (time > deadline || !MayWrite(MarkOf(time))) break;
    CheckPacketTiming(time);
    std::memcpy(&frames[written++], m_canQueue.FrontData(), sizeof(DAXOCANUniFrame));
    m_canQueue.Pop();
    if (static_cast<std::int64_t>(m_canQueue.Size()) <= minKept) break;
  }
  element->VectorSize() = written;
  StopWriting(element, written == 0);
  return written;
}

long daxo_sorting_multiplexer::WritePcap(std::int64_t minKept, std::int32_t sizeLimit,
                                         std::int64_t latencyLimit) {
  pcap_stream::pcap_data_writer writer(*this, Output("output"), m_linkType, 0);
  if (!writer.Ok()) return -1;  // reported
  if (static_cast<std::int64_t>(m_pcapQueue.Size()) > minKept && MayWriteFront()) {
    const std::int64_t first = pcap_stream::Microseconds(m_pcapQueue.FrontKey());
    writer.set_timestamp(first);
    const std::int64_t deadline = SaturatingAdd(first, latencyLimit);
    try {
      while (writer.GetNbPackets() < sizeLimit && !m_pcapQueue.Empty()) {
        const DAXOpcap_packet_header_t& header = m_pcapQueue.FrontKey();
        const std::int64_t time = pcap_stream::Microseconds(header);
        if (time > deadline || !MayWrite(MarkOf(header))) break;
        CheckPacketTiming(time);
        // The queue keeps each header right before its bytes: one copy.
        writer.set_next_record(m_pcapQueue.FrontRecord(), header.caplen);
        m_pcapQueue.Pop();
        if (static_cast<std::int64_t>(m_pcapQueue.Size()) <= minKept) break;
      }
    } catch (const std::bad_alloc&) {
      // Reported by the buffer: what was written goes out, the rest stays
      // queued, and the component stops with an error.
      writer.End();
      Error("Not enough memory for the PCAP output sample.");
    }
  }
  const long written = writer.GetNbPackets();
  writer.End();
  return written;
}

long daxo_sorting_multiplexer::WriteAny(std::int64_t minKept) {
  long written = 0;
  while (static_cast<std::int64_t>(m_genericQueue.Size()) > minKept && MayWriteFront()) {
    DAXOIOElt* element = StartWriting(Output("output"));
    if (element == nullptr) return -1;  // reported
    element->Deserialize(m_genericQueue.FrontData(), false);
    StopWriting(element, false);
    m_genericQueue.Pop();
    ++written;
  }
  return written;
}

void daxo_sorting_multiplexer::ReportWrongOrder(std::int64_t timestamp) {
  const std::int64_t d = timestamp - m_lastPacketTimestamp;
  ++m_wrongOrderCount;
  DAXOStreamedString text("The signal with the timestamp ");
  text << FormatTimestamp(timestamp) << " has wrong order!";
  Report(text, DAXO::Error, 0);
  m_maxNegTimestampJump = std::min(m_maxNegTimestampJump, d);
}

DAXOStreamedString daxo_sorting_multiplexer::FormatTimestamp(std::int64_t t) {
  DAXOStreamedString text;
  const std::int64_t magnitude = t < 0 ? -t : t;
  if (magnitude > 1000000) {
    text << static_cast<double>(t) / 1e6 << " s";
  } else if (magnitude > 1000) {
    text << static_cast<double>(t) / 1000.0 << " ms";
  } else {
    text << static_cast<double>(t) << " us";
  }
  return text;
}

bool daxo_sorting_multiplexer::FlushInternalBuffer() {
  Report("Flushing queue", DAXO::Info, 0);
  // Every stream has ended: nothing is held back for them any more.
  m_openStreams.clear();
  UpdateLeastMark();
  if (m_selectedDataType == DAXOany) {
    if (WriteData(0, 1, 0) < 0) return false;
  } else {
    while (QueueSize() > 0) {
      const long written = WriteData(0, m_maxVectorSize, m_maxVectorLatency);
      if (written < 0) return false;  // reported: the run ends
      if (written == 0) Error("Flushing the queue wrote nothing");
    }
  }
  Report("Finished writing", DAXO::Info, 0);
  return true;
}

bool daxo_sorting_multiplexer::IsFlushDelayReached() {
  return SaturatingAdd(m_lastDataTs, ReadIntegerProperty(KyPropFlushDelay)) <
         DAXO::CurrentTime(true, true);
}

std::pair<std::int64_t, std::int64_t> daxo_sorting_multiplexer::GetEofTimestamp() const {
  std::pair<std::int64_t, std::int64_t> chosen{0, 0};
  for (const auto& record : m_inputEofReceived) {
    if (record.second > chosen.second) chosen = record;
  }
  return chosen;
}

bool daxo_sorting_multiplexer::WriteEof() {
  DAXOIOElt* element = StartWriting(Output("end_of_file"));
  if (element == nullptr) return false;  // reported
  const auto [value, timestamp] = GetEofTimestamp();
  *element->Integer64(0) = value;
  element->Timestamp() = timestamp;
  StopWriting(element, false);
  return true;
}

bool daxo_sorting_multiplexer::AreEofSignalsReceived() const {
  return std::all_of(m_inputEofReceived.begin(), m_inputEofReceived.end(),
                     [](const auto& record) { return record.first > 0; });
}

void daxo_sorting_multiplexer::Death() {
  const std::size_t lost[3] = {m_pcapQueue.Size(), m_canQueue.Size(), m_genericQueue.Size()};
  for (std::size_t n : lost) {
    if (n == 0) continue;
    DAXOStreamedString text;
    text << static_cast<unsigned long>(n) << " data were still in the buffer and got lost ";
    Report(text, DAXO::Warning, 0);
  }
  if (m_wrongOrderCount > 0) {
    DAXOStreamedString text("Wrong order count: ");
    text << m_wrongOrderCount << " (maximum time-jump: " << FormatTimestamp(m_maxNegTimestampJump)
         << "). Please, adjust buffer size!";
    Report(text, DAXO::Error, 0);
  }
  m_pcapQueue.Clear();
  m_canQueue.Clear();
  m_genericQueue.Clear();
  m_inputsToRead.clear();
  m_openStreams.clear();
  // The next run sizes its output for what it carries then. A reader may
  // still hold a sample (a shutdown that did not wait for the drain, a run
  // ended by an error): the buffers go only once both FIFOs are empty;
  // otherwise the shutdown frees them after every reader has given its
  // samples back, or the next Birth does.
  if (IsFIFOEmpty(Output("output")) && IsFIFOEmpty(Output("end_of_file"))) FreeBuffers();
}

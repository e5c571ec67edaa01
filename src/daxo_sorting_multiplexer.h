// The SortingMultiplexer component: N streams (a data input and an
// end-of-file input each) merged into one output ordered by timestamp.
//
// Each Core reads at most one sample from the stream whose last content is
// oldest, queues its packets (PCAP), frames (CAN) or the whole serialized
// sample (any other type) in a timestamp-ordered queue, and writes at most
// one output sample while keeping "buffer_packet_count" entries back. Once
// every stream has sent its end-of-file and "flush_delay" has passed, the
// queue is written out, one end-of-file sample follows, and the component
// ends itself when both output FIFOs have been emptied.
//
// Threading: threaded model. Core, Birth and Death run on the component's
// own thread and own the queues, the read-order map and the statistics (no
// lock). Dynamic runs on the thread that changes a property while the
// component is not living (CallDynamic). "vector_max_size" and
// "vector_max_latency" are read at each Core under the module's locks.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "daxo_definitions.h"
#include "daxo_dynamic_io_models.h"
#include "daxo_type_filter.h"
#include "pcap_data.h"
#include "sorted_lane_queue.h"

/// Accepts PCAP stream samples: dynamic structures named "DAXOpcap_data_t".
extern const DAXOTypeFilterBase DAXOFilterPCAPStructure;
/// The same with every kind bit fixed; declared for peers, used by nothing.
extern const DAXOTypeFilterBase DAXOFilterPCAPStructureStrict;

/// PCAP queue order: by seconds, then microseconds; equal times keep their
/// insertion order.
struct KyComparePcapTs {
  bool operator()(const DAXOpcap_packet_header_t& a, const DAXOpcap_packet_header_t& b) const {
    return a.ts_seconds != b.ts_seconds ? a.ts_seconds < b.ts_seconds
                                        : a.ts_microseconds < b.ts_microseconds;
  }
};

/// Timestamp order; an entry is placed before every entry of the same time
/// (InsertBeforeEqual in the read-order map, the queues' tie rule), so equal
/// times come out newest first.
struct KyCompareIntTs {
  bool operator()(std::int64_t a, std::int64_t b) const { return a < b; }
};

class daxo_sorting_multiplexer : public DAXOpcap_component {
 public:
  enum DataTypes { DAXOpcap = 0, DAXOcan = 1, DAXOany = 2, DAXOundetermined = 3 };

  /// Frames per CAN output element.
  static constexpr int KyMaxCanFramesOut = 256;
  // Index of each property in the property table.
  static constexpr int KyPropNbInputs = 0;
  static constexpr int KyPropBufferPacketCount = 1;
  static constexpr int KyPropVectorMaxSize = 2;
  static constexpr int KyPropVectorMaxLatency = 3;
  static constexpr int KyPropFlushDelay = 4;

  /// The model's record: "SortingMultiplexer" version "1.4.0", threaded,
  /// priority 128; its table counts are -1 (tables end with a zero row).
  static DAXOComponentDefinition s_componentDefinition;
  /// The record's instantiation function.
  static DAXOComponent* Instantiate(const char* name, DAXOComponentDefinition& definition);

  daxo_sorting_multiplexer(const char* name, DAXOComponentDefinition& definition);
  ~daxo_sorting_multiplexer() override;

  void Dynamic() override;
  void Birth() override;
  void Core() override;
  void Death() override;
  void FreeBuffers() override;

  /// Reads and checks "vector_max_size" and "vector_max_latency".
  void SetVectorSize();
  bool ValidateDataInputs() const;
  bool AreDataInputsConnected() const;
  bool AreEofInputsConnected() const;

  /// "1.5 s", "2.5 ms", "900 us": the unit by magnitude.
  static DAXOStreamedString FormatTimestamp(std::int64_t t);

  // Run statistics (read by tests and the tool after a run).
  std::int64_t WrongOrderCount() const { return m_wrongOrderCount; }
  std::int64_t MaxNegTimestampJump() const { return m_maxNegTimestampJump; }
  DataTypes SelectedDataType() const { return m_selectedDataType; }

 private:
  struct InputEofPair {
    std::vector<DAXOInput*> eofInputs;
    std::vector<DAXOInput*> dataInputs;
  };
  using ReadOrder = std::multimap<std::int64_t, std::int32_t, KyCompareIntTs>;
  // One lane per input stream. PCAP: key the packet header, value its
  // caplen bytes. CAN: key the frame's time, value the whole frame. Any:
  // key the sample's time, value the serialized sample.
  using PcapQueue = SortedLaneQueue<DAXOpcap_packet_header_t, KyComparePcapTs, false>;
  using CanQueue = SortedLaneQueue<std::int64_t, KyCompareIntTs, true>;
  using GenericQueue = SortedLaneQueue<std::int64_t, KyCompareIntTs, true>;

  template <class Map, class Value>
  static void InsertBeforeEqual(Map& map, std::int64_t key, Value&& value) {
    map.emplace_hint(map.lower_bound(key), key, std::forward<Value>(value));
  }

  int SelectInputToRead();
  void ReadData(DAXOIOElt* element, int index);
  static void ReplaceElmByValue(ReadOrder& map, std::int64_t timestamp, std::int32_t index);
  /// Queues the whole sample, serialized, on the generic queue's lane `index`.
  void QueueSerialized(DAXOIOElt* element, int index);
  void WriteData(std::int64_t minKept, std::int32_t sizeLimit, std::int64_t latencyLimit);
  void WriteCan(std::int64_t minKept, std::int32_t sizeLimit, std::int64_t latencyLimit);
  void WritePcap(std::int64_t minKept, std::int32_t sizeLimit, std::int64_t latencyLimit);
  void WriteAny(std::int64_t minKept);
  std::size_t QueueSize() const;
  void CheckPacketTiming(std::int64_t timestamp);
  void FlushInternalBuffer();
  bool IsFlushDelayReached();
  std::pair<std::int64_t, std::int64_t> GetEofTimestamp() const;
  void WriteEof();
  bool AreEofSignalsReceived() const;
  long ReadIntegerProperty(int index);

  DAXO::DynamicInputModelSet m_dynamicInputModels;
  DAXO::DynamicOutputModelSet m_dynamicOutputModels;
  bool m_firstRun = false;
  std::int64_t m_nbInputs = 0;
  ReadOrder m_inputsToRead;
  std::vector<std::pair<std::int64_t, std::int64_t>> m_inputEofReceived;
  InputEofPair m_inputEofPair;
  DataTypes m_selectedDataType = DAXOundetermined;
  std::int32_t m_minBufferSize = 0;
  std::int32_t m_maxVectorSize = 1;
  std::int64_t m_maxVectorLatency = 100000;
  std::int64_t m_wrongOrderCount = 0;
  std::int64_t m_lastPacketTimestamp = 0;
  std::int64_t m_maxNegTimestampJump = 0;
  PcapQueue m_pcapQueue;
  std::int32_t m_linkType = 0;
  CanQueue m_canQueue;
  GenericQueue m_genericQueue;
  bool m_isBufferFlushed = false;
  std::int64_t m_lastDataTs = 0;
};

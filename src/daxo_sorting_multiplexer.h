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
// Two reading rules ("exact_order", off by default):
// - Live (off): the stream whose last content is oldest is read first, and
//   a stream whose FIFO is empty at that moment is skipped for the next
//   one. The multiplexer never waits for a slow stream, so what it writes
//   depends on which threads ran: entries held back
//   ("buffer_packet_count") absorb the lag, and what comes too late is
//   written out of order and counted.
// - Exact (on): a stream that has not ended is never skipped. Each open
//   stream has a mark, the key of the last content read from it (below
//   every key before its first sample). The stream with the least mark
//   (the lower index on a tie) is read next, waiting for its next sample
//   or its end. The front entry, of key k from stream i, is written only
//   when every other open stream j stands after it: (k, i) < (mark j, j).
//   An open stream in time order therefore can never bring an entry that
//   belongs before one already written, so inputs each in time order give
//   the same output, in time order, on every run: equal keys come out in
//   input order (the lower input first) and, within an input, in arrival
//   order. "buffer_packet_count" entries are still held back on top, to
//   reorder inputs that are disordered themselves. A stream ends when its
//   end of file (value > 0) is taken while its data FIFO is empty; an end
//   of file that arrives with data still queued is kept pending until the
//   stream is next selected with an empty data FIFO, so the point where a
//   stream ends does not depend on timing either.
//   Memory: the held-back entries, plus for each open stream about the
//   entries of the one sample that carried it past the slowest stream. A
//   stream is not read further while another lags.
//
// Threading: threaded model. Core, Birth and Death run on the component's
// own thread and own the queues, the read-order map and the statistics (no
// lock). Dynamic runs on the thread that changes a property while the
// component is not living (CallDynamic). "vector_max_size" and
// "vector_max_latency" are read at each Core under the module's locks.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "daxo_definitions.h"
#include "daxo_dynamic_io_models.h"
#include "daxo_type_filter.h"
#include "pcap_data.h"
#include "sorted_lane_queue.h"

/// Accepts PCAP stream samples: the fields of pcap_stream::KyStreamFilter.
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
  /// The largest nb_inputs.
  static constexpr int KyMaxInputs = 10000;
  // Index of each property in the property table.
  static constexpr int KyPropNbInputs = 0;
  static constexpr int KyPropBufferPacketCount = 1;
  static constexpr int KyPropVectorMaxSize = 2;
  static constexpr int KyPropVectorMaxLatency = 3;
  static constexpr int KyPropFlushDelay = 4;
  static constexpr int KyPropExactOrder = 5;

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
  bool ExactOrder() const { return m_exactOrder; }

 private:
  struct InputEofPair {
    std::vector<DAXOInput*> eofInputs;
    std::vector<DAXOInput*> dataInputs;
  };
  using ReadOrder = std::multimap<std::int64_t, std::int32_t, KyCompareIntTs>;
  // One lane per input stream. PCAP: key the packet header, value its
  // caplen bytes. CAN: key the frame's time, value the whole frame. Any:
  // key the sample's time, value the serialized sample.
  using PcapQueue = SortedLaneQueue<DAXOpcap_packet_header_t, KyComparePcapTs>;
  using CanQueue = SortedLaneQueue<std::int64_t, KyCompareIntTs>;
  using GenericQueue = SortedLaneQueue<std::int64_t, KyCompareIntTs>;
  // A key of any kind as two words that order as the queues order keys.
  using Mark = std::pair<std::uint64_t, std::uint64_t>;
  static Mark MarkOf(const DAXOpcap_packet_header_t& header) {
    return {header.ts_seconds, header.ts_microseconds};
  }
  static Mark MarkOf(std::int64_t key) {
    return {static_cast<std::uint64_t>(key) ^ (std::uint64_t{1} << 63), 0};
  }
  // Exact order: the open streams by (mark, index), least first.
  using OpenStreams = std::set<std::tuple<std::uint64_t, std::uint64_t, std::int32_t>>;

  template <class Map, class Value>
  static void InsertBeforeEqual(Map& map, std::int64_t key, Value&& value) {
    map.emplace_hint(map.lower_bound(key), key, std::forward<Value>(value));
  }

  int SelectInputToRead();
  /// One step of the exact rule on stream `idx`: read its next sample or
  /// its end; false when the read failed (the run ends).
  bool ReadExact(int idx);
  void ReadData(DAXOIOElt* element, int index);
  /// The end of file `element` of stream `idx`.
  void RecordEof(DAXOIOElt* element, int idx);
  // Exact order: a stream's new mark, and its end.
  void MoveMark(int index, const Mark& mark);
  void CloseStream(int index);
  bool IsOpen(int index) const { return m_streamOpen[static_cast<std::size_t>(index)]; }
  /// Whether the queue's front may be written now (always, unless exact).
  bool MayWriteFront() const;
  /// The same for a front whose key is `front`: below every open stream's
  /// mark it may go whatever its stream (the common case, one comparison).
  bool MayWrite(const Mark& front) const {
    return !m_exactOrder || front < m_leastMark || MayWriteFront();
  }
  void UpdateLeastMark();
  /// Sizes "output" for the data kind of this run.
  void PrepareOutput(DAXOOutput& output, const DAXOTypeInfo& type);
  static void ReplaceElmByValue(ReadOrder& map, std::int64_t timestamp, std::int32_t index);
  /// Queues the whole sample, serialized, on the generic queue's lane `index`.
  void QueueSerialized(DAXOIOElt* element, int index);
  // The writers answer the entries written, or -1 when the output could
  // not be written (reported; the run ends).
  long WriteData(std::int64_t minKept, std::int32_t sizeLimit, std::int64_t latencyLimit);
  long WriteCan(std::int64_t minKept, std::int32_t sizeLimit, std::int64_t latencyLimit);
  long WritePcap(std::int64_t minKept, std::int32_t sizeLimit, std::int64_t latencyLimit);
  long WriteAny(std::int64_t minKept);
  /// Exact order: every output sample that may be written now.
  bool WriteReady();
  std::size_t QueueSize() const;
  // Counts and reports an entry written before the one written last. The
  // first entry of a run is compared with KyNoPacketYet, below every time.
  void CheckPacketTiming(std::int64_t timestamp) {
    if (timestamp < m_lastPacketTimestamp) ReportWrongOrder(timestamp);
    m_lastPacketTimestamp = timestamp;
  }
  void ReportWrongOrder(std::int64_t timestamp);
  /// False when a write failed (the run ends).
  bool FlushInternalBuffer();
  bool IsFlushDelayReached();
  std::pair<std::int64_t, std::int64_t> GetEofTimestamp() const;
  bool WriteEof();
  bool AreEofSignalsReceived() const;
  long ReadIntegerProperty(int index);

  DAXO::DynamicInputModelSet m_dynamicInputModels;
  DAXO::DynamicOutputModelSet m_dynamicOutputModels;
  static constexpr std::int64_t KyNoPacketYet = std::numeric_limits<std::int64_t>::min();
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
  PcapQueue m_pcapQueue{LaneTies::KyOldestFirst};
  std::int32_t m_linkType = 0;
  CanQueue m_canQueue{LaneTies::KyNewestFirst};
  GenericQueue m_genericQueue{LaneTies::KyNewestFirst};
  bool m_isBufferFlushed = false;
  std::int64_t m_lastDataTs = 0;
  // Exact order (set by Birth from "exact_order").
  bool m_exactOrder = false;
  OpenStreams m_openStreams;
  Mark m_leastMark;  // the least open stream's mark (all ones when none)
  std::vector<Mark> m_streamMark;
  std::vector<bool> m_streamOpen;
  // An end of file taken while data was still queued, applied once the
  // stream's data FIFO is empty: (value, timestamp, time of issue).
  struct PendingEof {
    bool pending = false;
    std::int64_t value = 0;
    std::int64_t timestamp = 0;
    std::int64_t timeOfIssue = 0;
  };
  std::vector<PendingEof> m_pendingEof;
};

// Test components around the SortingMultiplexer package in the real engine:
// sources that play prepared PCAP packets, CAN frames or Float64 samples
// in batches (and then their end of stream), and a sink that records what
// the multiplexer writes. They are models of this executable (its own copy
// of the SDK), connected to the package's component by the engine, as any
// other package's components would be.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "daxo_io.h"
#include "engine_test_support.h"
#include "pcap_data.h"

namespace velquor::test {

/// One packet as the tests know it: time in microseconds and its bytes.
struct Packet {
  std::int64_t time = 0;
  std::uint32_t len = 0;
  std::vector<std::uint8_t> bytes;
  bool operator==(const Packet& o) const {
    return time == o.time && len == o.len && bytes == o.bytes;
  }
  bool operator<(const Packet& o) const {
    return time != o.time ? time < o.time : (len != o.len ? len < o.len : bytes < o.bytes);
  }
};

/// `count` packets from `start` every `step` µs, sizes from `minSize` to
/// `maxSize` with a recognisable content (stream id, index).
inline std::vector<Packet> MakePackets(int stream, int count, std::int64_t start, std::int64_t step,
                                       int minSize, int maxSize, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> size(minSize, maxSize);
  std::vector<Packet> packets(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Packet& p = packets[static_cast<size_t>(i)];
    p.time = start + step * i;
    p.bytes.resize(static_cast<size_t>(size(random)));
    for (size_t b = 0; b < p.bytes.size(); ++b) {
      p.bytes[b] = static_cast<std::uint8_t>(stream * 31 + i * 7 + static_cast<int>(b));
    }
    p.len = static_cast<std::uint32_t>(p.bytes.size() + 4);
  }
  return packets;
}

/// Cut points of `n` items into batches of 1 to `maxBatch`.
inline std::vector<int> Batches(int n, int maxBatch, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> size(1, maxBatch);
  std::vector<int> batches;
  for (int left = n; left > 0;) {
    const int b = std::min(left, size(random));
    batches.push_back(b);
    left -= b;
  }
  return batches;
}

/// Writes the end-of-file sample (`value`, `timestamp`) on "end_of_file".
inline void WriteEndOfFile(DAXOComponent& source, std::int64_t value, DAXOTimestamp timestamp) {
  DAXOIOElt* eof = source.StartWriting(source.Output("end_of_file"));
  if (eof == nullptr) return;
  *eof->Integer64(0) = value;
  eof->Timestamp() = timestamp;
  source.StopWriting(eof);
}

/// What every test source does once its data is played: an end of file of
/// `value`, then its end.
inline void EndStream(DAXOComponent& source, std::int64_t value, DAXOTimestamp timestamp) {
  WriteEndOfFile(source, value, timestamp);
  source.CommitSuicide();
}

/// The loop of every test sink: reads "input" and "eof" together, records
/// each data sample (Record, under `lock`) and the end-of-file sample, and
/// ends once the end of file came and "input" is drained. `entries` is
/// raised once per entry (packet, frame, sample) recorded, so that a test
/// can wait for what the multiplexer wrote.
class RecordingSink : public DAXOComponent {
 public:
  RecordingSink(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  /// Each run starts with nothing recorded.
  void Birth() override {
    std::lock_guard<std::mutex> guard(lock);
    eofSeen = false;
    Forget();
  }
  void Core() override {
    DAXOInput* inputs[2] = {&Input("input"), &Input("eof")};
    if (eofSeen && !DataAvailableInFIFO(*inputs[0])) {
      CommitSuicide();
      return;
    }
    int which = -1;
    DAXOIOElt* e = StartReading(2, inputs, &which);
    if (e == nullptr) return;
    std::lock_guard<std::mutex> guard(lock);
    if (which == 1) {
      eofValue = *e->Integer64(0);
      eofTimestamp = e->Timestamp();
      eofSeen = true;
    } else {
      for (int n = Record(*e); n > 0; --n) entries.Raise();
    }
    changed.notify_all();
  }
  /// Waits until `done()` (called under `lock`) holds, at most `limit`.
  template <class Done>
  bool WaitUntil(Done done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, limit, done);
  }
  std::mutex lock;
  std::condition_variable changed;
  Counter entries;
  bool eofSeen = false;
  std::int64_t eofValue = 0;
  DAXOTimestamp eofTimestamp = 0;

 protected:
  /// One data sample, under `lock`; how many entries it held.
  virtual int Record(DAXOIOElt& e) = 0;
  /// Drops what was recorded, under `lock`.
  virtual void Forget() = 0;
};

// --- PCAP ------------------------------------------------------------------------------

/// Plays `packets` in `batches` on "output" (PCAP stream samples of
/// `linkType`), then one end-of-file sample (value `eofValue`, timestamp of
/// the last packet) on "end_of_file", then ends. With `pace`, waits a
/// random 0-200 µs of engine time between samples. With `holdAt`, sets
/// `holding` before that batch and waits for `release` (once).
class PcapSource : public DAXOpcap_component {
 public:
  PcapSource(const char* name, DAXOComponentDefinition& d)
      : DAXOComponent(name, d), DAXOpcap_component(name, d) {}
  void Birth() override {
    next = 0;
    batch = 0;
    DAXOpcap_component::Birth(Output("output"));
  }
  void Core() override {
    if (batch == holdAt && !held) {
      held = true;
      holding.Set();
      Wait4Event(release, -1);
    }
    if (batch >= batches.size()) {
      EndStream(*this, eofValue, packets.empty() ? 0 : packets.back().time);
      return;
    }
    if (pace) Rest(std::uniform_int_distribution<int>(0, 200)(random));
    pcap_stream::pcap_data_writer writer(*this, Output("output"), linkType, 0);
    if (!writer.Ok()) return;
    for (int k = 0; k < batches[batch]; ++k, ++next) {
      const Packet& p = packets[next];
      DAXOpcap_packet_header_t h{static_cast<std::uint32_t>(p.bytes.size()), p.len,
                                 static_cast<std::uint64_t>(p.time / 1000000),
                                 static_cast<std::uint64_t>(p.time % 1000000)};
      writer.set_next_packet(h, p.bytes.data());
      if (k == 0) writer.set_timestamp(p.time);
    }
    writer.End();
    ++batch;
  }
  void FreeBuffers() override { DAXOpcap_component::FreeBuffers(); }

  std::vector<Packet> packets;
  std::vector<int> batches;
  std::int32_t linkType = 1;
  std::int64_t eofValue = 1;
  bool pace = false;
  std::mt19937 random{7};
  size_t next = 0;
  size_t batch = 0;
  size_t holdAt = SIZE_MAX;  // the batch index (batches.size(): the end of file)
  bool held = false;
  DAXOEvent holding;
  DAXOEvent release;
};

/// Records every packet of every sample on "input" and the end-of-file
/// sample on "eof".
class PcapSink : public RecordingSink {
 public:
  PcapSink(const char* name, DAXOComponentDefinition& d) : RecordingSink(name, d) {}
  void Forget() override {
    packets.clear();
    sampleSizes.clear();
    sampleSpans.clear();
    sampleTimestamps.clear();
  }
  int Record(DAXOIOElt& e) override {
    const auto* s = static_cast<const DAXOpcap_data_t*>(e.Data());
    std::int64_t first = 0;
    std::int64_t last = 0;
    for (int k = 0; k < s->nb_packets; ++k) {
      DAXOpcap_packet_header_t h;
      std::memcpy(&h, s->data + s->packet_offsets[k], sizeof h);
      const std::uint8_t* bytes = s->data + s->packet_offsets[k] + s->packet_header_size;
      Packet p{pcap_stream::Microseconds(h), h.len,
               std::vector<std::uint8_t>(bytes, bytes + h.caplen)};
      if (k == 0) first = p.time;
      last = p.time;
      packets.push_back(std::move(p));
    }
    // Copies: the record is packed, its fields may not be bound to references.
    sampleSizes.push_back(int{s->nb_packets});
    sampleSpans.push_back(last - first);
    sampleTimestamps.push_back(e.Timestamp() == first);
    return s->nb_packets;
  }
  std::vector<Packet> packets;
  std::vector<int> sampleSizes;
  std::vector<std::int64_t> sampleSpans;
  std::vector<bool> sampleTimestamps;  // each: stamped with its first packet's time
};

// --- CAN ---------------------------------------------------------------------------------

/// Plays vectors of CAN frames (96-byte records) on "output". With
/// `reopenAt`, writes an end of file of value 0 before that vector (which
/// leaves the stream open), sets `paused` and waits for `release` (once).
class CanSource : public DAXOComponent {
 public:
  CanSource(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Birth() override { batch = 0; }
  void Core() override {
    if (batch == reopenAt && !reopened) {
      reopened = true;
      WriteEndOfFile(*this, 0, vectors[batch - 1].back().ts);
      paused.Set();
      Wait4Event(release, -1);  // throws when the diagram shuts down first
    }
    if (batch >= vectors.size()) {
      EndStream(*this, 1, vectors.empty() ? 0 : vectors.back().back().ts);
      return;
    }
    DAXOIOElt* e = StartWriting(Output("output"));
    if (e == nullptr) return;
    auto* frames = static_cast<DAXOCANUniFrame*>(e->Data());
    const auto& v = vectors[batch++];
    std::copy(v.begin(), v.end(), frames);
    e->VectorSize() = static_cast<int>(v.size());
    e->Timestamp() = v.front().ts;
    StopWriting(e);
  }
  std::vector<std::vector<DAXOCANUniFrame>> vectors;
  size_t batch = 0;
  size_t reopenAt = SIZE_MAX;
  bool reopened = false;
  DAXOEvent paused;
  DAXOEvent release;
};

/// Records CAN frames.
class CanSink : public RecordingSink {
 public:
  CanSink(const char* name, DAXOComponentDefinition& d) : RecordingSink(name, d) {}
  int Record(DAXOIOElt& e) override {
    const auto* f = static_cast<const DAXOCANUniFrame*>(e.Data());
    frames.insert(frames.end(), f, f + e.VectorSize());
    sampleSizes.push_back(e.VectorSize());
    return e.VectorSize();
  }
  void Forget() override {
    frames.clear();
    sampleSizes.clear();
  }
  std::vector<DAXOCANUniFrame> frames;
  std::vector<int> sampleSizes;
};

// --- any other type: Float64 vectors --------------------------------------------------

/// Plays Float64 vectors (4 values: the sample's number and three more) at
/// the given timestamps on "output".
class AnySource : public DAXOComponent {
 public:
  AnySource(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Birth() override { next = 0; }
  void Core() override {
    if (next >= times.size()) {
      EndStream(*this, 1, times.empty() ? 0 : times.back());
      return;
    }
    DAXOIOElt* e = StartWriting(Output("output"), times[next]);
    if (e == nullptr) return;
    for (int k = 0; k < 4; ++k) *e->Float64(k) = tag + static_cast<double>(next) + k / 10.0;
    e->VectorSize() = 3 + static_cast<int>(next % 2);  // used size varies
    StopWriting(e);
    ++next;
  }
  std::vector<DAXOTimestamp> times;
  double tag = 0;
  size_t next = 0;
};

/// Records Float64 vectors (values in use) and their timestamps.
class AnySink : public RecordingSink {
 public:
  AnySink(const char* name, DAXOComponentDefinition& d) : RecordingSink(name, d) {}
  int Record(DAXOIOElt& e) override {
    std::vector<double> v;
    for (int k = 0; k < e.VectorSize(); ++k) v.push_back(*e.Float64(k));
    samples.push_back(v);
    timestamps.push_back(e.Timestamp());
    return 1;
  }
  void Forget() override {
    samples.clear();
    timestamps.clear();
  }
  std::vector<std::vector<double>> samples;
  std::vector<DAXOTimestamp> timestamps;
};

/// A CAN frame of id `id` at `ts` whose first data byte is `tag`.
inline DAXOCANUniFrame Frame(std::uint32_t id, std::int64_t ts, std::uint8_t tag) {
  DAXOCANUniFrame f{};
  f.id = id;
  f.ts = ts;
  f.data[0] = tag;
  return f;
}

}  // namespace velquor::test

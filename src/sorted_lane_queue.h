// SortedLaneQueue: the multiplexer's timestamp-ordered queue of byte
// records, fed by several lanes (its input streams) whose records nearly
// always arrive in order.
//
// Order: by key under `Less`; records with equal keys by the tie rule given
// to Reset: by insertion, the first inserted first (KyOldestFirst) or the
// last inserted first (KyNewestFirst); or by lane, the lower lane first and
// within a lane the first inserted first (KyByLane). Every record carries an
// insertion number and its lane, so the order is total and the front is
// always the one least record.
//
// Storage: a record's key is stored right before its bytes, so that the
// two can be copied out as one block (FrontRecord). A record that keeps its
// lane sorted is appended to the lane's chain of 64 KiB chunks (a record
// never spans two chunks; a larger record gets a chunk of its own). Chunks
// emptied by Pop go to a pool that serves every lane, so a run allocates
// and backs about as much memory as its largest content, and records are
// never moved. A record that would break its lane's order (a backwards step
// in its stream, or an equal key under KyNewestFirst) goes to a binary heap
// of its own with its own allocation. The front is the lesser of the least
// lane head (the non-empty lanes are kept in a binary heap keyed by their
// heads) and the heap's top: Push and Pop cost O(1) plus O(log lanes) in
// the common case and O(log n) for out-of-order records.
//
// Memory: the content, one partly used chunk per lane, and the pool (the
// chunks once used, kept until Clear(); Reset() keeps them for the next run).
//
// Threading: none. One thread owns a queue; pointers handed out stay valid
// until the next Push, Pop, Reset or Clear.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "daxo_system.h"

/// How records of equal keys are ordered.
enum class LaneTies {
  KyOldestFirst,  // insertion order
  KyNewestFirst,  // the last inserted first
  KyByLane,       // the lower lane first; within a lane, insertion order
};

template <class Key, class Less>
class SortedLaneQueue {
  static_assert(std::is_trivially_copyable_v<Key>, "keys are stored as bytes");

 public:
  static constexpr std::size_t KyChunkSize = 64 * 1024;

  explicit SortedLaneQueue(LaneTies ties) : m_ties(ties) {}
  ~SortedLaneQueue() { Clear(); }
  SortedLaneQueue(const SortedLaneQueue&) = delete;
  SortedLaneQueue& operator=(const SortedLaneQueue&) = delete;

  /// Empties the queue and sets the number of lanes and the tie rule;
  /// storage is kept.
  void Reset(std::size_t lanes, LaneTies ties) {
    m_ties = ties;
    Reset(lanes);
  }
  /// The same, keeping the tie rule.
  void Reset(std::size_t lanes) {
    for (Lane& lane : m_lanes) {
      while (lane.first != nullptr) ReleaseFront(lane);
    }
    m_lanes.assign(lanes, Lane{});
    m_laneHeap.clear();
    m_laneHeap.reserve(lanes);  // HeapInsert then never throws
    m_spill.clear();
    m_size = 0;
    m_seq = 0;
  }

  /// Empties the queue and releases every storage.
  void Clear() {
    for (Lane& lane : m_lanes) FreeChain(lane.first);
    m_lanes.clear();
    m_lanes.shrink_to_fit();
    FreeChain(m_pool);
    m_pool = nullptr;
    m_laneHeap.clear();
    m_laneHeap.shrink_to_fit();
    m_spill.clear();
    m_spill.shrink_to_fit();
    m_size = 0;
  }

  std::size_t Size() const { return m_size; }
  bool Empty() const { return m_size == 0; }

  /// Queues a record of `bytes` bytes under `key` on `lane` (< the count
  /// given to Reset) and returns where its bytes go; the caller fills them
  /// before the next call. std::bad_alloc when storage cannot grow or the
  /// record is 4 GiB or more (the queue is unchanged).
  std::uint8_t* Push(std::size_t lane, const Key& key, std::size_t bytes) {
    if (bytes > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    Lane& l = m_lanes[lane];
    const Stamp stamp{m_seq, static_cast<std::uint32_t>(lane), static_cast<std::uint32_t>(bytes),
                      key};
    if (l.count == 0 || Before(l.lastStamp, stamp)) {
      std::uint8_t* at = Append(l, bytes);
      new (at) Stamp(stamp);
      ++m_seq;
      ++m_size;
      l.lastStamp = stamp;
      if (l.count++ == 0) HeapInsert(static_cast<std::uint32_t>(lane));
      return at + sizeof(Stamp);
    }
    // The key goes in front of the bytes here too (FrontRecord).
    Spill spill{stamp, std::unique_ptr<std::uint8_t[]>(new std::uint8_t[sizeof(Key) + bytes])};
    std::memcpy(spill.data.get(), &key, sizeof(Key));
    std::uint8_t* at = spill.data.get() + sizeof(Key);
    m_spill.push_back(std::move(spill));  // may throw: nothing changed yet
    std::push_heap(m_spill.begin(), m_spill.end(), SpillAfter{this});
    ++m_seq;
    ++m_size;
    return at;
  }

  /// The front record (the queue must not be empty).
  const Key& FrontKey() const { return FrontStamp().key; }
  std::size_t FrontLane() const { return FrontStamp().lane; }
  const std::uint8_t* FrontData() const { return FrontRecord() + sizeof(Key); }
  std::uint8_t* FrontData() { return const_cast<std::uint8_t*>(std::as_const(*this).FrontData()); }
  std::size_t FrontSize() const { return FrontStamp().size; }
  /// The front record's key (its bytes) immediately followed by its
  /// FrontSize() bytes: one block of sizeof(Key) + FrontSize() bytes.
  const std::uint8_t* FrontRecord() const {
    if (FrontIsSpill()) return m_spill.front().data.get();
    return reinterpret_cast<const std::uint8_t*>(&LaneHead(m_lanes[m_laneHeap.front()])->key);
  }

  /// Removes the front record (the queue must not be empty).
  void Pop() {
    --m_size;
    if (FrontIsSpill()) {
      std::pop_heap(m_spill.begin(), m_spill.end(), SpillAfter{this});
      m_spill.pop_back();
      return;
    }
    Lane& l = m_lanes[m_laneHeap.front()];
    l.head += RecordBytes(LaneHead(l)->size);
    // A chunk is done once its last record is consumed; the last chunk of
    // a lane that still holds records is never done.
    if (l.head == l.first->used && (l.first != l.last || l.count == 1)) {
      ReleaseFront(l);
    }
    if (--l.count == 0) {
      HeapRemoveTop();
    } else {
      SiftDown(0);
    }
  }

 private:
  // A record's head in a chunk, its bytes following the key directly.
  struct Stamp {
    std::uint64_t seq;
    std::uint32_t lane;
    std::uint32_t size;  // the record's bytes
    Key key;
  };
  static_assert(alignof(Stamp) <= 8, "records are placed at multiples of 8");
  static_assert(offsetof(Stamp, key) + sizeof(Key) == sizeof(Stamp),
                "no padding between a record's key and its bytes");

  // A chunk's records follow its header in the same allocation.
  struct Chunk {
    Chunk* next;
    std::size_t capacity;
    std::size_t used;  // records are appended here
    std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(this + 1); }
  };
  static_assert(sizeof(Chunk) % 8 == 0, "records start at a multiple of 8");
  // Records run from `head` in `first` to `used` in `last`, along `next`.
  struct Lane {
    Chunk* first = nullptr;
    Chunk* last = nullptr;
    std::size_t head = 0;
    std::size_t count = 0;
    Stamp lastStamp{};  // the lane's last record, while count > 0
  };
  struct Spill {
    Stamp stamp;
    std::unique_ptr<std::uint8_t[]> data;  // the key, then the record's bytes
  };

  // The queue's order: key, then the tie rule.
  bool Before(const Stamp& a, const Stamp& b) const {
    if (Less{}(a.key, b.key)) return true;
    if (Less{}(b.key, a.key)) return false;
    switch (m_ties) {
      case LaneTies::KyNewestFirst:
        return a.seq > b.seq;
      case LaneTies::KyByLane:
        if (a.lane != b.lane) return a.lane < b.lane;
        return a.seq < b.seq;
      case LaneTies::KyOldestFirst:
        break;
    }
    return a.seq < b.seq;
  }
  struct SpillAfter {
    const SortedLaneQueue* queue;
    bool operator()(const Spill& a, const Spill& b) const {
      return queue->Before(b.stamp, a.stamp);
    }
  };

  static std::size_t RecordBytes(std::size_t bytes) {
    return (sizeof(Stamp) + bytes + 7) & ~static_cast<std::size_t>(7);
  }
  static const Stamp* LaneHead(const Lane& l) {
    return std::launder(reinterpret_cast<const Stamp*>(l.first->Bytes() + l.head));
  }

  // Room for one record after the lane's last one, in a new chunk when the
  // last chunk is full.
  std::uint8_t* Append(Lane& l, std::size_t bytes) {
    const std::size_t need = RecordBytes(bytes);
    if (l.last == nullptr || l.last->used + need > l.last->capacity) {
      Chunk* chunk = NewChunk(need);  // may throw: lane unchanged
      if (l.last == nullptr) {
        l.first = chunk;
        l.head = 0;
      } else {
        l.last->next = chunk;
      }
      l.last = chunk;
    }
    std::uint8_t* at = l.last->Bytes() + l.last->used;
    l.last->used += need;
    return at;
  }

  Chunk* NewChunk(std::size_t need) {
    Chunk* chunk = nullptr;
    if (need <= KyChunkSize && m_pool != nullptr) {
      chunk = m_pool;
      m_pool = chunk->next;
    } else {
      const std::size_t capacity = std::max(need, KyChunkSize);
      // Not zero-filled: every byte is written before it is read. Backed at
      // once (one call, not a page fault per page): a chunk is filled.
      chunk = static_cast<Chunk*>(::operator new(sizeof(Chunk) + capacity));
      DAXO::PrefaultMemory(chunk, sizeof(Chunk) + capacity);
      chunk->capacity = capacity;
    }
    chunk->next = nullptr;
    chunk->used = 0;
    return chunk;
  }

  // The first chunk leaves the lane: to the pool, or freed when it was
  // made for one large record.
  void ReleaseFront(Lane& l) {
    Chunk* chunk = l.first;
    l.first = chunk->next;
    if (l.first == nullptr) l.last = nullptr;
    l.head = 0;
    if (chunk->capacity == KyChunkSize) {
      chunk->next = m_pool;
      m_pool = chunk;
    } else {
      ::operator delete(chunk);
    }
  }

  static void FreeChain(Chunk* chunk) {
    while (chunk != nullptr) {
      Chunk* next = chunk->next;
      ::operator delete(chunk);
      chunk = next;
    }
  }

  const Stamp& HeadStamp(std::uint32_t lane) const { return *LaneHead(m_lanes[lane]); }

  bool FrontIsSpill() const {
    if (m_laneHeap.empty()) return true;
    return !m_spill.empty() && Before(m_spill.front().stamp, HeadStamp(m_laneHeap.front()));
  }
  const Stamp& FrontStamp() const {
    return FrontIsSpill() ? m_spill.front().stamp : HeadStamp(m_laneHeap.front());
  }

  // --- the heap of non-empty lanes, least head at index 0 ------------------
  // Only the top ever leaves or changes its head, so no lane needs to know
  // its place in the heap.
  void HeapInsert(std::uint32_t lane) {
    m_laneHeap.push_back(lane);
    std::size_t at = m_laneHeap.size() - 1;
    while (at > 0) {
      const std::size_t parent = (at - 1) / 2;
      if (!Before(HeadStamp(lane), HeadStamp(m_laneHeap[parent]))) break;
      m_laneHeap[at] = m_laneHeap[parent];
      at = parent;
    }
    m_laneHeap[at] = lane;
  }
  void HeapRemoveTop() {
    const std::uint32_t last = m_laneHeap.back();
    m_laneHeap.pop_back();
    if (m_laneHeap.empty()) return;
    m_laneHeap[0] = last;
    SiftDown(0);
  }
  void SiftDown(std::size_t at) {
    const std::uint32_t lane = m_laneHeap[at];
    const std::size_t n = m_laneHeap.size();
    for (;;) {
      std::size_t child = at * 2 + 1;
      if (child >= n) break;
      if (child + 1 < n && Before(HeadStamp(m_laneHeap[child + 1]), HeadStamp(m_laneHeap[child]))) {
        ++child;
      }
      if (!Before(HeadStamp(m_laneHeap[child]), HeadStamp(lane))) break;
      m_laneHeap[at] = m_laneHeap[child];
      at = child;
    }
    m_laneHeap[at] = lane;
  }

  std::vector<Lane> m_lanes;
  Chunk* m_pool = nullptr;  // free chunks of KyChunkSize, along `next`
  std::vector<std::uint32_t> m_laneHeap;
  std::vector<Spill> m_spill;  // min-heap under Before
  std::size_t m_size = 0;
  std::uint64_t m_seq = 0;
  LaneTies m_ties;
};

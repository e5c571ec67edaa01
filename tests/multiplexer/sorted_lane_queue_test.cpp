// The multiplexer's queue against a reference multimap with the same tie
// rule: random streams that are mostly in order, with backwards steps,
// runs of equal keys and records of every size, popped while being fed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <random>
#include <vector>

#include "sorted_lane_queue.h"

namespace {

struct IntLess {
  bool operator()(std::int64_t a, std::int64_t b) const { return a < b; }
};

using Bytes = std::vector<std::uint8_t>;

// A multimap keyed so that its insertion rule gives the queue's tie rule:
// (key) appending after equals, (key) inserting at the lower bound, or
// (key, lane) appending after equals. The front's key, lane and bytes must
// match the queue's.
class Reference {
 public:
  explicit Reference(LaneTies ties) : m_ties(ties) {}
  struct Record {
    std::int64_t key;
    std::size_t lane;
    Bytes bytes;
  };
  void Push(std::int64_t key, std::size_t lane, Bytes bytes) {
    const std::pair<std::int64_t, std::size_t> k{key, m_ties == LaneTies::KyByLane ? lane : 0};
    Record record{key, lane, std::move(bytes)};
    if (m_ties == LaneTies::KyNewestFirst) {
      m_map.emplace_hint(m_map.lower_bound(k), k, std::move(record));
    } else {
      m_map.emplace(k, std::move(record));
    }
  }
  std::size_t Size() const { return m_map.size(); }
  Record Pop() {
    auto it = m_map.begin();
    Record front = std::move(it->second);
    m_map.erase(it);
    return front;
  }

 private:
  LaneTies m_ties;
  std::multimap<std::pair<std::int64_t, std::size_t>, Record> m_map;
};

void RunAgainstReference(LaneTies ties, std::uint32_t seed, std::size_t lanes,
                         int backwardsPercent) {
  SCOPED_TRACE(testing::Message() << "seed " << seed << ", lanes " << lanes);
  std::mt19937 rng(seed);
  SortedLaneQueue<std::int64_t, IntLess> queue(LaneTies::KyOldestFirst);
  Reference reference(ties);
  queue.Reset(lanes, ties);
  std::vector<std::int64_t> laneTime(lanes, 0);
  std::uint8_t fill = 0;
  // False (and a failure) when the queue's front is not the reference's.
  const auto popOne = [&] {
    EXPECT_EQ(queue.Size(), reference.Size());
    const auto [key, lane, bytes] = reference.Pop();
    const bool same =
        queue.Size() == reference.Size() + 1 && queue.FrontKey() == key &&
        queue.FrontLane() == lane && queue.FrontSize() == bytes.size() &&
        (bytes.empty() || std::memcmp(queue.FrontData(), bytes.data(), bytes.size()) == 0) &&
        // The key lies right before the bytes, spilled records included.
        std::memcmp(queue.FrontRecord(), &key, sizeof key) == 0 &&
        queue.FrontRecord() + sizeof key == queue.FrontData();
    EXPECT_TRUE(same) << "expected key " << key << " of lane " << lane << ", " << bytes.size()
                      << " bytes, got key " << queue.FrontKey() << " of lane " << queue.FrontLane()
                      << ", " << queue.FrontSize();
    queue.Pop();
    return same;
  };
  for (int step = 0; step < 20000; ++step) {
    const std::size_t lane = rng() % lanes;
    const int roll = static_cast<int>(rng() % 100);
    if (roll < backwardsPercent) {
      laneTime[lane] -= static_cast<std::int64_t>(rng() % 50);  // a step back
    } else if (roll < 40) {
      // an equal key: the tie rule decides
    } else {
      laneTime[lane] += static_cast<std::int64_t>(rng() % 20);
    }
    // Mostly small records, some large, a few beyond a whole chunk (they
    // get a chunk of their own).
    const std::uint32_t kind = rng() % 256;
    const std::size_t size = kind == 0   ? 70000 + rng() % 5000
                             : kind < 32 ? rng() % 5000
                                         : rng() % 90;
    Bytes bytes(size);
    for (auto& b : bytes) b = fill++;
    std::uint8_t* at = queue.Push(lane, laneTime[lane], size);
    if (size > 0) std::memcpy(at, bytes.data(), size);
    reference.Push(laneTime[lane], lane, std::move(bytes));
    // Keep a window of a few hundred records, sometimes drain more.
    const std::size_t keep = rng() % 64 == 0 ? 0 : 300;
    while (reference.Size() > keep && rng() % 3 != 0) {
      if (!popOne()) return;
    }
  }
  while (reference.Size() > 0) {
    if (!popOne()) return;
  }
  EXPECT_TRUE(queue.Empty());
}

class SortedLaneQueueTies : public testing::TestWithParam<LaneTies> {};

// One lane, several, many; a few backwards steps, or many (spilled records).
TEST_P(SortedLaneQueueTies, MatchesAMultimapWithTheSameTieRule) {
  const std::uint32_t base = 10 * static_cast<std::uint32_t>(GetParam());
  for (std::uint32_t run = 1; run <= 4; ++run) {
    RunAgainstReference(GetParam(), base + run, run == 1 ? 1 : run * 5, run == 4 ? 30 : 3);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryRule, SortedLaneQueueTies,
                         testing::Values(LaneTies::KyOldestFirst, LaneTies::KyNewestFirst,
                                         LaneTies::KyByLane));

TEST(SortedLaneQueue, ResetEmptiesAndTheQueueServesAnotherRun) {
  SortedLaneQueue<std::int64_t, IntLess> queue(LaneTies::KyOldestFirst);
  queue.Reset(2);
  for (int k = 0; k < 1000; ++k) queue.Push(static_cast<std::size_t>(k % 2), 1000 - k, 8);
  queue.Reset(3);
  EXPECT_TRUE(queue.Empty());
  // A record's size is kept in 32 bits: a larger one is refused, not cut.
  EXPECT_THROW(queue.Push(1, 6, std::size_t{1} << 32), std::bad_alloc);
  EXPECT_TRUE(queue.Empty());
  *queue.Push(2, 7, 1) = 42;
  *queue.Push(0, 5, 1) = 41;
  ASSERT_EQ(queue.Size(), 2u);
  EXPECT_EQ(queue.FrontKey(), 5);
  EXPECT_EQ(*queue.FrontData(), 41);
  queue.Pop();
  EXPECT_EQ(*queue.FrontData(), 42);
  queue.Clear();
  EXPECT_TRUE(queue.Empty());
}

}  // namespace

#include "daxo_hash_table.h"

#include <algorithm>
#include <map>

#include "runtime_test_support.h"

namespace {

using daxo_test::Daxo;

// Expected values come from an independent re-implementation of lookup8
// (arbitrary-precision integers masked to 64 bits), run once.
TEST(DAXOStringHashFunction, HashMatchesIndependentlyComputedValues) {
  std::string first47;
  for (int i = 0; i < 47; ++i) first47 += static_cast<char>(i);
  const struct {
    std::string bytes;
    std::uint64_t level, expected;
  } cases[] = {
      {"", 0, 0x8db63936938575bfULL},
      {"a", 0xDEAD, 0xf6038801031ca0bdULL},
      {"abc", 0xDEAD, 0x959f06fcf45895d9ULL},
      {"0123456789abcdefghijklmn", 0xDEAD, 0x601968eab8c85e16ULL},  // exactly one block
      {"The quick brown fox jumps over the lazy dog", 0xDEAD, 0xe8e07f20f5e0b069ULL},
      {first47, 7, 0x4ff4282a792aac74ULL},  // one block and a 23-byte tail
      {std::string("\xff\x00\x80", 3), 0, 0x5c2f09f54186c0adULL},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DAXOStringHashFunction::hash(c.bytes.data(), c.bytes.size(), c.level), c.expected)
        << "length " << c.bytes.size();
  }
  // The functor hashes every byte of the string, NUL bytes included.
  EXPECT_EQ(DAXOStringHashFunction()(Daxo("abc")), 0x959f06fcf45895d9ULL);
  EXPECT_EQ(DAXOStringHashFunction()(Daxo(std::string("ab\0c", 4))),
            DAXOStringHashFunction::hash("ab\0c", 4, 0xDEAD));
}

TEST(DAXOHashTable, SetFindAndRemoveAgreeWithAReferenceMap) {
  DAXOStringHashTable<int> table(3);  // few buckets: long collision chains
  std::map<std::string, int> reference;
  for (int i = 0; i < 200; ++i) {
    const std::string key = "key" + std::to_string(i);
    table.Set(key.c_str(), i);
    reference[key] = i;
  }
  table["key7"] = 700;  // an existing key keeps one pair
  reference["key7"] = 700;
  for (int i = 0; i < 200; i += 3) {
    const std::string key = "key" + std::to_string(i);
    EXPECT_TRUE(table.Remove(key.c_str()));
    EXPECT_FALSE(table.Remove(key.c_str()));
    reference.erase(key);
  }
  // Keys that differ only after a NUL byte are different keys.
  table.Set(Daxo(std::string("x\0a", 3)), 1);
  table.Set(Daxo(std::string("x\0b", 3)), 2);
  reference[std::string("x\0a", 3)] = 1;
  reference[std::string("x\0b", 3)] = 2;

  EXPECT_EQ(table.Count(), static_cast<int>(reference.size()));
  for (int i = 0; i < 200; ++i) {
    const std::string key = "key" + std::to_string(i);
    const int* found = table.Find(key.c_str());
    auto expected = reference.find(key);
    if (expected == reference.end()) {
      EXPECT_EQ(found, nullptr) << key;
    } else {
      ASSERT_NE(found, nullptr) << key;
      EXPECT_EQ(*found, expected->second) << key;
    }
  }
  EXPECT_TRUE(*table.Find(Daxo(std::string("x\0b", 3))) == 2 && table.Find("x") == nullptr);
}

// Files every key in bucket 0.
struct ConstantHash {
  std::uint64_t operator()(const DAXOString&) const { return 0; }
};

TEST(DAXOHashTable, CollidingKeysKeepInsertionOrderAndTheirAddresses) {
  DAXOHashTable<DAXOString, int, ConstantHash> table(4);
  int* delta = &table.Set("delta", 0);
  for (const char* key : {"alpha", "charlie", "bravo"}) table.Set(key, 1);
  table.Set("alpha", 10);  // reassignment keeps the place
  table.Remove("charlie");
  table.Set("charlie", 20);  // re-insertion goes last
  EXPECT_EQ(table.Find("delta"), delta);

  std::vector<std::string> order;
  DAXOHashTableIterator it;
  while (auto* pair = table.nextX(it)) {
    EXPECT_TRUE(it.pair == pair && it.bucket == 0);
    order.emplace_back(static_cast<const char*>(pair->key));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"delta", "alpha", "bravo", "charlie"}));
}

TEST(DAXOHashTable, IterationVisitsEveryPairInBucketOrderThenStaysAtTheEnd) {
  DAXOStringHashTable<int> table(4);
  for (int i = 0; i < 50; ++i) table.Set(("n" + std::to_string(i)).c_str(), i);

  std::map<int, std::vector<int>> perBucket;
  int lastBucket = -1;
  DAXOHashTableIterator it;
  while (auto* pair = table.nextX(it)) {
    const int bucket = table.BucketOf(pair->key);
    EXPECT_EQ(bucket, it.bucket);
    EXPECT_GE(bucket, lastBucket);
    lastBucket = bucket;
    perBucket[bucket].push_back(pair->value);
  }
  int visited = 0;
  for (const auto& [bucket, values] : perBucket) {
    visited += static_cast<int>(values.size());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << "bucket " << bucket;
  }
  EXPECT_EQ(visited, 50);
  EXPECT_TRUE(it.pair == nullptr && table.nextX(it) == nullptr);
}

TEST(DAXOHashTable, EmptyOrClearedTableGivesNullAtTheFirstStep) {
  for (int exponent : {-1, 0, 6}) {
    DAXOStringHashTable<int> table(exponent);
    DAXOHashTableIterator it;
    EXPECT_EQ(table.nextX(it), nullptr);
    table.Set("a", 1);
    table.Clear();
    EXPECT_EQ(table.Count(), 0);
    it.Reset();
    EXPECT_TRUE(table.nextX(it) == nullptr && it.pair == nullptr);
  }
}

TEST(DAXOHashTable, CopiesAreIndependent) {
  DAXOStringHashTable<DAXOString> original(2);
  for (int i = 0; i < 20; ++i) original.Set(("k" + std::to_string(i)).c_str(), "v");
  DAXOStringHashTable<DAXOString> copy(original);
  copy.Set("k0", "changed");
  copy.Remove("k1");
  EXPECT_TRUE(*original.Find("k0") == "v" && original.Count() == 20);

  DAXOStringHashTable<DAXOString> assigned;
  assigned = copy;
  copy.Clear();
  EXPECT_TRUE(assigned.BucketCount() == 4 && assigned.Count() == 19);
  EXPECT_EQ(*assigned.Find("k0"), "changed");
}

}  // namespace

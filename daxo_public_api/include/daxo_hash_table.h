// Hash tables: a fixed number of buckets, each an insertion-ordered list of
// key/value pairs.
//
// DAXOHashTable<K, V, H> holds 2^k buckets (k is fixed at construction), each
// a DAXOList<DAXOPair<K, V>>. A key goes to bucket H()(key) & (2^k - 1); a
// lookup walks that bucket comparing keys with ==. The table does not rehash:
// choose k for the expected number of keys (lookups cost about Count() / 2^k
// comparisons). DAXOStringHashTable<V> is the table with DAXOString keys and
// DAXOStringHashFunction, the SDK's lookup8 string hash.
//
// Iteration with nextX visits the buckets in index order and, within a bucket,
// the pairs in insertion order:
//   DAXOHashTableIterator it;
//   while (auto* pair = table.nextX(it)) use(pair->key, pair->value);
//
// Lifetime: pointers to values and pairs (from Find, Set, operator[], nextX)
// stay valid until that pair is removed or the table is cleared or destroyed;
// inserting other keys never moves a pair. Removing the pair an iterator
// stands on invalidates that iterator; removing any other pair does not.
//
// Threading: not synchronised. One thread at a time, or under a lock owned by
// the user of the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "daxo_array.h"
#include "daxo_list.h"
#include "daxo_pair.h"
#include "daxo_string.h"

/// A walk over a hash table with nextX. A fresh (or Reset) iterator stands
/// before the first pair.
class DAXOHashTableIterator {
 public:
  /// Back to the position before the first pair.
  void Reset() {
    bucket = -1;
    item = nullptr;
    pair = nullptr;
  }

  int bucket = -1;                    // current bucket; -1 before the first step
  DAXOBasicListItem* item = nullptr;  // current item of that bucket's list
  void* pair = nullptr;               // the pair last returned; null at the end
};

/// The type-independent part of the hash tables.
class DAXOBasicHashTable {
 public:
  /// Bucket exponents are clamped to [0, kMaxExponent].
  static constexpr int kMaxExponent = 20;

  virtual ~DAXOBasicHashTable();

 protected:
  DAXOBasicHashTable() = default;
  DAXOBasicHashTable(const DAXOBasicHashTable&) = default;
  DAXOBasicHashTable& operator=(const DAXOBasicHashTable&) = default;

  static int ClampExponent(int k) { return k < 0 ? 0 : (k > kMaxExponent ? kMaxExponent : k); }
};

/// A hash table from K to V. K needs copy construction and ==; V needs
/// default and copy construction and copy assignment; H is a default-
/// constructible functor with `std::uint64_t operator()(const K&) const`.
template <class K, class V, class H>
class DAXOHashTable : public DAXOBasicHashTable {
 public:
  using Pair = DAXOPair<K, V>;

  static constexpr int kDefaultExponent = 6;

  /// An empty table of 2^exponent buckets (exponent clamped to
  /// [0, kMaxExponent]).
  explicit DAXOHashTable(int exponent = kDefaultExponent) : k(ClampExponent(exponent)) {
    buckets((1 << k) - 1);
  }
  /// A deep copy: same bucket count, same pairs, same order.
  DAXOHashTable(const DAXOHashTable& other) = default;
  DAXOHashTable& operator=(const DAXOHashTable& other) = default;
  ~DAXOHashTable() override = default;

  /// Files a copy of `value` under `key`: replaces the value of an existing
  /// pair in place (its position is kept) or appends a new pair to the key's
  /// bucket. Returns the stored value.
  V& Set(const K& key, const V& value) {
    DAXOList<Pair>& bucket = Bucket(key);
    if (Pair* pair = FindIn(bucket, key)) {
      pair->value = value;
      return pair->value;
    }
    return bucket.PushBack(Pair(key, value))->value.value;
  }

  /// The value filed under `key`, inserting a default-constructed value when
  /// there is none.
  V& operator[](const K& key) {
    DAXOList<Pair>& bucket = Bucket(key);
    if (Pair* pair = FindIn(bucket, key)) return pair->value;
    return bucket.PushBack(Pair(key, V()))->value.value;
  }

  /// The value filed under `key`, or null.
  V* Find(const K& key) {
    Pair* pair = FindPair(key);
    return pair != nullptr ? &pair->value : nullptr;
  }
  const V* Find(const K& key) const {
    const Pair* pair = FindPair(key);
    return pair != nullptr ? &pair->value : nullptr;
  }
  bool Contains(const K& key) const { return FindPair(key) != nullptr; }

  /// The pair filed under `key`, or null.
  Pair* FindPair(const K& key) { return FindIn(buckets[BucketOf(key)], key); }
  const Pair* FindPair(const K& key) const { return FindIn(buckets[BucketOf(key)], key); }

  /// Removes the pair filed under `key`; false when there is none.
  bool Remove(const K& key) {
    DAXOList<Pair>& bucket = Bucket(key);
    for (DAXOListIterator it = bucket.Begin(); !bucket.Finished(it); ++it) {
      if (bucket.Value(it).key == key) {
        bucket.Remove(it.ptr);
        return true;
      }
    }
    return false;
  }

  /// Number of pairs. Walks the buckets: O(2^k).
  int Count() const {
    int n = 0;
    for (int i = 0; i < BucketCount(); ++i) n += buckets[i].Length();
    return n;
  }
  bool Empty() const {
    for (int i = 0; i < BucketCount(); ++i) {
      if (!buckets[i].Empty()) return false;
    }
    return true;
  }

  /// Removes every pair; the bucket count is kept.
  void Clear() {
    for (int i = 0; i < BucketCount(); ++i) buckets(i).Clear();
  }

  int BucketExponent() const { return k; }
  int BucketCount() const { return 1 << k; }
  /// Index of the bucket `key` goes to.
  int BucketOf(const K& key) const {
    return static_cast<int>(H()(key) & (static_cast<std::uint64_t>(BucketCount()) - 1));
  }
  /// The pairs of bucket `i` in insertion order (0 <= i < BucketCount()).
  const DAXOList<Pair>& BucketList(int i) const { return buckets[i]; }

  /// Steps `it` to the next pair and returns it; null (with `it.pair` null)
  /// once every pair has been visited, and on every later step. The order is
  /// bucket order, then insertion order within a bucket.
  Pair* nextX(DAXOHashTableIterator& it) {
    return const_cast<Pair*>(std::as_const(*this).nextX(it));
  }
  const Pair* nextX(DAXOHashTableIterator& it) const {
    const int n = BucketCount();
    if (it.bucket < 0) {
      it.bucket = 0;
      it.item = buckets[0].First().ptr;
    } else if (it.item != nullptr) {
      it.item = it.item->successor;
    }
    while (it.item == nullptr && it.bucket < n) {
      if (++it.bucket < n) it.item = buckets[it.bucket].First().ptr;
    }
    if (it.item == nullptr) {
      it.pair = nullptr;
      return nullptr;
    }
    Pair* pair = &DAXOList<Pair>::ValueOf(it.item);
    it.pair = pair;
    return pair;
  }

 private:
  DAXOList<Pair>& Bucket(const K& key) { return buckets(BucketOf(key)); }

  // The pairs are heap items owned by the table, never const objects, so a
  // const table may hand out the mutable pointer to its non-const overloads.
  static Pair* FindIn(const DAXOList<Pair>& bucket, const K& key) {
    for (DAXOListIterator it = bucket.Begin(); !bucket.Finished(it); ++it) {
      Pair& pair = bucket.Value(it);
      if (pair.key == key) return &pair;
    }
    return nullptr;
  }

  // 2^k lists; Count() == Capacity() == 2^k from construction on, so the
  // array never reallocates and items never move.
  DAXOArray<DAXOList<Pair>> buckets;
  int k;
};

/// The string hash: Bob Jenkins' 64-bit lookup8 hash of the key's bytes
/// (NUL bytes included), with level 0xDEAD.
class DAXOStringHashFunction {
 public:
  static constexpr std::uint64_t kLevel = 57005;  // 0xDEAD

  /// lookup8 of `length` bytes at `key`, seeded with `level`. Any sequence
  /// of bytes may be hashed; equal bytes and level give equal results on
  /// every platform.
  static std::uint64_t hash(const void* key, std::size_t length, std::uint64_t level);

  std::uint64_t operator()(const DAXOString& key) const;
};

/// A table keyed by DAXOString, hashed with DAXOStringHashFunction.
template <class V>
class DAXOStringHashTable : public DAXOHashTable<DAXOString, V, DAXOStringHashFunction> {
 public:
  explicit DAXOStringHashTable(
      int exponent = DAXOHashTable<DAXOString, V, DAXOStringHashFunction>::kDefaultExponent)
      : DAXOHashTable<DAXOString, V, DAXOStringHashFunction>(exponent) {}
};

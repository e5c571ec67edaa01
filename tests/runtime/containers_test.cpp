// The containers: DAXOList (links, ends and moves), DAXOArray (growth, the
// ring of an owning array, attached storage), DAXOHashTable (its hash
// function, chains, iteration order, copies).
#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "daxo_array.h"
#include "daxo_hash_table.h"
#include "daxo_list.h"
#include "runtime_test_support.h"

namespace {

using daxo_test::Daxo;
using Ints = std::vector<int>;

// Walks the list both ways and checks that links, ends and count agree.
std::vector<int> Checked(const DAXOList<int>& list) {
  std::vector<int> forward;
  const DAXOBasicListItem* previous = nullptr;
  for (DAXOListIterator it = list.Begin(); !list.Finished(it); ++it) {
    EXPECT_EQ(it.Predecessor(), previous);
    previous = it.ptr;
    forward.push_back(list.Value(it));
  }
  EXPECT_EQ(previous, list.Last().ptr);
  std::vector<int> backward;
  for (DAXOListIterator it = list.End(); !list.Finished(it); --it) {
    backward.insert(backward.begin(), list.Value(it));
  }
  EXPECT_EQ(forward, backward);
  EXPECT_EQ(static_cast<int>(forward.size()), list.Length());
  EXPECT_EQ(list.Empty(), forward.empty());
  EXPECT_EQ(list.First().ptr == nullptr, list.Empty());
  return forward;
}

TEST(DAXOList, PushBackLinksAfterTheLastItem) {
  DAXOList<int> list;
  EXPECT_TRUE(list.Empty() && list.Finished(list.Begin()));
  DAXOListItem<int>* first = list.PushBack(1);
  EXPECT_TRUE(first->predecessor == nullptr && first->successor == nullptr);
  EXPECT_TRUE(list.IsFirst(list.Begin()) && list.IsLast(list.Begin()));
  list.PushBack(2);
  list.PushBack(3);
  EXPECT_EQ(Checked(list), (Ints{1, 2, 3}));
  EXPECT_TRUE(list.FirstValue() == 1 && list.LastValue() == 3);

  DAXOListIterator it = list.Iterator();
  EXPECT_EQ(list.Next(it), list.Last().Predecessor());
  EXPECT_EQ(list.Value(it), 2);
  EXPECT_EQ(list.Previous(it), first);
  EXPECT_EQ(list.Previous(it), nullptr);
  EXPECT_TRUE(list.Finished(it) && list.Previous(it) == nullptr);  // stays off the list
}

TEST(DAXOList, RemovingOrErasingAnyItemKeepsEndsAndCountConsistent) {
  DAXOList<int> list;
  for (int i = 1; i <= 5; ++i) list.PushBack(i);
  list.Remove(list.Find(3));
  EXPECT_EQ(Checked(list), (Ints{1, 2, 4, 5}));
  list.Remove(list.First());
  EXPECT_EQ(Checked(list), (Ints{2, 4, 5}));
  list.Remove(list.Last());
  EXPECT_EQ(Checked(list), (Ints{2, 4}));
  list.PopBack();
  list.PopFront();
  EXPECT_EQ(Checked(list), Ints{});
  list.PopFront();  // empty: nothing
  list.Remove(nullptr);
  EXPECT_EQ(list.Length(), 0);
  list.PushBack(9);
  EXPECT_EQ(Checked(list), Ints{9});

  // Erase during a walk continues with the successor.
  list.PopFront();
  for (int i = 0; i < 6; ++i) list.PushBack(i);
  for (DAXOListIterator it = list.Begin(); !list.Finished(it);) {
    if (list.Value(it) % 2 == 0) {
      list.Erase(it);
    } else {
      ++it;
    }
  }
  EXPECT_EQ(Checked(list), (Ints{1, 3, 5}));
}

TEST(DAXOList, InsertionsAndMovesPlaceItemsWhereAsked) {
  DAXOList<int> list;
  list.PushFront(2);
  list.PushFront(1);
  list.PushBack(4);
  DAXOListItem<int>* three = list.InsertBefore(list.Last(), 3);
  list.InsertAfter(three, 35);
  list.InsertAfter(nullptr, 0);   // front
  list.InsertBefore(nullptr, 5);  // back
  EXPECT_EQ(Checked(list), (Ints{0, 1, 2, 3, 35, 4, 5}));

  list.MoveToFront(three);
  EXPECT_EQ(Checked(list), (Ints{3, 0, 1, 2, 35, 4, 5}));
  list.MoveToBack(list.Find(0));
  EXPECT_EQ(Checked(list), (Ints{3, 1, 2, 35, 4, 5, 0}));
  list.MoveToBack(list.Last());
  list.MoveToFront(list.First());
  EXPECT_EQ(Checked(list), (Ints{3, 1, 2, 35, 4, 5, 0}));
  list.MoveToFront(list.Last());
  EXPECT_EQ(Checked(list), (Ints{0, 3, 1, 2, 35, 4, 5}));
  // The handle still names the same item after all the moves.
  EXPECT_EQ(three->value, 3);
}

TEST(DAXOList, UnlinkedItemsChangeOwnerWithoutCopying) {
  DAXOList<int> a;
  DAXOList<int> b;
  for (int i = 1; i <= 3; ++i) a.PushBack(i);
  DAXOBasicListItem* moved = a.Unlink(a.Find(2));
  EXPECT_TRUE(moved->predecessor == nullptr && moved->successor == nullptr);
  b.LinkBack(moved);
  b.LinkFront(a.Unlink(a.First()));
  EXPECT_TRUE(Checked(a) == Ints{3} && Checked(b) == (Ints{1, 2}));
  b.LinkBefore(b.Last(), a.Unlink(a.Last()));
  EXPECT_TRUE(Checked(a).empty() && Checked(b) == (Ints{1, 3, 2}));
}

struct Counted {
  static int alive;
  explicit Counted(int v) : value(v) { ++alive; }
  Counted(const Counted& other) : value(other.value) { ++alive; }
  Counted& operator=(const Counted&) = delete;
  ~Counted() { --alive; }
  int value;
};
int Counted::alive = 0;

struct NotCopyable {
  explicit NotCopyable(std::string s) : text(std::move(s)) {}
  NotCopyable(const NotCopyable&) = delete;
  std::string text;
};

TEST(DAXOList, CopiesAreDeepAndEveryItemIsReleased) {
  {
    DAXOList<Counted> list;
    for (int i = 0; i < 4; ++i) list.PushBack(Counted(i));
    EXPECT_EQ(Counted::alive, 4);
    DAXOList<Counted> copy(list);
    EXPECT_EQ(Counted::alive, 8);
    copy.PopFront();
    EXPECT_TRUE(copy.FirstValue().value == 1 && list.FirstValue().value == 0);
    DAXOList<Counted> moved(std::move(copy));
    EXPECT_TRUE(moved.Length() == 3 && copy.Length() == 0);
    copy = list;
    copy = copy;
    EXPECT_EQ(copy.Length(), 4);
    moved.Clear();
    EXPECT_EQ(Counted::alive, 8);
  }
  EXPECT_EQ(Counted::alive, 0);

  DAXOList<NotCopyable> pool;
  pool.EmplaceBack("b");
  pool.EmplaceFront("a");
  EXPECT_TRUE(pool.FirstValue().text == "a" && pool.LastValue().text == "b");
}

TEST(DAXOListIterator, ComparesWithItemsOfAnyDerivedType) {
  DAXOList<int> list;
  DAXOListItem<int>* a = list.PushBack(1);
  DAXOListItem<int>* b = list.PushBack(2);
  DAXOListIterator it(a);
  DAXOListIterator old = it++;
  EXPECT_TRUE(old == a && it == b && it != a);
  old = it--;
  EXPECT_TRUE(old == b && it == a);
  DAXOListIterator none;
  EXPECT_TRUE(++none == nullptr && none.Successor() == nullptr);
}

std::vector<int> Elements(const DAXOArray<int>& a) {
  std::vector<int> v;
  for (int i = 0; i < a.Count(); ++i) v.push_back(a[i]);
  return v;
}

// Capacity and count together.
template <class T>
std::pair<int, int> Shape(const DAXOArray<T>& a) {
  return {a.Capacity(), a.Count()};
}

TEST(DAXOArray, IndexingAnEmptyArrayGrowsToTheNextPowerOfTwo) {
  DAXOArray<int> a;
  a(5) = 7;
  EXPECT_EQ(Shape(a), std::pair(8, 6));
  EXPECT_EQ(Elements(a), (Ints{0, 0, 0, 0, 0, 7}));

  // Inside the capacity an owning array only raises the count.
  a(7) = 9;
  EXPECT_EQ(Shape(a), std::pair(8, 8));
  a(8) = 1;
  EXPECT_EQ(Shape(a), std::pair(16, 9));
  EXPECT_EQ(Elements(a), (Ints{0, 0, 0, 0, 0, 7, 0, 9, 1}));

  DAXOArray<int> zero;
  zero(0) = 3;
  EXPECT_EQ(Shape(zero), std::pair(1, 1));
}

TEST(DAXOArray, AppendDoublesTheCapacityWhenFull) {
  DAXOArray<int> a;
  Ints capacities;
  for (int i = 0; i < 9; ++i) {
    a.Append(i);
    capacities.push_back(a.Capacity());
  }
  EXPECT_EQ(capacities, (Ints{1, 2, 4, 4, 8, 8, 8, 8, 16}));
  EXPECT_EQ(Elements(a), (Ints{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(DAXOArray, RingKeepsLogicalOrderAcrossTheWrap) {
  DAXOArray<int> a(8);
  for (int i = 0; i < 8; ++i) a.Append(i);
  a.RemoveFirst(6);
  EXPECT_EQ(Elements(a), (Ints{6, 7}));
  for (int i = 8; i < 14; ++i) a.Append(i);  // slots 0..5 after the wrap
  EXPECT_EQ(Shape(a), std::pair(8, 8));
  EXPECT_EQ(a.StartSlot(), 6);
  EXPECT_EQ(Elements(a), (Ints{6, 7, 8, 9, 10, 11, 12, 13}));
  EXPECT_TRUE(a.First() == 6 && a.Last() == 13);

  // Removal in the middle shifts across the wrap.
  EXPECT_TRUE(a.Remove(1));
  EXPECT_EQ(Elements(a), (Ints{6, 8, 9, 10, 11, 12, 13}));
  EXPECT_FALSE(a.Remove(7));
  a(7) = 99;  // in place, in the wrapped part
  EXPECT_EQ(a.Capacity(), 8);
  EXPECT_EQ(Elements(a), (Ints{6, 8, 9, 10, 11, 12, 13, 99}));

  // Growing from a wrapped ring copies in logical order from slot 0.
  a.Append(100);
  EXPECT_EQ(Shape(a), std::pair(16, 9));
  EXPECT_EQ(a.StartSlot(), 0);
  EXPECT_EQ(Elements(a), (Ints{6, 8, 9, 10, 11, 12, 13, 99, 100}));

  DAXOArray<int> b(4);
  for (int i = 0; i < 4; ++i) b.Append(i);
  b.RemoveFirst(3);
  b.Append(4);
  int* flat = b.Data();
  EXPECT_EQ(b.StartSlot(), 0);
  EXPECT_TRUE(flat[0] == 3 && flat[1] == 4);
}

TEST(DAXOArray, FreedSlotsReadAsDefaultWhenReused) {
  DAXOArray<DAXOString> a;
  for (const char* s : {"a", "b", "c", "d"}) a.Append(s);
  a.RemoveLast(2);
  a.RemoveFirst();
  EXPECT_EQ(a.Count(), 1);
  a.SetCount(4);
  EXPECT_EQ(std::string(a[0]), "b");
  EXPECT_TRUE(a[1].Length() == 0 && a[3].Length() == 0);
  a.SetCount(-1);
  EXPECT_EQ(a.Count(), 0);
  a.Clear();
  EXPECT_EQ(a.Capacity(), 4);
  EXPECT_TRUE(a[0].Length() == 0 && a[-3].Length() == 0);  // out of range: shared default
}

TEST(DAXOArray, NonOwningArrayReallocatesInsteadOfWritingPastItsCount) {
  DAXOString external[8] = {"e0", "e1", "e2"};
  DAXOArray<DAXOString> view;
  view.Attach(external, 8, 3);
  EXPECT_FALSE(view.IsOwner());
  view(1) = "changed";
  EXPECT_EQ(std::string(external[1]), "changed");

  view(3) = "new";  // below the capacity but not below the count
  EXPECT_TRUE(view.IsOwner());
  EXPECT_EQ(Shape(view), std::pair(4, 4));
  EXPECT_TRUE(view[0] == "e0" && view[3] == "new");
  // The external storage was copied, not emptied, and is not written again.
  view(0) = "mine";
  EXPECT_TRUE(external[0] == "e0" && external[1] == "changed" && external[3].Length() == 0);

  DAXOArray<DAXOString> appended;
  appended.Attach(external, 8, 3);
  appended.Append("x");
  EXPECT_TRUE(appended.IsOwner());
  EXPECT_EQ(Shape(appended), std::pair(4, 4));
  EXPECT_TRUE(appended[3] == "x" && external[3].Length() == 0);
}

TEST(DAXOArray, AppendingItsOwnElementSurvivesReallocation) {
  DAXOArray<DAXOString> a;
  a.Append("a string long enough to live on the heap, not inline");
  for (int i = 0; i < 5; ++i) a.Append(a[0]);
  EXPECT_EQ(a.Count(), 6);
  for (int i = 0; i < a.Count(); ++i) EXPECT_TRUE(a[i] == a[0]) << i;
}

TEST(DAXOArray, CopiesOwnTheirElementsAndMovesLeaveAnEmptyArray) {
  DAXOArray<int> a(8);
  for (int i = 0; i < 6; ++i) a.Append(i);
  a.RemoveFirst(4);
  a.Append(6);
  a.Append(7);
  a.Append(8);  // wrapped
  DAXOArray<int> copy(a);
  EXPECT_EQ(Elements(copy), Elements(a));
  EXPECT_TRUE(copy.Capacity() == 8 && copy.StartSlot() == 0);
  copy(0) = 42;
  EXPECT_EQ(a[0], 4);

  int external[4] = {1, 2, 3, 4};
  DAXOArray<int> view;
  view.Attach(external, 4, 4);
  DAXOArray<int> owned(view);
  EXPECT_TRUE(owned.IsOwner());
  owned(0) = 9;
  EXPECT_EQ(external[0], 1);

  DAXOArray<int> moved(std::move(copy));
  EXPECT_EQ(moved[0], 42);
  EXPECT_EQ(Shape(copy), std::pair(0, 0));
  copy = moved;
  EXPECT_EQ(Elements(copy), Elements(moved));
  EXPECT_TRUE(moved.Find(8) == 4 && moved.Find(1000) == -1);
}

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

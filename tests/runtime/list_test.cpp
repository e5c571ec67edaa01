#include "daxo_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

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

using Ints = std::vector<int>;

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

}  // namespace

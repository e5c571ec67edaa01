// DAXOList<T>: an owning, doubly linked list of heap items, with a
// position handle (DAXOListIterator) that stays valid while its item is in
// the list, whatever else is inserted, removed or moved.
//
// Structure: each item (DAXOListItem<T>) holds one T by value after its
// `predecessor` / `successor` links (null at the ends). The list keeps
// `first_item`, `last_item` (both null when empty) and the count `l`. The
// list owns its items and deletes each through its virtual destructor when
// it is destroyed or cleared, or when an item is removed. Items can also be
// unlinked (ownership passes to the caller) and linked back in, which lets a
// user move items between lists of the same T without copying.
//
// Item arguments: every operation that takes an item or an iterator expects
// one that belongs to this list (not checked; it would cost a walk). A null
// item is ignored.
//
// Walking a list (End() is the LAST ITEM, not a past-the-end position):
//   for (DAXOListIterator it = list.Begin(); !list.Finished(it); ++it)
//     use(list.Value(it));
//
// Threading: not synchronised. One thread at a time, or under a lock owned
// by the user of the list.
#pragma once

#include <utility>

/// The links every list item carries. Only a list changes them; users read
/// them through DAXOListIterator or the accessors below.
class DAXOBasicListItem {
 public:
  DAXOBasicListItem() = default;
  DAXOBasicListItem(const DAXOBasicListItem&) = delete;
  DAXOBasicListItem& operator=(const DAXOBasicListItem&) = delete;
  virtual ~DAXOBasicListItem() = default;

  DAXOBasicListItem* Predecessor() const { return predecessor; }
  DAXOBasicListItem* Successor() const { return successor; }

  DAXOBasicListItem* predecessor = nullptr;
  DAXOBasicListItem* successor = nullptr;
};

/// A list item holding one T by value.
template <class T>
class DAXOListItem : public DAXOBasicListItem {
 public:
  /// Constructs the value from `args` (a copy when given one T).
  template <class... Args>
  explicit DAXOListItem(Args&&... args) : value(std::forward<Args>(args)...) {}

  T& Value() { return value; }
  const T& Value() const { return value; }

  T value;
};

/// A position in a list: the current item, or null once the walk has left
/// the list. Moving an iterator off either end makes it null; moving a null
/// iterator leaves it null.
class DAXOListIterator {
 public:
  DAXOListIterator() = default;
  DAXOListIterator(DAXOBasicListItem* item) : ptr(item) {}  // NOLINT: handles convert freely

  DAXOListIterator& operator++() {
    if (ptr != nullptr) ptr = ptr->successor;
    return *this;
  }
  DAXOListIterator operator++(int) {
    DAXOListIterator before = *this;
    ++*this;
    return before;
  }
  DAXOListIterator& operator--() {
    if (ptr != nullptr) ptr = ptr->predecessor;
    return *this;
  }
  DAXOListIterator operator--(int) {
    DAXOListIterator before = *this;
    --*this;
    return before;
  }

  /// The neighbouring items (null at the ends or when this is null).
  DAXOBasicListItem* Successor() const { return ptr != nullptr ? ptr->successor : nullptr; }
  DAXOBasicListItem* Predecessor() const { return ptr != nullptr ? ptr->predecessor : nullptr; }

  bool operator==(DAXOBasicListItem* item) const { return ptr == item; }
  bool operator!=(DAXOBasicListItem* item) const { return ptr != item; }
  bool operator==(const DAXOListIterator& other) const { return ptr == other.ptr; }
  bool operator!=(const DAXOListIterator& other) const { return ptr != other.ptr; }
  operator DAXOBasicListItem*() const { return ptr; }

  DAXOBasicListItem* ptr = nullptr;
};

/// The type-independent part of a list: links, count, walking and moving.
class DAXOBasicList {
 public:
  DAXOBasicList() = default;
  DAXOBasicList(const DAXOBasicList&) = delete;
  DAXOBasicList& operator=(const DAXOBasicList&) = delete;
  /// Deletes every item, walking from the first along the successors.
  virtual ~DAXOBasicList() { Clear(); }

  // --- size ----------------------------------------------------------------
  /// True when the list holds no item.
  bool Empty() const { return l == 0; }
  /// Number of items (Length, Size and Dim are the same count).
  int Length() const { return l; }
  int Size() const { return l; }
  int Dim() const { return l; }

  // --- positions -------------------------------------------------------
  /// An iterator on the first item (First, Iterator and Begin are the same).
  DAXOListIterator First() const { return DAXOListIterator(first_item); }
  DAXOListIterator Iterator() const { return DAXOListIterator(first_item); }
  DAXOListIterator Begin() const { return DAXOListIterator(first_item); }
  /// An iterator on the last item (Last and End are the same; use
  /// Finished() to detect the end of a walk).
  DAXOListIterator Last() const { return DAXOListIterator(last_item); }
  DAXOListIterator End() const { return DAXOListIterator(last_item); }
  /// Moves `it` to its successor / predecessor and returns the new item
  /// (null once the walk has left the list).
  DAXOBasicListItem* Next(DAXOListIterator& it) const { return (++it).ptr; }
  DAXOBasicListItem* Previous(DAXOListIterator& it) const { return (--it).ptr; }
  /// True once `it` has left the list.
  bool Finished(const DAXOListIterator& it) const { return it.ptr == nullptr; }
  bool IsFirst(const DAXOListIterator& it) const {
    return it.ptr != nullptr && it.ptr == first_item;
  }
  bool IsLast(const DAXOListIterator& it) const { return it.ptr != nullptr && it.ptr == last_item; }

  // --- linking items owned by the caller --------------------------------
  // `item` must not be in any list; the list takes ownership.
  void LinkFront(DAXOBasicListItem* item) { LinkBetween(nullptr, item, first_item); }
  void LinkBack(DAXOBasicListItem* item) { LinkBetween(last_item, item, nullptr); }
  /// Links `item` before `position`; a null position links it at the back.
  void LinkBefore(DAXOBasicListItem* position, DAXOBasicListItem* item) {
    if (position == nullptr) {
      LinkBack(item);
    } else {
      LinkBetween(position->predecessor, item, position);
    }
  }
  /// Links `item` after `position`; a null position links it at the front.
  void LinkAfter(DAXOBasicListItem* position, DAXOBasicListItem* item) {
    if (position == nullptr) {
      LinkFront(item);
    } else {
      LinkBetween(position, item, position->successor);
    }
  }
  /// Takes `item` out of the list without deleting it and returns it; the
  /// caller owns it afterwards. Its links are null on return.
  DAXOBasicListItem* Unlink(DAXOBasicListItem* item) {
    if (item == nullptr) return nullptr;
    if (item->predecessor != nullptr) {
      item->predecessor->successor = item->successor;
    } else {
      first_item = item->successor;
    }
    if (item->successor != nullptr) {
      item->successor->predecessor = item->predecessor;
    } else {
      last_item = item->predecessor;
    }
    item->predecessor = nullptr;
    item->successor = nullptr;
    --l;
    return item;
  }

  // --- removing and reordering ------------------------------------------
  /// Unlinks and deletes `item`.
  void Remove(DAXOBasicListItem* item) { delete Unlink(item); }
  /// Deletes the item under `it` and moves `it` to its successor; returns the
  /// new position (null when the removed item was the last).
  DAXOBasicListItem* Erase(DAXOListIterator& it) {
    DAXOBasicListItem* doomed = it.ptr;
    it.ptr = it.Successor();
    Remove(doomed);
    return it.ptr;
  }
  void PopFront() { Remove(first_item); }
  void PopBack() { Remove(last_item); }
  /// Makes `item` the first / last item; the other items keep their order.
  void MoveToFront(DAXOBasicListItem* item) {
    if (item == nullptr || item == first_item) return;
    LinkFront(Unlink(item));
  }
  void MoveToBack(DAXOBasicListItem* item) {
    if (item == nullptr || item == last_item) return;
    LinkBack(Unlink(item));
  }
  /// Deletes every item, first to last.
  void Clear() {
    DAXOBasicListItem* item = first_item;
    first_item = nullptr;
    last_item = nullptr;
    l = 0;
    while (item != nullptr) {
      DAXOBasicListItem* next = item->successor;
      delete item;
      item = next;
    }
  }
  /// Exchanges the contents of two lists (no item is copied).
  void SwapItems(DAXOBasicList& other) noexcept {
    std::swap(first_item, other.first_item);
    std::swap(last_item, other.last_item);
    std::swap(l, other.l);
  }

 protected:
  DAXOBasicListItem* first_item = nullptr;
  DAXOBasicListItem* last_item = nullptr;
  int l = 0;

 private:
  void LinkBetween(DAXOBasicListItem* before, DAXOBasicListItem* item, DAXOBasicListItem* after) {
    if (item == nullptr) return;
    item->predecessor = before;
    item->successor = after;
    if (before != nullptr) {
      before->successor = item;
    } else {
      first_item = item;
    }
    if (after != nullptr) {
      after->predecessor = item;
    } else {
      last_item = item;
    }
    ++l;
  }
};

/// A list of T values. Copying a list copies every value into new items.
template <class T>
class DAXOList : public DAXOBasicList {
 public:
  using Item = DAXOListItem<T>;

  DAXOList() = default;
  DAXOList(const DAXOList& other) : DAXOBasicList() {
    for (DAXOBasicListItem* i = other.first_item; i != nullptr; i = i->successor) {
      PushBack(ValueOf(i));
    }
  }
  DAXOList(DAXOList&& other) noexcept : DAXOBasicList() { SwapItems(other); }
  DAXOList& operator=(const DAXOList& other) {
    if (this != &other) {
      DAXOList copy(other);
      SwapItems(copy);
    }
    return *this;
  }
  DAXOList& operator=(DAXOList&& other) noexcept {
    if (this != &other) {
      DAXOList taken(std::move(other));
      SwapItems(taken);
    }
    return *this;
  }
  ~DAXOList() override = default;

  // --- inserting (each returns the new item) ----------------------------
  /// Appends a copy of `value` as the new last item.
  Item* PushBack(const T& value) {
    Item* item = new Item(value);
    LinkBack(item);
    return item;
  }
  /// Inserts a copy of `value` as the new first item.
  Item* PushFront(const T& value) {
    Item* item = new Item(value);
    LinkFront(item);
    return item;
  }
  /// Constructs a value in place from `args` at the back / front (for
  /// values that cannot be copied).
  template <class... Args>
  Item* EmplaceBack(Args&&... args) {
    Item* item = new Item(std::forward<Args>(args)...);
    LinkBack(item);
    return item;
  }
  template <class... Args>
  Item* EmplaceFront(Args&&... args) {
    Item* item = new Item(std::forward<Args>(args)...);
    LinkFront(item);
    return item;
  }
  /// Inserts a copy of `value` before `position` (null: at the back) or
  /// after `position` (null: at the front).
  Item* InsertBefore(DAXOBasicListItem* position, const T& value) {
    Item* item = new Item(value);
    LinkBefore(position, item);
    return item;
  }
  Item* InsertAfter(DAXOBasicListItem* position, const T& value) {
    Item* item = new Item(value);
    LinkAfter(position, item);
    return item;
  }

  // --- values -------------------------------------------------------------
  /// The value held by an item of this list (must not be null).
  static T& ValueOf(DAXOBasicListItem* item) { return static_cast<Item*>(item)->value; }
  static Item* ItemOf(DAXOBasicListItem* item) { return static_cast<Item*>(item); }
  T& Value(const DAXOListIterator& it) const { return ValueOf(it.ptr); }
  /// The first / last value; the list must not be empty.
  T& FirstValue() const { return ValueOf(first_item); }
  T& LastValue() const { return ValueOf(last_item); }
  /// The first item whose value equals `value` (needs operator==), or null.
  DAXOListIterator Find(const T& value) const {
    for (DAXOBasicListItem* i = first_item; i != nullptr; i = i->successor) {
      if (ValueOf(i) == value) return DAXOListIterator(i);
    }
    return DAXOListIterator();
  }
};

// DAXOArray<T>: a growable array stored as a power-of-two ring buffer.
//
// Logical element i lives in slot (start + i) & (capacity - 1), so elements
// can be dropped from the front in O(1) by moving `start`. Capacity is 0 or a
// power of two and never shrinks. Storage is allocated with array new and
// value-initialised, so every slot holds a constructed T (0 for scalars);
// slots not in use hold T(), which is what a newly exposed element reads as.
//
// An array normally owns its storage (`owner`). Attach() makes it a view of
// storage owned elsewhere; such an array writes in place only below Count()
// and reallocates (and thereby becomes an owning copy) on any growth.
//
// Requirements on T: default-constructible, copy-assignable. Moves are used
// on reallocation of owned storage when T's move assignment cannot throw.
//
// Threading: not synchronised. One thread at a time, or under a lock owned
// by the user of the array.
//
// Failure: allocation failure throws std::bad_alloc and leaves the array as
// it was; so does a capacity that would not fit a 32-bit int.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

template <class T>
class DAXOArray {
 public:
  /// An empty owning array without storage.
  DAXOArray() = default;
  /// An empty owning array with room for `initialCapacity` elements
  /// (rounded up to a power of two; 0 or less allocates nothing).
  explicit DAXOArray(int initialCapacity) { Reserve(initialCapacity); }
  /// Deep copy: the new array owns storage of the same capacity holding the
  /// elements in logical order from slot 0.
  DAXOArray(const DAXOArray& other) {
    if (other.capacity == 0) return;
    T* fresh = new T[other.capacity]();
    try {
      for (int i = 0; i < other.count; ++i) fresh[i] = other.data[other.Slot(i)];
    } catch (...) {
      delete[] fresh;
      throw;
    }
    capacity = other.capacity;
    count = other.count;
    data = fresh;
  }
  /// Takes over the other array's storage (and its owner flag); the other
  /// array is left empty and owning.
  DAXOArray(DAXOArray&& other) noexcept { Swap(other); }
  DAXOArray& operator=(const DAXOArray& other) {
    if (this != &other) {
      DAXOArray copy(other);
      Swap(copy);
    }
    return *this;
  }
  DAXOArray& operator=(DAXOArray&& other) noexcept {
    if (this != &other) {
      DAXOArray taken(std::move(other));
      Swap(taken);
    }
    return *this;
  }
  virtual ~DAXOArray() {
    if (owner) delete[] data;
  }

  void Swap(DAXOArray& other) noexcept {
    std::swap(capacity, other.capacity);
    std::swap(count, other.count);
    std::swap(start, other.start);
    std::swap(data, other.data);
    std::swap(owner, other.owner);
  }

  // --- element access --------------------------------------------------
  /// Logical element i, growing the array when needed. On an owning array an
  /// index below Capacity() is in place and raises Count() to i + 1 when
  /// i >= Count(). On a non-owning array only an index below Count() is in
  /// place. Any other index reallocates to the smallest power of two above
  /// i, copies the elements in logical order from slot 0, and the array then
  /// owns its storage with Count() = i + 1. A negative index is taken as 0.
  /// The reference stays valid until the next operation that may reallocate.
  T& operator()(int i) {
    if (i < 0) i = 0;
    if (owner ? i < capacity : i < count) {
      if (i >= count) count = i + 1;
      return data[Slot(i)];
    }
    int newCapacity = 1;
    while (newCapacity <= i) {
      if (newCapacity >= (1 << 30)) throw std::bad_alloc();
      newCapacity <<= 1;
    }
    Reallocate(newCapacity, nullptr);
    count = i + 1;
    return data[i];
  }
  /// Read-only access that never grows: an index outside [0, Count()) gives
  /// a reference to a shared default value.
  const T& operator()(int i) const { return (*this)[i]; }
  const T& operator[](int i) const {
    if (i < 0 || i >= count) return DefaultValue();
    return data[Slot(i)];
  }
  /// First and last element; a shared default value when empty.
  const T& First() const { return (*this)[0]; }
  const T& Last() const { return (*this)[count - 1]; }

  /// Appends a copy of `value` at logical index Count() and returns it. On
  /// an owning array with room it goes in place; otherwise the array
  /// reallocates to 2^(significant bits of Count()) slots (1, 2, 4, 8, ...),
  /// copies the elements in logical order from slot 0 and becomes owning.
  /// `value` may be an element of this array.
  T& Append(const T& value) {
    if (owner && count < capacity) {
      T& slot = data[Slot(count)];
      slot = value;
      ++count;
      return slot;
    }
    int newCapacity = 1;
    while (newCapacity <= count) {
      if (newCapacity >= (1 << 30)) throw std::bad_alloc();
      newCapacity <<= 1;
    }
    Reallocate(newCapacity, &value);
    return data[count++];
  }

  // --- removal -----------------------------------------------------------
  /// Drops up to n elements from the front by moving the start slot; the
  /// freed slots are reset to T(). Capacity is kept.
  void RemoveFirst(int n = 1) {
    for (; n > 0 && count > 0; --n, --count) {
      data[start] = T();
      start = (start + 1) & (capacity - 1);
    }
  }
  /// Drops up to n elements from the back; the freed slots are reset to T().
  void RemoveLast(int n = 1) {
    for (; n > 0 && count > 0; --n) data[Slot(--count)] = T();
  }
  /// Removes logical element i, keeping the order of the others. Returns
  /// false (and changes nothing) when i is outside [0, Count()).
  bool Remove(int i) {
    if (i < 0 || i >= count) return false;
    if (i == 0) {
      RemoveFirst();
      return true;
    }
    for (int k = i; k + 1 < count; ++k) data[Slot(k)] = std::move(data[Slot(k + 1)]);
    RemoveLast();
    return true;
  }
  /// Removes every element; storage and ownership are kept.
  void Clear() {
    RemoveLast(count);
    start = 0;
  }

  // --- size and storage --------------------------------------------------
  /// Sets the number of elements: shrinking resets the dropped slots to T(),
  /// growing follows operator() for index n - 1. Negative n counts as 0.
  void SetCount(int n) {
    if (n < count) {
      RemoveLast(count - (n < 0 ? 0 : n));
    } else if (n > count) {
      (*this)(n - 1);
    }
  }
  /// Ensures room for n elements without reallocating (the capacity becomes
  /// a power of two >= n). Never shrinks; an array that does not own its
  /// storage becomes owning when it has to grow.
  void Reserve(int n) {
    if (n <= capacity) return;
    int newCapacity = 1;
    while (newCapacity < n) {
      if (newCapacity >= (1 << 30)) throw std::bad_alloc();
      newCapacity <<= 1;
    }
    Reallocate(newCapacity, nullptr);
  }
  /// Contiguous view of the elements: logical element 0 is moved to slot 0
  /// first when needed (a non-owning array becomes an owning copy then).
  /// Null when the array has no storage. Valid until the next reallocation.
  T* Data() {
    if (start != 0) Reallocate(capacity, nullptr);
    return data;
  }
  /// Makes the array a non-owning view of `external`, which holds `n`
  /// constructed elements (`slots` of room, of which only the largest power
  /// of two is used). Storage the array owned before is released. A null
  /// `external` or non-positive `slots` leaves an empty owning array.
  void Attach(T* external, int slots, int n) {
    DAXOArray empty;
    Swap(empty);
    if (external == nullptr || slots <= 0) return;
    int usable = 1;
    while (usable <= slots / 2) usable <<= 1;
    capacity = usable;
    count = n < 0 ? 0 : (n > usable ? usable : n);
    data = external;
    owner = false;
  }

  /// Index of the first element equal to `value` (needs operator==), or -1.
  int Find(const T& value) const {
    for (int i = 0; i < count; ++i) {
      if (data[Slot(i)] == value) return i;
    }
    return -1;
  }

  int Count() const { return count; }
  int Size() const { return count; }
  bool Empty() const { return count == 0; }
  int Capacity() const { return capacity; }
  /// Slot of logical element 0 (exposed for diagnostics and tests).
  int StartSlot() const { return start; }
  bool IsOwner() const { return owner; }

 protected:
  int capacity = 0;  // 0 or a power of two
  int count = 0;
  int start = 0;
  T* data = nullptr;
  bool owner = true;

 private:
  int Slot(int i) const { return (start + i) & (capacity - 1); }

  static const T& DefaultValue() {
    static const T value{};
    return value;
  }

  // Moves the elements to fresh storage of `newCapacity` slots in logical
  // order from slot 0; when `extra` is given it is copied into slot `count`
  // before anything is moved, so it may point into the current storage. On
  // an exception nothing has changed.
  void Reallocate(int newCapacity, const T* extra) {
    T* fresh = new T[newCapacity]();
    try {
      if (extra != nullptr) fresh[count] = *extra;
      for (int i = 0; i < count; ++i) {
        // Storage owned elsewhere must stay intact, so it is only copied.
        if constexpr (std::is_nothrow_move_assignable_v<T>) {
          if (owner) {
            fresh[i] = std::move(data[Slot(i)]);
            continue;
          }
        }
        fresh[i] = data[Slot(i)];
      }
    } catch (...) {
      delete[] fresh;
      throw;
    }
    if (owner) delete[] data;
    data = fresh;
    capacity = newCapacity;
    start = 0;
    owner = true;
  }
};

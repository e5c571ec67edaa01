// Two plain two-value records.
//
// DAXOPair<K, V> is the element of a hash-table bucket: a key and the value
// filed under it, both held by value. DAXOCouple<A, B> carries two unrelated
// values (for example a success flag and a count) out of a function;
// MakeDAXOCouple builds one with the types deduced.
//
// Threading: plain values with no synchronisation; one thread at a time, or
// under a lock owned by the user.
#pragma once

template <class K, class V>
struct DAXOPair {
  K key{};
  V value{};

  DAXOPair() = default;
  DAXOPair(const K& k, const V& v) : key(k), value(v) {}
};

template <class A, class B>
struct DAXOCouple {
  A first{};
  B second{};

  DAXOCouple() = default;
  DAXOCouple(const A& a, const B& b) : first(a), second(b) {}
};

/// Returns a couple holding copies of `a` and `b`.
template <class A, class B>
DAXOCouple<A, B> MakeDAXOCouple(const A& a, const B& b) {
  return DAXOCouple<A, B>(a, b);
}

// Non-template parts of the hash tables: the 64-bit string hash and the
// string hash functor; see daxo_hash_table.h.
#include "daxo_hash_table.h"

namespace {

// Reversible mixing of three 64-bit words: every input bit affects every
// output bit of c after one round.
inline void Mix64(std::uint64_t& a, std::uint64_t& b, std::uint64_t& c) {
  // clang-format off
  a -= b; a -= c; a ^= (c >> 43);
  b -= c; b -= a; b ^= (a << 9);
  c -= a; c -= b; c ^= (b >> 8);
  a -= b; a -= c; a ^= (c >> 38);
  b -= c; b -= a; b ^= (a << 23);
  c -= a; c -= b; c ^= (b >> 5);
  a -= b; a -= c; a ^= (c >> 35);
  b -= c; b -= a; b ^= (a << 49);
  c -= a; c -= b; c ^= (b >> 11);
  a -= b; a -= c; a ^= (c >> 12);
  b -= c; b -= a; b ^= (a << 18);
  c -= a; c -= b; c ^= (b >> 22);
  // clang-format on
}

// Little-endian word of `n` (at most 8) bytes starting at `p`, shifted left
// by `shift` bits.
inline std::uint64_t Word(const unsigned char* p, std::size_t n, unsigned shift = 0) {
  std::uint64_t w = 0;
  for (std::size_t i = 0; i < n; ++i) w |= static_cast<std::uint64_t>(p[i]) << (8 * i + shift);
  return w;
}

}  // namespace

DAXOBasicHashTable::~DAXOBasicHashTable() = default;

std::uint64_t DAXOStringHashFunction::hash(const void* key, std::size_t length,
                                           std::uint64_t level) {
  const auto* k = static_cast<const unsigned char*>(key);
  std::uint64_t a = level;
  std::uint64_t b = level;
  std::uint64_t c = 0x9e3779b97f4a7c13ULL;  // the golden ratio; any value would do

  std::size_t len = length;
  while (len >= 24) {
    a += Word(k, 8);
    b += Word(k + 8, 8);
    c += Word(k + 16, 8);
    Mix64(a, b, c);
    k += 24;
    len -= 24;
  }

  // The lowest byte of c carries the total length, so the last bytes of the
  // key go into c from bit 8 upward.
  c += length;
  if (len > 16) c += Word(k + 16, len - 16, 8);
  if (len > 8) b += Word(k + 8, len > 16 ? 8 : len - 8);
  a += Word(k, len > 8 ? 8 : len);
  Mix64(a, b, c);
  return c;
}

std::uint64_t DAXOStringHashFunction::operator()(const DAXOString& key) const {
  return hash(static_cast<const char*>(key), static_cast<std::size_t>(key.Length()), kLevel);
}

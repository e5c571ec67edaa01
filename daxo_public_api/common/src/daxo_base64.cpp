// Base64 encoding and decoding; see daxo_base64.h.
#include "daxo_base64.h"

#include <array>
#include <climits>
#include <memory>
#include <stdexcept>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The decode table covers the 80 codes from '+' to 'z', the span of the
// alphabet. An alphabet character maps to its sextet + 62 so that every valid
// entry is non-zero; 0 marks a character to skip.
constexpr unsigned char kFirstCode = '+';
constexpr unsigned char kLastCode = 'z';
constexpr unsigned char kSkip = 0;
constexpr int kSextetBias = 62;

constexpr std::array<unsigned char, kLastCode - kFirstCode + 1> MakeDecodeTable() {
  std::array<unsigned char, kLastCode - kFirstCode + 1> table{};
  for (auto& entry : table) entry = kSkip;
  for (int sextet = 0; sextet < 64; ++sextet) {
    const auto code = static_cast<unsigned char>(kAlphabet[sextet]);
    table[code - kFirstCode] = static_cast<unsigned char>(sextet + kSextetBias);
  }
  return table;
}

constexpr auto kDecodeTable = MakeDecodeTable();
static_assert(kDecodeTable.size() == 80);

// Sextet value of `c`, or -1 when `c` is not an alphabet character.
inline int Sextet(unsigned char c) {
  if (c < kFirstCode || c > kLastCode) return -1;
  const unsigned char entry = kDecodeTable[c - kFirstCode];
  return entry == kSkip ? -1 : entry - kSextetBias;
}

// Empties `out` (length 0, token cursor 0) and appends the `n` bytes of `p`.
void Replace(DAXOString& out, const char* p, int n) {
  out.Clear();
  if (n > 0) out.concat(n, p);
}

}  // namespace

void DAXOBase64::Encode(const DAXOString& in, DAXOString& out) {
  const int n = in.Length();
  const auto* src = reinterpret_cast<const unsigned char*>(static_cast<const char*>(in));
  // The whole result is built before `out` is touched, so `in` may be `out`.
  const long wanted = 4 * ((static_cast<long>(n) + 2) / 3);
  if (wanted >= INT_MAX)
    throw std::length_error("DAXOBase64::Encode: result too long for a string");
  const int outLength = static_cast<int>(wanted);
  std::unique_ptr<char[]> buffer(new char[outLength > 0 ? outLength : 1]);
  char* dst = buffer.get();

  int i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned b0 = src[i], b1 = src[i + 1], b2 = src[i + 2];
    *dst++ = kAlphabet[b0 >> 2];
    *dst++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    *dst++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
    *dst++ = kAlphabet[b2 & 63];
  }
  if (n - i == 1) {
    const unsigned b0 = src[i];
    *dst++ = kAlphabet[b0 >> 2];
    *dst++ = kAlphabet[(b0 & 3) << 4];
    *dst++ = '=';
    *dst++ = '=';
  } else if (n - i == 2) {
    const unsigned b0 = src[i], b1 = src[i + 1];
    *dst++ = kAlphabet[b0 >> 2];
    *dst++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    *dst++ = kAlphabet[(b1 & 15) << 2];
    *dst++ = '=';
  }
  Replace(out, buffer.get(), outLength);
}

void DAXOBase64::Decode(const DAXOString& in, DAXOString& out) {
  const int n = in.Length();
  const auto* src = reinterpret_cast<const unsigned char*>(static_cast<const char*>(in));
  // At most three bytes per four input characters; built aside so that `in`
  // may be `out`.
  std::unique_ptr<char[]> buffer(new char[n / 4 * 3 + 3]);
  char* dst = buffer.get();

  unsigned s[4] = {0, 0, 0, 0};
  int k = 0;
  for (int i = 0; i < n; ++i) {
    const int sextet = Sextet(src[i]);
    if (sextet < 0) continue;
    s[k++] = static_cast<unsigned>(sextet);
    if (k == 4) {
      *dst++ = static_cast<char>((s[0] << 2) | (s[1] >> 4));
      *dst++ = static_cast<char>(((s[1] & 15) << 4) | (s[2] >> 2));
      *dst++ = static_cast<char>(((s[2] & 3) << 6) | s[3]);
      k = 0;
    }
  }
  // k leftover sextets give k - 1 bytes; a lone sextet carries too few bits
  // for a byte and gives nothing.
  if (k >= 2) *dst++ = static_cast<char>((s[0] << 2) | (s[1] >> 4));
  if (k >= 3) *dst++ = static_cast<char>(((s[1] & 15) << 4) | (s[2] >> 2));
  Replace(out, buffer.get(), static_cast<int>(dst - buffer.get()));
}

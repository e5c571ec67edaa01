// DAXOStackedString<40> and DAXOStreamedString (see daxo_string.h).
#include "daxo_string.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "daxo_c_wrappers.h"

namespace {

// Heap capacity for a text of length n: N * ((n + 1) / N + 1) bytes. The
// result must fit the 32-bit capacity field.
int HeapCapacity(long n, int inlineSize) {
  long capacity = static_cast<long>(inlineSize) * ((n + 1) / inlineSize + 1);
  if (n < 0 || capacity > INT_MAX) throw std::bad_alloc();
  return static_cast<int>(capacity);
}

unsigned char FoldAscii(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool SameFolded(const char* a, const char* b, int n) {
  for (int i = 0; i < n; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool IsDelimiter(char c, const char* delims) {
  if (delims == nullptr || c == '\0') return false;
  return std::strchr(delims, c) != nullptr;
}

// Whether `fmt` is safe to hand to printf with one argument of `kind`:
// 's' text, 'i' int, 'f' double. Allowed: "%%" and at most one conversion of
// that kind, with flags, a literal width and precision, and the length
// modifiers that leave the argument type unchanged. No '*', no %n.
bool FormatFits(const char* fmt, char kind) {
  int conversions = 0;
  for (const char* p = fmt; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p != '\0' && std::strchr("-+ #0'", *p) != nullptr) ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9') ++p;
    }
    const char* conversionsOfKind = nullptr;
    switch (kind) {
      case 's':
        conversionsOfKind = "s";
        break;
      case 'i':
        if (*p == 'h') ++p;
        if (*p == 'h') ++p;
        conversionsOfKind = "diouxXc";
        break;
      default:
        if (*p == 'l') ++p;
        conversionsOfKind = "fFeEgGaA";
        break;
    }
    if (*p == '\0' || std::strchr(conversionsOfKind, *p) == nullptr) return false;
    if (++conversions > 1) return false;
  }
  return true;
}

}  // namespace

template <int N>
DAXOStackedString<N>::DAXOStackedString(const char* text) {
  buf[0] = '\0';
  if (text != nullptr) Assign(text, DAXO::Strlen(text));
}

template <int N>
DAXOStackedString<N>::DAXOStackedString(char c) {
  buf[0] = '\0';
  Assign(&c, 1);
}

template <int N>
DAXOStackedString<N>::DAXOStackedString(const DAXOStackedString& other) {
  buf[0] = '\0';
  Assign(other.str, other.l);
  tpos = other.tpos;
}

template <int N>
DAXOStackedString<N>::~DAXOStackedString() {
  if (str != buf) delete[] str;
}

template <int N>
void DAXOStackedString<N>::Assign(const char* p, int n) {
  if (n < 0) n = 0;
  char* storage = buf;
  int capacity = N;
  if (n >= N) {
    capacity = HeapCapacity(n, N);
    storage = new char[capacity];
  }
  // p may lie in the current storage, which is released only after the copy.
  if (n > 0) std::memmove(storage, p, static_cast<size_t>(n));
  storage[n] = '\0';
  if (str != buf && str != storage) delete[] str;
  str = storage;
  res = capacity;
  l = n;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::operator=(const DAXOStackedString& other) {
  if (this == &other) return *this;
  Assign(other.str, other.l);
  tpos = other.tpos;
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::operator=(const char* text) {
  if (text == str) {
    tpos = 0;
    return *this;
  }
  Assign(text, text != nullptr ? DAXO::Strlen(text) : 0);
  tpos = 0;
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::concat(int n, const char* p) {
  if (p == nullptr || n <= 0) return *this;
  long newLength = static_cast<long>(l) + n;
  if (newLength > INT_MAX - N) throw std::bad_alloc();
  if (newLength >= res) {
    int capacity = HeapCapacity(newLength, N);
    char* storage = new char[capacity];
    std::memcpy(storage, str, static_cast<size_t>(l));
    // p may lie in the old storage: copy before releasing it.
    std::memcpy(storage + l, p, static_cast<size_t>(n));
    if (str != buf) delete[] str;
    str = storage;
    res = capacity;
  } else {
    std::memmove(str + l, p, static_cast<size_t>(n));
  }
  l = static_cast<int>(newLength);
  str[l] = '\0';
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::operator+=(const char* text) {
  return concat(DAXO::Strlen(text), text);
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::operator+=(unsigned char* text) {
  const char* p = reinterpret_cast<const char*>(text);
  return concat(DAXO::Strlen(p), p);
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::operator+=(const DAXOStackedString& other) {
  return concat(other.l, other.str);
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::operator+=(char c) {
  return concat(1, &c);
}

template <int N>
DAXOStackedString<N>::DAXOStackedString(const char* fmt, const char* arg) {
  FormatOne(fmt, arg != nullptr ? arg : "(null)", 's');
}

template <int N>
DAXOStackedString<N>::DAXOStackedString(const char* fmt, int arg) {
  FormatOne(fmt, arg, 'i');
}

template <int N>
DAXOStackedString<N>::DAXOStackedString(const char* fmt, double arg) {
  FormatOne(fmt, arg, 'f');
}

template <int N>
DAXOStackedString<N>::DAXOStackedString(int value, bool hexadecimal) {
  char digits[40];
  if (hexadecimal) {
    DAXO::Itoa(static_cast<unsigned int>(value), digits, 16);
  } else {
    DAXO::Itoa(value, digits, 10);
  }
  Assign(digits, DAXO::Strlen(digits));
}

template <int N>
DAXOStackedString<N>::DAXOStackedString(int value, int radix) {
  char digits[40];
  DAXO::Itoa(value, digits, (radix >= 2 && radix <= 36) ? radix : 10);
  Assign(digits, DAXO::Strlen(digits));
}

template <int N>
template <class A>
void DAXOStackedString<N>::FormatOne(const char* fmt, A arg, char kind) {
  tpos = 0;
  if (fmt == nullptr) {
    Assign("", 0);
    return;
  }
  if (!FormatFits(fmt, kind)) {
    Assign(fmt, DAXO::Strlen(fmt));
    return;
  }
  int n = std::snprintf(nullptr, 0, fmt, arg);
  if (n < 0) {
    Assign("", 0);
    return;
  }
  // Formatted aside first: a text argument may point into this string.
  char small[128];
  char* out = n < static_cast<int>(sizeof small) ? small : new char[static_cast<size_t>(n) + 1];
  std::snprintf(out, static_cast<size_t>(n) + 1, fmt, arg);
  try {
    Assign(out, n);
  } catch (...) {
    if (out != small) delete[] out;
    throw;
  }
  if (out != small) delete[] out;
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Join(const char* a, int na, const char* b, int nb) {
  if (na < 0) na = DAXO::Strlen(a);
  if (nb < 0) nb = DAXO::Strlen(b);
  long total = static_cast<long>(na) + nb;
  if (total > INT_MAX - N) throw std::bad_alloc();
  DAXOStackedString r;
  if (total >= N) {
    r.res = HeapCapacity(total, N);
    r.str = new char[r.res];
  }
  if (na > 0) std::memcpy(r.str, a, static_cast<size_t>(na));
  if (nb > 0) std::memcpy(r.str + na, b, static_cast<size_t>(nb));
  r.l = static_cast<int>(total);
  r.str[r.l] = '\0';
  return r;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::SetCapacity(int n) {
  if (n <= res) return *this;
  int capacity = HeapCapacity(static_cast<long>(n) - 1, N);
  char* storage = new char[capacity];
  std::memcpy(storage, str, static_cast<size_t>(l) + 1);
  if (str != buf) delete[] str;
  str = storage;
  res = capacity;
  return *this;
}

// --- comparison ------------------------------------------------------------

template <int N>
bool DAXOStackedString<N>::SameBytes(const char* p, int n) const {
  return l == n && (n == 0 || std::memcmp(str, p, static_cast<size_t>(n)) == 0);
}

template <int N>
bool DAXOStackedString<N>::SameText(const char* p) const {
  if (p == nullptr) return l == 0;
  // Byte by byte so that a C string shorter than this one is never read
  // past its NUL.
  for (int i = 0; i < l; ++i) {
    if (p[i] == '\0' || p[i] != str[i]) return false;
  }
  return p[l] == '\0';
}

template <int N>
int DAXOStackedString<N>::Compare(const char* p, int n) const {
  int common = l < n ? l : n;
  int r = common > 0 ? std::memcmp(str, p, static_cast<size_t>(common)) : 0;
  if (r != 0) return r;
  return l < n ? -1 : (l > n ? 1 : 0);
}

template <int N>
int DAXOStackedString<N>::Compare(const char* p) const {
  return Compare(p != nullptr ? p : "", DAXO::Strlen(p));
}

template <int N>
bool DAXOStackedString<N>::Iequals(const char* text) const {
  return DAXO::Stricmp(str, text) == 0;
}

template <int N>
bool DAXOStackedString<N>::StartsWith(const char* prefix) const {
  int m = DAXO::Strlen(prefix);
  return m <= l && (m == 0 || std::memcmp(str, prefix, static_cast<size_t>(m)) == 0);
}

template <int N>
bool DAXOStackedString<N>::EndsWith(const char* suffix) const {
  int m = DAXO::Strlen(suffix);
  return m <= l && (m == 0 || std::memcmp(str + l - m, suffix, static_cast<size_t>(m)) == 0);
}

template <int N>
bool DAXOStackedString<N>::StartsCaseWith(const char* prefix) const {
  int m = DAXO::Strlen(prefix);
  return m <= l && SameFolded(str, prefix, m);
}

template <int N>
bool DAXOStackedString<N>::EndsCaseWith(const char* suffix) const {
  int m = DAXO::Strlen(suffix);
  return m <= l && SameFolded(str + l - m, suffix, m);
}

template <int N>
bool DAXOStackedString<N>::IsNum() const {
  int i = 0;
  if (i < l && (str[i] == '+' || str[i] == '-')) ++i;
  int digits = 0;
  while (i < l && DAXO::IsDigit(str[i])) ++i, ++digits;
  if (i < l && str[i] == '.') {
    ++i;
    while (i < l && DAXO::IsDigit(str[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < l && (str[i] == 'e' || str[i] == 'E')) {
    ++i;
    if (i < l && (str[i] == '+' || str[i] == '-')) ++i;
    int exponentDigits = 0;
    while (i < l && DAXO::IsDigit(str[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == l;
}

// --- search ------------------------------------------------------------------

template <int N>
int DAXOStackedString<N>::Pos(char c, int from) const {
  if (from < 0) from = 0;
  if (from >= l) return -1;
  const void* hit = std::memchr(str + from, c, static_cast<size_t>(l - from));
  return hit != nullptr ? static_cast<int>(static_cast<const char*>(hit) - str) : -1;
}

template <int N>
int DAXOStackedString<N>::Pos(const char* text, int from) const {
  return FindStr(text, from);
}

template <int N>
bool DAXOStackedString<N>::Find(char c, int& pos, int from) const {
  pos = Pos(c, from);
  return pos >= 0;
}

template <int N>
bool DAXOStackedString<N>::Find(const char* text, int& pos, int from) const {
  pos = FindStr(text, from);
  return pos >= 0;
}

template <int N>
bool DAXOStackedString<N>::ReverseFind(char c, int& pos, int from) const {
  if (from < 0 || from >= l) from = l - 1;
  for (pos = from; pos >= 0; --pos) {
    if (str[pos] == c) return true;
  }
  pos = -1;
  return false;
}

template <int N>
int DAXOStackedString<N>::FindStr(const char* text, int from) const {
  if (text == nullptr) return -1;
  int m = DAXO::Strlen(text);
  if (from < 0) from = 0;
  if (from > l) from = l;
  for (int i = from; i + m <= l; ++i) {
    if (std::memcmp(str + i, text, static_cast<size_t>(m)) == 0) return i;
  }
  return -1;
}

template <int N>
int DAXOStackedString<N>::ReverseFindStr(const char* text, int from) const {
  if (text == nullptr) return -1;
  int m = DAXO::Strlen(text);
  if (from < 0 || from > l - m) from = l - m;
  for (int i = from; i >= 0; --i) {
    if (std::memcmp(str + i, text, static_cast<size_t>(m)) == 0) return i;
  }
  return -1;
}

// --- extraction --------------------------------------------------------------

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Mid(int start, int count) const {
  if (start < 0) start = 0;
  if (start > l) start = l;
  if (count < 0 || count > l - start) count = l - start;
  return Join(str + start, count, "", 0);
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::operator()(int start, int count) const {
  return Mid(start, count);
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Tail(int start) const {
  return Mid(start, -1);
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Left(int n) const {
  return Mid(0, n < 0 ? 0 : n);
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Right(int n) const {
  if (n < 0) n = 0;
  if (n > l) n = l;
  return Mid(l - n, n);
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::UpTo(char c) const {
  int p = Pos(c);
  return Mid(0, p < 0 ? l : p);
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Up2(const char* text) const {
  int p = FindStr(text);
  return Mid(0, p < 0 ? l : p);
}

namespace {
// Length of the piece [begin, end) up to its first NUL byte.
int PieceLength(const char* begin, int n) {
  const void* nul = std::memchr(begin, '\0', static_cast<size_t>(n));
  return nul != nullptr ? static_cast<int>(static_cast<const char*>(nul) - begin) : n;
}
}  // namespace

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Part(char sep, int index) const {
  if (index < 0) return DAXOStackedString();
  int begin = 0;
  for (int i = 0; i <= l; ++i) {
    if (i < l && str[i] != sep) continue;
    if (index-- == 0) return Join(str + begin, PieceLength(str + begin, i - begin), "", 0);
    begin = i + 1;
  }
  return DAXOStackedString();
}

template <int N>
DAXOArray<DAXOStackedString<N>> DAXOStackedString<N>::Split(char sep) const {
  DAXOArray<DAXOStackedString> pieces;
  int begin = 0;
  for (int i = 0; i <= l; ++i) {
    if (i < l && str[i] != sep) continue;
    pieces.Append(Join(str + begin, PieceLength(str + begin, i - begin), "", 0));
    begin = i + 1;
  }
  return pieces;
}

// --- tokenizing --------------------------------------------------------------

template <int N>
bool DAXOStackedString<N>::Token(const char* delims, DAXOStackedString& token) {
  if (tpos < 0) tpos = 0;
  if (tpos > l) {
    token.Assign("", 0);
    if (&token != this) token.tpos = 0;
    return false;
  }
  int end = tpos;
  while (end < l && !IsDelimiter(str[end], delims)) ++end;
  if (&token == this) {
    Assign(str + tpos, end - tpos);
    tpos = l + 1;
    return true;
  }
  token.Assign(str + tpos, end - tpos);
  token.tpos = 0;
  tpos = end + 1;
  return true;
}

template <int N>
DAXOStackedString<N> DAXOStackedString<N>::Strtok(const char* delims) {
  if (tpos < 0) tpos = 0;
  while (tpos < l && IsDelimiter(str[tpos], delims)) ++tpos;
  if (tpos >= l) {
    tpos = l;
    return DAXOStackedString();
  }
  int begin = tpos;
  while (tpos < l && !IsDelimiter(str[tpos], delims)) ++tpos;
  DAXOStackedString token = Join(str + begin, tpos - begin, "", 0);
  if (tpos < l) ++tpos;
  return token;
}

template <int N>
char DAXOStackedString<N>::NextChar() {
  if (tpos < 0) tpos = 0;
  return tpos < l ? str[tpos++] : '\0';
}

// --- editing -----------------------------------------------------------------

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Shorten(int n) {
  if (n <= 0) return *this;
  l = n >= l ? 0 : l - n;
  str[l] = '\0';
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Clear() {
  l = 0;
  str[0] = '\0';
  tpos = 0;
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::UpdateLength() {
  l = static_cast<int>(strnlen(str, static_cast<size_t>(res) - 1));
  str[l] = '\0';
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::RemoveCRLF() {
  while (l > 0 && (str[l - 1] == '\r' || str[l - 1] == '\n')) --l;
  str[l] = '\0';
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::RemoveSpaces() {
  while (l > 0 && DAXO::IsSpace(str[l - 1])) --l;
  int lead = 0;
  while (lead < l && DAXO::IsSpace(str[lead])) ++lead;
  if (lead > 0) std::memmove(str, str + lead, static_cast<size_t>(l - lead));
  l -= lead;
  str[l] = '\0';
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Uppercase() {
  for (int i = 0; i < l; ++i) {
    if (str[i] >= 'a' && str[i] <= 'z') str[i] = static_cast<char>(str[i] - 'a' + 'A');
  }
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Lowercase() {
  for (int i = 0; i < l; ++i) str[i] = static_cast<char>(FoldAscii(str[i]));
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::FirstUppercase() {
  if (l > 0 && str[0] >= 'a' && str[0] <= 'z') str[0] = static_cast<char>(str[0] - 'a' + 'A');
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Substitute(char from, char to) {
  for (int i = 0; i < l; ++i) {
    if (str[i] == from) str[i] = to;
  }
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Reverse() {
  for (int i = 0, j = l - 1; i < j; ++i, --j) {
    char c = str[i];
    str[i] = str[j];
    str[j] = c;
  }
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Format(const char* fmt, const char* arg) {
  FormatOne(fmt, arg != nullptr ? arg : "(null)", 's');
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Format(const char* fmt, int arg) {
  FormatOne(fmt, arg, 'i');
  return *this;
}

template <int N>
DAXOStackedString<N>& DAXOStackedString<N>::Format(const char* fmt, double arg) {
  FormatOne(fmt, arg, 'f');
  return *this;
}

template class DAXOStackedString<40>;

// --- DAXOStreamedString --------------------------------------------------------

template <class V>
DAXOStreamedString& DAXOStreamedString::Printf(const char* fmt, V value) {
  char text[64];  // room for any integer in octal, a %.10g double or a %p
  std::snprintf(text, sizeof text, fmt, value);
  concat(DAXO::Strlen(text), text);
  return *this;
}

template <class V, class U>
DAXOStreamedString& DAXOStreamedString::Integer(V value, U bits, const char* dec, bool wide) {
  if ((m_fmtflags & DAXOSManip::f_hex) != 0) return Printf(wide ? "%lx" : "%x", bits);
  if ((m_fmtflags & DAXOSManip::f_oct) != 0) return Printf(wide ? "%lo" : "%o", bits);
  return Printf(dec, value);
}

DAXOStreamedString& DAXOStreamedString::operator<<(DAXOSManip::DAXOIOSBase manip) {
  switch (manip.m_flag) {
    case DAXOSManip::f_dec:
    case DAXOSManip::f_hex:
    case DAXOSManip::f_oct:
      m_fmtflags = (m_fmtflags & ~0xFu) | manip.m_flag;
      break;
    case DAXOSManip::f_endl:
      concat(1, "\n");
      break;
    case DAXOSManip::f_ends:
      concat(1, "");
      break;
    default:
      break;
  }
  return *this;
}

DAXOStreamedString& DAXOStreamedString::operator<<(bool value) {
  return *this << (value ? "true" : "false");
}

DAXOStreamedString& DAXOStreamedString::operator<<(char value) {
  concat(1, &value);
  return *this;
}

DAXOStreamedString& DAXOStreamedString::operator<<(signed char value) {
  return Integer(static_cast<int>(value),
                 static_cast<unsigned int>(static_cast<unsigned char>(value)), "%d", false);
}

DAXOStreamedString& DAXOStreamedString::operator<<(unsigned char value) {
  return Integer(static_cast<unsigned int>(value), static_cast<unsigned int>(value), "%u", false);
}

DAXOStreamedString& DAXOStreamedString::operator<<(short value) {
  return Integer(static_cast<int>(value),
                 static_cast<unsigned int>(static_cast<unsigned short>(value)), "%d", false);
}

DAXOStreamedString& DAXOStreamedString::operator<<(unsigned short value) {
  return Integer(static_cast<unsigned int>(value), static_cast<unsigned int>(value), "%u", false);
}

DAXOStreamedString& DAXOStreamedString::operator<<(int value) {
  return Integer(value, static_cast<unsigned int>(value), "%d", false);
}

DAXOStreamedString& DAXOStreamedString::operator<<(unsigned int value) {
  return Integer(value, value, "%u", false);
}

DAXOStreamedString& DAXOStreamedString::operator<<(long value) {
  return Integer(value, static_cast<unsigned long>(value), "%ld", true);
}

DAXOStreamedString& DAXOStreamedString::operator<<(unsigned long value) {
  return Integer(value, value, "%lu", true);
}

DAXOStreamedString& DAXOStreamedString::operator<<(long long value) {
  return *this << static_cast<long>(value);
}

DAXOStreamedString& DAXOStreamedString::operator<<(unsigned long long value) {
  return *this << static_cast<unsigned long>(value);
}

DAXOStreamedString& DAXOStreamedString::operator<<(float value) {
  return Printf("%.10g", static_cast<double>(value));
}

DAXOStreamedString& DAXOStreamedString::operator<<(double value) {
  return Printf("%.10g", value);
}

DAXOStreamedString& DAXOStreamedString::operator<<(long double value) {
  return Printf("%.10g", static_cast<double>(value));
}

DAXOStreamedString& DAXOStreamedString::operator<<(const void* value) {
  return Printf("%p", value);
}

DAXOStreamedString& DAXOStreamedString::operator<<(const char* text) {
  concat(DAXO::Strlen(text), text);
  return *this;
}

namespace {
template <class V>
DAXOStreamedString& AppendFormatted(DAXOStreamedString& s, const char* fmt, V value) {
  char text[32];
  std::snprintf(text, sizeof text, fmt, value);
  s.concat(DAXO::Strlen(text), text);
  return s;
}
}  // namespace

DAXOStreamedString& DAXOSManip::_printHex16(DAXOStreamedString& s, unsigned short value) {
  return AppendFormatted(s, "%x", static_cast<unsigned int>(value));
}

DAXOStreamedString& DAXOSManip::_printOct16(DAXOStreamedString& s, unsigned short value) {
  return AppendFormatted(s, "%o", static_cast<unsigned int>(value));
}

DAXOStreamedString& DAXOSManip::_printHex32(DAXOStreamedString& s, unsigned int value) {
  return AppendFormatted(s, "%x", value);
}

DAXOStreamedString& DAXOSManip::_printOct32(DAXOStreamedString& s, unsigned int value) {
  return AppendFormatted(s, "%o", value);
}

DAXOStreamedString& DAXOSManip::_printHex64(DAXOStreamedString& s, unsigned long value) {
  return AppendFormatted(s, "%lx", value);
}

DAXOStreamedString& DAXOSManip::_printOct64(DAXOStreamedString& s, unsigned long value) {
  return AppendFormatted(s, "%lo", value);
}

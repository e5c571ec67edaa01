// C-style helpers of the DAXO namespace (see daxo_c_wrappers.h).
#include "daxo_c_wrappers.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char* OrEmpty(const char* s) {
  return s != nullptr ? s : "";
}

unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Digits of `magnitude` in `radix`, preceded by '-' when `negative`.
char* WriteUnsigned(unsigned long long magnitude, bool negative, char* buf, int radix) {
  if (buf == nullptr) return nullptr;
  if (radix < 2 || radix > 36) {
    buf[0] = '\0';
    return buf;
  }
  char digits[64];
  int n = 0;
  do {
    unsigned digit = static_cast<unsigned>(magnitude % static_cast<unsigned>(radix));
    digits[n++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    magnitude /= static_cast<unsigned>(radix);
  } while (magnitude != 0);
  char* out = buf;
  if (negative) *out++ = '-';
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
  return buf;
}

// Signed values: a minus sign only in radix 10, otherwise the bit pattern
// of the value's own width as an unsigned number.
template <class S, class U>
char* WriteSigned(S value, char* buf, int radix) {
  if (radix == 10 && value < 0) {
    // Negate in unsigned arithmetic so that the minimum value survives.
    U magnitude = static_cast<U>(0) - static_cast<U>(value);
    return WriteUnsigned(magnitude, true, buf, radix);
  }
  return WriteUnsigned(static_cast<U>(value), false, buf, radix);
}

template <class R>
R NullNumber(const char* s, char** end) {
  if (end != nullptr) *end = const_cast<char*>(s);
  return 0;
}

}  // namespace

void* DAXO::Memcpy(void* dst, const void* src, size_t n) {
  if (n == 0) return dst;
  return std::memcpy(dst, src, n);
}

void* DAXO::Memset(void* dst, int c, size_t n) {
  if (n == 0) return dst;
  return std::memset(dst, c, n);
}

void* DAXO::Memmove(void* dst, const void* src, size_t n) {
  if (n == 0) return dst;
  return std::memmove(dst, src, n);
}

double DAXO::Modf(double x, double* integral) {
  double scratch;
  return std::modf(x, integral != nullptr ? integral : &scratch);
}

double DAXO::Fabs(double x) {
  return std::fabs(x);
}

int DAXO::Strlen(const char* s) {
  if (s == nullptr) return 0;
  size_t n = std::strlen(s);
  return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

int DAXO::Strcmp(const char* a, const char* b) {
  return std::strcmp(OrEmpty(a), OrEmpty(b));
}

int DAXO::Strncmp(const char* a, const char* b, size_t n) {
  return std::strncmp(OrEmpty(a), OrEmpty(b), n);
}

int DAXO::Stricmp(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(OrEmpty(a));
  const unsigned char* q = reinterpret_cast<const unsigned char*>(OrEmpty(b));
  for (;; ++p, ++q) {
    int diff = FoldAscii(*p) - FoldAscii(*q);
    if (diff != 0 || *p == '\0') return diff;
  }
}

const char* DAXO::Strstr(const char* hay, const char* needle) {
  if (hay == nullptr || needle == nullptr) return nullptr;
  return std::strstr(hay, needle);
}

char* DAXO::Strstr(char* hay, const char* needle) {
  if (hay == nullptr || needle == nullptr) return nullptr;
  return std::strstr(hay, needle);
}

const char* DAXO::Strchr(const char* s, int c) {
  return s != nullptr ? std::strchr(s, c) : nullptr;
}

char* DAXO::Strchr(char* s, int c) {
  return s != nullptr ? std::strchr(s, c) : nullptr;
}

char* DAXO::Strcpy(char* dst, const char* src) {
  return dst != nullptr ? std::strcpy(dst, OrEmpty(src)) : nullptr;
}

char* DAXO::Strncpy(char* dst, const char* src, size_t n) {
  return dst != nullptr ? std::strncpy(dst, OrEmpty(src), n) : nullptr;
}

char* DAXO::Strcat(char* dst, const char* src) {
  return dst != nullptr ? std::strcat(dst, OrEmpty(src)) : nullptr;
}

char* DAXO::Strdup(const char* s) {
  if (s == nullptr) return nullptr;
  char* copy = ::strdup(s);
  if (copy == nullptr) throw std::bad_alloc();
  return copy;
}

char* DAXO::Itoa(int value, char* buf, int radix) {
  return WriteSigned<int, unsigned int>(value, buf, radix);
}

char* DAXO::Itoa(unsigned int value, char* buf, int radix) {
  return WriteUnsigned(value, false, buf, radix);
}

char* DAXO::Itoa(long value, char* buf, int radix) {
  return WriteSigned<long, unsigned long>(value, buf, radix);
}

char* DAXO::Itoa(unsigned long value, char* buf, int radix) {
  return WriteUnsigned(value, false, buf, radix);
}

char* DAXO::Itoa(long long value, char* buf, int radix) {
  return WriteSigned<long long, unsigned long long>(value, buf, radix);
}

char* DAXO::Itoa(unsigned long long value, char* buf, int radix) {
  return WriteUnsigned(value, false, buf, radix);
}

int DAXO::Atoi(const char* s) {
  if (s == nullptr) return 0;
  long v = std::strtol(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

long DAXO::Atoi64(const char* s) {
  return s != nullptr ? std::strtol(s, nullptr, 10) : 0;
}

long DAXO::Strtol(const char* s, char** end, int base) {
  return s != nullptr ? std::strtol(s, end, base) : NullNumber<long>(s, end);
}

unsigned long DAXO::Strtoul(const char* s, char** end, int base) {
  return s != nullptr ? std::strtoul(s, end, base) : NullNumber<unsigned long>(s, end);
}

long DAXO::Strtoi64(const char* s, char** end, int base) {
  return s != nullptr ? std::strtol(s, end, base) : NullNumber<long>(s, end);
}

unsigned long DAXO::Strtoui64(const char* s, char** end, int base) {
  return s != nullptr ? std::strtoul(s, end, base) : NullNumber<unsigned long>(s, end);
}

double DAXO::Strtod(const char* s, char** end) {
  return s != nullptr ? std::strtod(s, end) : NullNumber<double>(s, end);
}

bool DAXO::IsSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool DAXO::IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

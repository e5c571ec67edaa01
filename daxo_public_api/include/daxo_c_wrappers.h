// C-style memory, string and number helpers of the DAXO namespace.
//
// They are thin wrappers of the C library with three deliberate differences:
// a null text pointer is treated as the empty string (or yields null / 0,
// see each function) instead of being undefined behaviour; character class
// tests accept any `char`, including negative ones; and Stricmp and Itoa have
// their own, locale-independent rules. Lengths are `int`, like every length
// in the SDK.
//
// Threading: every function is reentrant; none keeps state. The number
// parsers follow the numeric locale category of the calling thread (runtime
// threads run with "C").
#pragma once

#include <cstddef>

namespace DAXO {

// --- memory --------------------------------------------------------------
/// Copies n bytes; the areas must not overlap. Returns dst.
void* Memcpy(void* dst, const void* src, size_t n);
/// Fills n bytes with the byte value c. Returns dst.
void* Memset(void* dst, int c, size_t n);
/// Copies n bytes; the areas may overlap. Returns dst.
void* Memmove(void* dst, const void* src, size_t n);

// --- floating point ------------------------------------------------------
/// Splits x into integral part (stored in *integral) and fractional part
/// (returned), both with the sign of x.
double Modf(double x, double* integral);
double Fabs(double x);

// --- C strings -----------------------------------------------------------
/// Number of bytes before the terminating NUL; a null pointer gives 0.
/// Texts longer than INT_MAX bytes are reported as INT_MAX.
int Strlen(const char* s);
/// Byte-wise comparisons (unsigned bytes); sign of the result as strcmp.
/// A null pointer compares as the empty string.
int Strcmp(const char* a, const char* b);
int Strncmp(const char* a, const char* b, size_t n);
/// Case-insensitive comparison that folds only the ASCII letters A-Z to
/// lower case (independent of the locale). Returns the difference of the
/// first differing folded bytes, taken as unsigned values; 0 when equal.
/// A null pointer compares as the empty string.
int Stricmp(const char* a, const char* b);
/// First occurrence of `needle` in `hay`, or null. Null inputs give null.
const char* Strstr(const char* hay, const char* needle);
char* Strstr(char* hay, const char* needle);
/// First occurrence of the byte c in s (the terminating NUL included, as in
/// C), or null. A null s gives null.
const char* Strchr(const char* s, int c);
char* Strchr(char* s, int c);
/// As strcpy / strncpy / strcat: the caller guarantees room in dst. A null
/// src counts as the empty string; a null dst does nothing and gives null.
char* Strcpy(char* dst, const char* src);
char* Strncpy(char* dst, const char* src, size_t n);
char* Strcat(char* dst, const char* src);
/// A heap copy of s, to be released with free(); null gives null. Throws
/// std::bad_alloc when memory is exhausted.
char* Strdup(const char* s);

// --- integer to text ------------------------------------------------------
/// Writes `value` in `radix` (2..36) into buf, digits above 9 as lower-case
/// letters, and returns buf. A minus sign is written only in radix 10; the
/// other radixes print the two's-complement bit pattern as an unsigned
/// number (Itoa(-1, b, 16) gives "ffffffff"). An unsupported radix writes
/// the empty string. buf must hold 33 bytes (65 for 64-bit values); a null
/// buf gives null.
char* Itoa(int value, char* buf, int radix);
char* Itoa(unsigned int value, char* buf, int radix);
char* Itoa(long value, char* buf, int radix);
char* Itoa(unsigned long value, char* buf, int radix);
char* Itoa(long long value, char* buf, int radix);
char* Itoa(unsigned long long value, char* buf, int radix);

// --- text to numbers --------------------------------------------------------
/// As atoi / atoll, but a value out of range saturates instead of being
/// undefined; null gives 0.
int Atoi(const char* s);
long Atoi64(const char* s);
/// As strtol / strtoul / strtoll / strtoull / strtod. A null s gives 0 and
/// stores null in *end (when end is not null).
long Strtol(const char* s, char** end, int base);
unsigned long Strtoul(const char* s, char** end, int base);
long Strtoi64(const char* s, char** end, int base);
unsigned long Strtoui64(const char* s, char** end, int base);
double Strtod(const char* s, char** end);

// --- character classes -----------------------------------------------------
/// As isspace / isdigit; safe for negative char values.
bool IsSpace(char c);
bool IsDigit(char c);

}  // namespace DAXO

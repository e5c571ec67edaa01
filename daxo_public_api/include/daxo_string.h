// DAXOString and DAXOStreamedString: the SDK's text values.
//
// DAXOStackedString<N> is a length-counted byte string with an inline buffer
// of N bytes (only N = 40 exists; it is used under the name DAXOString).
// Invariants: `str[l]` is NUL; `str` points at `buf` exactly when the text is
// inline, and then `res` is N; otherwise `str` is a heap array of `res` bytes
// owned by the string. Bytes appended with concat() or the `ends`
// manipulator may put NUL bytes inside the first `l` bytes; they count in
// the length, but everything that measures C-string input stops at them.
//
// Storage rule, for a text of length n:
//   - construction and assignment: n <= N-1 is inline; otherwise a fresh
//     heap array of N * ((n + 1) / N + 1) bytes (40 -> 80, 78 -> 80,
//     79 -> 120). Assignment never reuses the previous heap array.
//   - append: when the new length reaches the capacity (n >= res), a heap
//     array sized by the same formula replaces the storage. Appends never
//     shrink.
//
// Positions are 0-based byte offsets. Out-of-range positions and counts
// are clamped to the text; no operation reads or writes outside it.
//
// DAXOStreamedString adds `<<` insertion with a sticky integer base
// (DAXOSManip::dec / hex / oct). bool inserts "true" / "false"; char
// inserts the character itself; signed and unsigned char insert numbers.
//
// Threading: not synchronised; a string is used by one thread at a time.
// Failure: allocation failure throws std::bad_alloc; a string that fails to
// grow or to be assigned keeps its old content.
#pragma once

#include "daxo_array.h"

template <int N>
class DAXOStackedString {
  static_assert(N >= 2, "the inline buffer must hold at least one byte and a NUL");

 public:
  // --- construction ------------------------------------------------------
  /// The empty inline string.
  DAXOStackedString() { buf[0] = '\0'; }
  /// A copy of the C string up to its NUL; null gives the empty string.
  DAXOStackedString(const char* text);  // NOLINT: literals convert freely
  /// A one-byte string holding c (a NUL byte included).
  explicit DAXOStackedString(char c);
  /// Copies length, bytes and tokenizer cursor.
  DAXOStackedString(const DAXOStackedString& other);
  /// printf-style formatting of one argument. `fmt` must hold at most one
  /// conversion of the argument's kind (s; d i o u x X c with optional h/hh;
  /// f F e E g G a A with optional l), plus any number of "%%". A format
  /// outside these rules is taken as plain text (copied unformatted); a
  /// null format gives the empty string; a null text argument prints as
  /// "(null)".
  DAXOStackedString(const char* fmt, const char* arg);
  DAXOStackedString(const char* fmt, int arg);
  DAXOStackedString(const char* fmt, double arg);
  /// The number in decimal, or in lower-case hexadecimal (two's-complement,
  /// no prefix) when `hexadecimal` is set.
  DAXOStackedString(int value, bool hexadecimal);
  /// The number in `radix` by DAXO::Itoa rules (2..36; a minus sign only in
  /// radix 10); another radix gives decimal.
  DAXOStackedString(int value, int radix);
  virtual ~DAXOStackedString();

  // --- assignment --------------------------------------------------------
  /// Copies length, bytes and cursor. Self-assignment does nothing.
  DAXOStackedString& operator=(const DAXOStackedString& other);
  /// Copies the C string (null gives the empty string); the cursor is reset.
  /// `text` may point into this string.
  DAXOStackedString& operator=(const char* text);

  // --- append (null appends nothing; the argument may be this string) ---
  DAXOStackedString& operator+=(const char* text);
  DAXOStackedString& operator+=(unsigned char* text);
  /// Appends all Length() bytes of `other`, NUL bytes included.
  DAXOStackedString& operator+=(const DAXOStackedString& other);
  /// Appends the single byte c (a NUL byte included).
  DAXOStackedString& operator+=(char c);
  /// Appends exactly n bytes from p (the caller guarantees they exist). The
  /// primitive under every append; n <= 0 or a null p does nothing.
  DAXOStackedString& concat(int n, const char* p);

  // --- concatenation: a new string, left operand first ------------------
  // A null C string yields a copy of the string operand (cursor included).
  friend DAXOStackedString operator+(const DAXOStackedString& a, const char* b) {
    return b == nullptr ? a : Join(a.str, a.l, b, -1);
  }
  friend DAXOStackedString operator+(const char* a, const DAXOStackedString& b) {
    return a == nullptr ? b : Join(a, -1, b.str, b.l);
  }
  friend DAXOStackedString operator+(const DAXOStackedString& a, const DAXOStackedString& b) {
    return Join(a.str, a.l, b.str, b.l);
  }

  // --- access --------------------------------------------------------------
  /// The C-string view (stops at the first NUL byte, if any is embedded).
  operator const char*() const { return str; }
  /// The byte at position i; NUL for a position outside [0, Length()).
  char operator[](int i) const { return (i >= 0 && i < l) ? str[i] : '\0'; }
  int Length() const { return l; }
  int Len() const { return l; }
  /// Bytes of storage, the terminating NUL included.
  int GetCapacity() const { return res; }
  /// Ensures at least n bytes of storage (never shrinks); the text is kept.
  /// Together with Beginning() and UpdateLength() this lets C code write
  /// into the string.
  DAXOStackedString& SetCapacity(int n);
  /// The writable storage (GetCapacity() bytes). Keep a NUL within it and
  /// call UpdateLength() after writing.
  char* Beginning() { return str; }
  const char* Beginning() const { return str; }
  /// True while the text lives in the inline buffer.
  bool IsInline() const { return str == buf; }

  // --- comparison ----------------------------------------------------------
  // String against string: lengths first, then bytes. String against C
  // string: the same bytes over the string's length and the C string ending
  // there (null counts as empty). Ordering is by unsigned bytes, then length.
  friend bool operator==(const DAXOStackedString& a, const DAXOStackedString& b) {
    return a.SameBytes(b.str, b.l);
  }
  friend bool operator!=(const DAXOStackedString& a, const DAXOStackedString& b) {
    return !a.SameBytes(b.str, b.l);
  }
  friend bool operator==(const DAXOStackedString& a, const char* b) { return a.SameText(b); }
  friend bool operator!=(const DAXOStackedString& a, const char* b) { return !a.SameText(b); }
  friend bool operator==(const char* a, const DAXOStackedString& b) { return b.SameText(a); }
  friend bool operator!=(const char* a, const DAXOStackedString& b) { return !b.SameText(a); }
  friend bool operator<(const DAXOStackedString& a, const DAXOStackedString& b) {
    return a.Compare(b.str, b.l) < 0;
  }
  friend bool operator>(const DAXOStackedString& a, const DAXOStackedString& b) {
    return a.Compare(b.str, b.l) > 0;
  }
  friend bool operator<(const DAXOStackedString& a, const char* b) { return a.Compare(b) < 0; }
  friend bool operator>(const DAXOStackedString& a, const char* b) { return a.Compare(b) > 0; }
  friend bool operator<(const char* a, const DAXOStackedString& b) { return b.Compare(a) > 0; }
  friend bool operator>(const char* a, const DAXOStackedString& b) { return b.Compare(a) < 0; }

  bool Equals(const char* text) const { return SameText(text); }
  bool Equals(const DAXOStackedString& other) const { return SameBytes(other.str, other.l); }
  /// Equality of the C-string views with DAXO::Stricmp rules (ASCII only).
  bool Iequals(const char* text) const;
  /// Prefix / suffix tests over the bytes; the case forms fold ASCII letters.
  /// A null or empty argument always matches.
  bool StartsWith(const char* prefix) const;
  bool EndsWith(const char* suffix) const;
  bool StartsCaseWith(const char* prefix) const;
  bool EndsCaseWith(const char* suffix) const;
  /// True when the whole text is a decimal number: an optional sign, digits
  /// with at most one decimal point (at least one digit), and an optional
  /// exponent (e or E, optional sign, digits). No surrounding spaces.
  bool IsNum() const;

  // --- search (positions, -1 when absent) ---------------------------------
  /// First position of c / of `text` at or after `from` (clamped to 0).
  int Pos(char c, int from = 0) const;
  int Pos(const char* text, int from = 0) const;
  /// As Pos, storing the position in `pos` (-1 when absent); true if found.
  bool Find(char c, int& pos, int from = 0) const;
  bool Find(const char* text, int& pos, int from = 0) const;
  /// Last position of c at or before `from` (a negative `from`: the end).
  bool ReverseFind(char c, int& pos, int from = -1) const;
  /// First / last start of `text` at or after / at or before `from`. An
  /// empty text is found at `from` (clamped); a null text is never found.
  int FindStr(const char* text, int from = 0) const;
  int ReverseFindStr(const char* text, int from = -1) const;

  // --- extraction (new strings; this string is unchanged) -----------------
  /// `count` bytes from `start` (a negative count: to the end).
  DAXOStackedString operator()(int start, int count) const;
  /// The text before the first c / the first occurrence of `text`; the
  /// whole string when absent.
  DAXOStackedString UpTo(char c) const;
  DAXOStackedString Up2(const char* text) const;
  /// The text from position `start` to the end.
  DAXOStackedString Tail(int start) const;
  /// Piece number `index` (0-based) between `sep` separators, as Split
  /// numbers them; empty when there is no such piece.
  DAXOStackedString Part(char sep, int index) const;
  /// The first / last n bytes.
  DAXOStackedString Left(int n) const;
  DAXOStackedString Right(int n) const;
  /// `count` bytes from `start` (a negative count: to the end).
  DAXOStackedString Mid(int start, int count = -1) const;
  /// The pieces between `sep` separators, in order: every separator ends a
  /// piece, and the text after the last one is always the last piece, so
  /// there are (separators + 1) pieces ("" gives one empty piece, "a," gives
  /// "a" and ""). A NUL byte inside a piece ends that piece.
  DAXOArray<DAXOStackedString> Split(char sep) const;

  // --- tokenizing (uses the cursor `tpos`) --------------------------------
  /// Moves the cursor back to the start of the text.
  void TokenReset() { tpos = 0; }
  /// Stores in `token` the text from the cursor to the next byte of
  /// `delims` (or to the end) and moves the cursor past that byte. Adjacent
  /// delimiters give empty tokens, like Split. Returns false, with `token`
  /// cleared, once the text after the last delimiter has been returned.
  /// `token` may be this string: it then receives the first token and the
  /// walk ends.
  bool Token(const char* delims, DAXOStackedString& token);
  /// The next non-empty run of bytes not in `delims`, skipping delimiters
  /// first (like strtok); the empty string once none is left.
  DAXOStackedString Strtok(const char* delims);
  /// Starts a byte-by-byte walk at the beginning (same cursor as Token).
  void InitNextChar() { tpos = 0; }
  /// The byte at the cursor, advancing it; NUL once the text is exhausted.
  char NextChar();
  /// The cursor position (0 .. Length() + 1).
  int CharPos() const { return tpos; }

  // --- editing in place (each returns this string) ------------------------
  /// Drops the last n bytes (all of them when n >= Length()).
  DAXOStackedString& Shorten(int n);
  /// Empties the text and resets the cursor; the storage is kept.
  DAXOStackedString& Clear();
  /// Re-measures the text up to its first NUL (within the storage) after
  /// direct writes through Beginning().
  DAXOStackedString& UpdateLength();
  /// Drops every CR and LF byte at the end of the text.
  DAXOStackedString& RemoveCRLF();
  /// Drops white space (DAXO::IsSpace) at both ends of the text.
  DAXOStackedString& RemoveSpaces();
  /// ASCII case mapping of every byte / of the first byte only.
  DAXOStackedString& Uppercase();
  DAXOStackedString& Lowercase();
  DAXOStackedString& FirstUppercase();
  /// Replaces every byte `from` with `to`.
  DAXOStackedString& Substitute(char from, char to);
  /// Reverses the order of the bytes.
  DAXOStackedString& Reverse();
  /// Replaces the text with the formatted argument (rules of the formatting
  /// constructors); the cursor is reset.
  DAXOStackedString& Format(const char* fmt, const char* arg);
  DAXOStackedString& Format(const char* fmt, int arg);
  DAXOStackedString& Format(const char* fmt, double arg);

 protected:
  int l = 0;     // length, not counting the terminating NUL
  int res = N;   // capacity of the storage `str` points to
  int tpos = 0;  // tokenizer cursor
  char* str = buf;
  char buf[N];

 private:
  // Replaces the text with the n bytes at p (which may lie inside this
  // string), choosing storage by the assignment rule.
  void Assign(const char* p, int n);
  bool SameBytes(const char* p, int n) const;
  bool SameText(const char* p) const;
  int Compare(const char* p, int n) const;
  int Compare(const char* p) const;
  // A new string of the na bytes at a then the nb bytes at b (a negative
  // count: measure that text with DAXO::Strlen).
  static DAXOStackedString Join(const char* a, int na, const char* b, int nb);
  template <class A>
  void FormatOne(const char* fmt, A arg, char kind);
};

using DAXOString = DAXOStackedString<40>;

// The members are compiled once, in the runtime library.
extern template class DAXOStackedString<40>;

class DAXOStreamedString;

/// Stream manipulators. Inserting dec / hex / oct sets the integer base of
/// the stream until the next base manipulator; endl appends a line feed;
/// ends appends one NUL byte (it counts in the length but leaves the
/// C-string view unchanged).
namespace DAXOSManip {
enum flags : unsigned int { f_dec = 0, f_hex = 1, f_oct = 2, f_endl = 16, f_ends = 17 };

struct DAXOIOSBase {
  unsigned int m_flag;
};

inline constexpr DAXOIOSBase dec{f_dec};
inline constexpr DAXOIOSBase hex{f_hex};
inline constexpr DAXOIOSBase oct{f_oct};
inline constexpr DAXOIOSBase endl{f_endl};
inline constexpr DAXOIOSBase ends{f_ends};

/// Append the value in hexadecimal / octal (no prefix, lower case),
/// whatever the stream's base.
DAXOStreamedString& _printHex16(DAXOStreamedString& s, unsigned short value);
DAXOStreamedString& _printOct16(DAXOStreamedString& s, unsigned short value);
DAXOStreamedString& _printHex32(DAXOStreamedString& s, unsigned int value);
DAXOStreamedString& _printOct32(DAXOStreamedString& s, unsigned int value);
DAXOStreamedString& _printHex64(DAXOStreamedString& s, unsigned long value);
DAXOStreamedString& _printOct64(DAXOStreamedString& s, unsigned long value);
}  // namespace DAXOSManip

/// A DAXOString with `<<` insertion. Integers follow the stream's base
/// (hexadecimal wins over octal; digits lower case, no prefix; 16-bit and
/// 32-bit negative values in hex/oct print their unsigned bit pattern of
/// that width); floating-point values print as "%.10g" in every base;
/// pointers as "%p". A new stream is decimal.
class DAXOStreamedString : public DAXOStackedString<40> {
 public:
  DAXOStreamedString() = default;
  DAXOStreamedString(const char* text) : DAXOStackedString<40>(text) {}                   // NOLINT
  DAXOStreamedString(const DAXOStackedString<40>& text) : DAXOStackedString<40>(text) {}  // NOLINT
  DAXOStreamedString(const DAXOStreamedString&) = default;
  DAXOStreamedString& operator=(const DAXOStreamedString&) = default;
  /// Text assignments keep the stream's base.
  DAXOStreamedString& operator=(const DAXOStackedString<40>& text) {
    DAXOStackedString<40>::operator=(text);
    return *this;
  }
  DAXOStreamedString& operator=(const char* text) {
    DAXOStackedString<40>::operator=(text);
    return *this;
  }
  ~DAXOStreamedString() override = default;

  DAXOStreamedString& operator<<(DAXOSManip::DAXOIOSBase manip);
  DAXOStreamedString& operator<<(bool value);
  DAXOStreamedString& operator<<(char value);
  DAXOStreamedString& operator<<(signed char value);
  DAXOStreamedString& operator<<(unsigned char value);
  DAXOStreamedString& operator<<(short value);
  DAXOStreamedString& operator<<(unsigned short value);
  DAXOStreamedString& operator<<(int value);
  DAXOStreamedString& operator<<(unsigned int value);
  DAXOStreamedString& operator<<(long value);
  DAXOStreamedString& operator<<(unsigned long value);
  DAXOStreamedString& operator<<(long long value);
  DAXOStreamedString& operator<<(unsigned long long value);
  DAXOStreamedString& operator<<(float value);
  DAXOStreamedString& operator<<(double value);
  DAXOStreamedString& operator<<(long double value);
  DAXOStreamedString& operator<<(const void* value);
  /// Up to the terminating NUL; null appends nothing.
  DAXOStreamedString& operator<<(const char* text);
  /// The string's bytes up to its length or its first NUL byte.
  template <int M>
  DAXOStreamedString& operator<<(const DAXOStackedString<M>& text) {
    const char* p = text;
    int n = 0;
    while (n < text.Length() && p[n] != '\0') ++n;
    concat(n, p);
    return *this;
  }

  /// The format flags; the low four bits are the integer base
  /// (0 decimal, 1 hexadecimal, 2 octal).
  unsigned int Flags() const { return m_fmtflags; }

 protected:
  unsigned int m_fmtflags = 0;

 private:
  // Appends `value` printed by the printf conversion `fmt`.
  template <class V>
  DAXOStreamedString& Printf(const char* fmt, V value);
  // Integers: the unsigned bit pattern `bits` in hex / octal, else `value`
  // in decimal with `dec`.
  template <class V, class U>
  DAXOStreamedString& Integer(V value, U bits, const char* dec, bool wide);
};

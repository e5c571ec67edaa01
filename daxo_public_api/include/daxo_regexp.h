// Regular expressions (Perl-compatible syntax) over libpcre.
//
// A DAXORegExp is a handle on a reference-counted base holding the compiled
// pattern, its study data, the compile diagnostics and the results of the
// last match. Copies share one base: a match through any copy is seen by all,
// and the base lives until the last handle sharing it goes away.
// SetPattern gives the handle a fresh base of its own.
//
// Threading: a DAXORegExp and every copy sharing its base must be used by one
// thread at a time (the reference count is not atomic), with one exception:
// Test() only reads the compiled pattern, so once no thread changes the
// handle (SetPattern, Study, assignment), any number of threads may call
// Test() on it at once.
#pragma once

#include "daxo_array.h"
#include "daxo_string.h"

// libpcre's own opaque types, declared as pcre.h declares them so that this
// header does not need <pcre.h>.
struct real_pcre;
struct pcre_extra;

/// The state shared by a DAXORegExp and its copies.
struct DAXObaseregexp {
  int refCount = 1;                  // handles sharing this base
  real_pcre* code = nullptr;         // compiled pattern; null if none or compilation failed
  pcre_extra* study = nullptr;       // study result; null if not studied
  int options = 0;                   // compile options
  const char* error = nullptr;       // PCRE's (static) message of the last compile failure
  int errorOffset = -1;              // where in the pattern compilation failed
  DAXOArray<int> offsets;            // offsets vector handed to PCRE
  DAXOArray<DAXOString> substrings;  // whole match and groups of the last successful match
  bool matched = false;              // the last Match succeeded

  DAXObaseregexp();
  ~DAXObaseregexp();
  DAXObaseregexp(const DAXObaseregexp&) = delete;
  DAXObaseregexp& operator=(const DAXObaseregexp&) = delete;
};

class DAXORegExp {
 public:
  /// Caseless matching (PCRE's caseless compile flag).
  static constexpr int OptCaseless = 1;

  /// A handle with no pattern: Ok() is false and every match fails.
  DAXORegExp();
  /// Compiles `pattern` with `options` (PCRE compile flags, e.g. OptCaseless).
  /// A null or invalid pattern leaves Ok() false; see LastError/ErrorOffset.
  explicit DAXORegExp(const char* pattern, int options = 0);
  /// Shares the base of `other`.
  DAXORegExp(const DAXORegExp& other);
  /// Drops the own base and shares the base of `other`; self-assignment is
  /// harmless.
  DAXORegExp& operator=(const DAXORegExp& other);
  virtual ~DAXORegExp();

  /// Stores compile options in the current base; they take effect at the next
  /// compilation into this base only (SetPattern starts a fresh base with
  /// options 0).
  void SetOptions(int options);
  /// Leaves the current base to its other sharers, starts a fresh base
  /// (options 0) and compiles `pattern` into it.
  void SetPattern(const char* pattern);

  /// Studies the compiled pattern to speed up later matches; no effect when
  /// there is no compiled pattern.
  void Study();
  void study_pattern() { Study(); }

  /// Matches the first `length` bytes of `subject` (NUL bytes included; a
  /// negative length means up to the first NUL). True on a match, which
  /// replaces the substrings; false without a compiled pattern, for a null
  /// subject, on no match or on a PCRE error, which keep the previous
  /// substrings.
  bool Match(const char* subject, int length = -1);
  bool exec(const char* subject, int length = -1) { return Match(subject, length); }
  /// Whether the pattern matches, like Match, but records nothing: the
  /// substrings and Matched() stay as they were. Safe to call from several
  /// threads at once on one handle (see the banner).
  bool Test(const char* subject, int length = -1) const;

  /// A compiled pattern exists.
  bool Ok() const;
  /// PCRE's message for the last failed compilation, or "" if none.
  const char* LastError() const;
  /// Offset in the pattern where compilation failed, -1 if it did not.
  int ErrorOffset() const;

  /// The last Match call through this base succeeded.
  bool Matched() const;
  /// Whole match (entry 0) and captured groups of the last successful match;
  /// a group that took no part is an empty string.
  const DAXOArray<DAXOString>& Substrings() const;
  /// Entry `i` of Substrings(), or an empty string when out of range.
  DAXOString Substring(int i) const;
  /// Same as Substring (Perl's $i).
  DAXOString Dollar(int i) const { return Substring(i); }
  /// Number of entries of Substrings().
  int NbSubstrings() const;
  /// Start offset in the subject of group `i` (0: the whole match) of the last
  /// Match; -1 when that Match failed, the group took no part or `i` is out of
  /// range.
  int Position(int i) const;

 private:
  void Release();
  void Compile(const char* pattern);

  DAXObaseregexp* base_;
};

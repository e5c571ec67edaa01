// Text conversion between UTF-8 (the SDK's text encoding), the character set
// of the process locale (what the operating system expects in paths and
// terminal output) and wide characters (wchar_t, UTF-32 in native order).
//
// DAXOIconv is a facade of static functions over one process-wide converter
// set up at first use. Setting up sets the whole process locale from the
// environment (LANG, LC_*) once, then puts the numeric category back to "C"
// so that number formatting stays locale-independent.
//
// Every converting function returns a newly allocated, NUL-terminated result
// that the caller owns and gives back with the matching release function
// (releaseUTF8 for UTF-8 results, releaseLocale for locale text, releaseWide
// for wide text). A null input, or text that cannot be converted, gives null.
//
// Threading: every function may be called from any thread. A conversion
// blocks while another thread converts through the same handle. Lock order:
// a handle's mutex, then the converter set's mutex, both leaves of the SDK's
// order (daxo_lock_order.h); nothing is called out while they are held.
#pragma once

#include <cstddef>

#include "daxo_string.h"

/// One open conversion (source and target character sets) with its own
/// mutex. Opaque; obtained from DAXOIconv::open.
struct DAXOIconvHandle;

class DAXOIconv {
 public:
  /// Locale text to UTF-8.
  static char* localeToUTF8(const char* text);
  /// Locale text to UTF-8 into `out`. Returns false (and leaves `out` empty)
  /// when `text` is null or cannot be converted.
  static bool localeToUTF8(const char* text, DAXOString& out);
  /// UTF-8 to locale text.
  static char* UTF8ToLocale(const char* text);
  /// Wide text to UTF-8.
  static char* wideToUTF8(const wchar_t* text);
  /// Wide text to UTF-8 into `out`; false (and `out` empty) on failure.
  static bool wideToUTF8(const wchar_t* text, DAXOString& out);
  /// UTF-8 to wide text.
  static wchar_t* UTF8ToWide(const char* text);

  static void releaseLocale(char* text);
  static void releaseUTF8(char* text);
  static void releaseWide(wchar_t* text);

  /// Number of characters (code points) of UTF-8 `text` up to its first NUL;
  /// -1 when it is not valid UTF-8.
  static int NbColumns(const DAXOString& text);
  /// The locale's character set is UTF-8 (its name contains "utf8" or
  /// "utf-8" in any letter case).
  static bool isLocaleUTF8();

  /// Opens a conversion from character set `from` to `to` (iconv names).
  /// Returns null when the pair is not supported. Close it with close().
  static DAXOIconvHandle* open(const char* from, const char* to);
  /// Closes a handle from open(); null is ignored. No thread may still be
  /// converting through it.
  static void close(DAXOIconvHandle* handle);
  /// Converts `length` bytes of `input` (normally including the input's own
  /// terminator, so that the output carries one in the target encoding).
  /// The result is followed by extra zero bytes, enough to end it as a char
  /// or as a wchar_t string even when the input carried no terminator.
  /// Returns null for a null handle or input, or when the input holds an
  /// invalid or incomplete sequence. Release the result with the release
  /// function of its encoding.
  static char* convert(DAXOIconvHandle* handle, const char* input, unsigned long length);
};

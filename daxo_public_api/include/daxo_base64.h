// Base64 (RFC 4648 alphabet, "=" padding) for binary data held in strings.
//
// Both operations read the input as its full length, NUL bytes included, and
// the decoded output may contain NUL bytes, which count in its length. No line
// breaks are written; on decoding, every character outside the alphabet
// (padding, white space, line breaks, anything else) is skipped, so decoding
// never fails.
//
// Threading: no state; any thread may call either operation on strings it
// owns.
#pragma once

#include "daxo_string.h"

class DAXOBase64 {
 public:
  /// Replaces `out` (length 0 and token cursor 0 first) with the Base64 form
  /// of the `in.Length()` bytes of `in`: 4 * ceil(n / 3) characters, padded
  /// with "=" to a multiple of four. `in` and `out` may be the same string.
  static void Encode(const DAXOString& in, DAXOString& out);

  /// Replaces `out` (length 0 and token cursor 0 first) with the bytes coded
  /// by the alphabet characters of `in`. Non-alphabet characters are skipped;
  /// a trailing group of k (1 to 3) sextets yields k - 1 bytes. `in` and
  /// `out` may be the same string.
  static void Decode(const DAXOString& in, DAXOString& out);
};

// Decodes arbitrary bytes as Base64 and checks that the result re-encodes to
// text that decodes back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "daxo_base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  DAXOString in;
  in.concat(static_cast<int>(size), reinterpret_cast<const char*>(data));

  DAXOString decoded;
  DAXOBase64::Decode(in, decoded);
  // At most three bytes for every four input characters.
  if (decoded.Length() > static_cast<int>(size / 4 * 3 + 2)) abort();

  DAXOString encoded;
  DAXOBase64::Encode(decoded, encoded);
  if (encoded.Length() != 4 * ((decoded.Length() + 2) / 3)) abort();

  DAXOString again;
  DAXOBase64::Decode(encoded, again);
  if (again.Length() != decoded.Length() ||
      std::memcmp(again.Beginning(), decoded.Beginning(), decoded.Length()) != 0) {
    abort();
  }
  return 0;
}

#include "daxo_base64.h"

#include <random>

#include "runtime_test_support.h"

namespace {

using daxo_test::Daxo;
using daxo_test::Str;

std::string Encoded(const std::string& in) {
  DAXOString out;
  DAXOBase64::Encode(Daxo(in), out);
  return Str(out);
}

std::string Decoded(const std::string& in) {
  DAXOString out;
  DAXOBase64::Decode(Daxo(in), out);
  return Str(out);
}

TEST(DAXOBase64, StandardVectorsEncodeAndDecode) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"\xfb\xff\xbf", "+/+/"}};
  for (const auto& [plain, coded] : vectors) {
    EXPECT_EQ(Encoded(plain), coded);
    EXPECT_EQ(Decoded(coded), plain);
  }
}

TEST(DAXOBase64, DecodingSkipsEverythingOutsideTheAlphabet) {
  EXPECT_EQ(Decoded("Y W\r\nJ\tj\n"), "abc");
  // Skipped codes inside the table's range '+' .. 'z', around it, NUL and
  // bytes with the high bit set.
  EXPECT_EQ(Decoded(std::string("=Y,-.:;<=>?@W[\\]^_`J*{|}~\0j\x80\xff", 28)), "abc");
}

TEST(DAXOBase64, LeftoverSextetsGiveOneByteLessThanTheirCount) {
  EXPECT_EQ(Decoded("Y"), "");  // too few bits for a byte
  EXPECT_TRUE(Decoded("YWJjZ") == "abc" && Decoded("YQ") == "a" && Decoded("YWI") == "ab");
}

TEST(DAXOBase64, RandomBinaryDataWithNulBytesSurvivesARoundTrip) {
  std::mt19937 rng(1234);
  for (int n = 0; n < 300; ++n) {
    std::string data(n, '\0');
    for (char& c : data) c = static_cast<char>(rng() & 0xff);
    if (n > 2) data[n / 2] = '\0';
    const std::string encoded = Encoded(data);
    EXPECT_EQ(encoded.size(), 4 * ((data.size() + 2) / 3));
    EXPECT_EQ(Decoded(encoded), data) << "length " << n;
  }
}

TEST(DAXOBase64, OutputIsReplacedAndMayBeTheInput) {
  DAXOString out("previous content, long enough to live on the heap of the string");
  out.Strtok(" ");  // moves the token cursor
  DAXOBase64::Encode(Daxo("ab"), out);
  EXPECT_TRUE(out == "YWI=" && out.CharPos() == 0);

  DAXOString s("abc");
  DAXOBase64::Encode(s, s);
  EXPECT_EQ(s, "YWJj");
  DAXOBase64::Decode(s, s);
  EXPECT_EQ(s, "abc");
}

}  // namespace

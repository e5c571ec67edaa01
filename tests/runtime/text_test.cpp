// The text layer: Base64 coding and regular expressions.
#include <random>
#include <string>

#include "daxo_base64.h"
#include "daxo_regexp.h"
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

TEST(DAXORegExp, ElementNamePatternAcceptsOnlyIdentifiers) {
  DAXORegExp name("^[a-zA-Z][a-zA-Z_0-9]*$", 0);
  ASSERT_TRUE(name.Ok());
  EXPECT_TRUE(name.Match("x", 1) && name.Match("Abc_9", 5));
  EXPECT_FALSE(name.Match("9a", 2) || name.Match("", 0) || name.Match("a_b.c", 5));
  EXPECT_FALSE(name.Match(std::string("ab\0c", 4).data(), 4));  // the length is honoured
  EXPECT_TRUE(name.Match("abc"));                               // measured up to the NUL
}

TEST(DAXORegExp, MatchReportsGroupsPositionsAndUnusedGroups) {
  DAXORegExp re("(\\w+)@(\\w+)(x)?", 0);
  ASSERT_TRUE(re.Match("mail: joe@host.", 15));
  ASSERT_EQ(re.NbSubstrings(), 3);  // the unused trailing group is not reported
  EXPECT_TRUE(re.Substring(0) == "joe@host" && re.Dollar(1) == "joe" && re.Substring(2) == "host");
  EXPECT_EQ(re.Substring(3), "");
  EXPECT_TRUE(re.Position(2) == 10 && re.Position(3) == -1);

  DAXORegExp either("(a)|(b)", 0);
  ASSERT_TRUE(either.Match("b", 1));
  ASSERT_EQ(either.NbSubstrings(), 3);
  EXPECT_EQ(either.Substring(1), "");  // took no part
  EXPECT_TRUE(either.Position(1) == -1 && either.Position(2) == 0);

  // A later match with fewer groups shrinks the substrings; a failed one
  // keeps them but reports no positions.
  ASSERT_TRUE(re.Match("a@b", 3));
  EXPECT_FALSE(re.Match("none", 4));
  EXPECT_FALSE(re.Matched());
  EXPECT_TRUE(re.NbSubstrings() == 3 && re.Substring(1) == "a" && re.Position(1) == -1);

  // The subject may be one of the substrings it replaces.
  DAXORegExp tail("@(.*)", 0);
  ASSERT_TRUE(tail.Match("a@b@c@d", 7));
  ASSERT_TRUE(tail.Match(tail.Substrings()[1], 5));
  EXPECT_EQ(tail.Substring(1), "c@d");
}

TEST(DAXORegExp, TestAnswersWithoutTouchingTheLastMatch) {
  DAXORegExp re("^(\\w+)@", 0);
  ASSERT_TRUE(re.Match("joe@host"));
  EXPECT_TRUE(re.Test("ann@x"));
  EXPECT_FALSE(re.Test("no at sign"));
  EXPECT_FALSE(re.Test("ann@x", 3));  // the length is honoured
  EXPECT_TRUE(re.Matched() && re.Substring(1) == "joe");
  EXPECT_FALSE(DAXORegExp().Test("x") || re.Test(nullptr));
}

TEST(DAXORegExp, ManyCaptureGroupsAreAllReturned) {
  // 40 groups need 123 offsets entries where the vector starts with 10.
  std::string pattern, subject;
  for (int i = 0; i < 40; ++i) {
    pattern += "(.)";
    subject += static_cast<char>('A' + i);
  }
  DAXORegExp re(pattern.c_str(), 0);
  re.Study();
  for (int round = 0; round < 2; ++round) {  // the second round reuses the grown vector
    ASSERT_TRUE(re.Match(subject.c_str(), static_cast<int>(subject.size())));
    ASSERT_EQ(re.NbSubstrings(), 41);
    for (int i = 1; i <= 40; ++i) {
      EXPECT_EQ(re.Substring(i)[0], subject[i - 1]);
      EXPECT_EQ(re.Position(i), i - 1);
    }
  }
  DAXORegExp four("(a)(b)(c)(d)", 0);
  ASSERT_TRUE(four.Match("abcd", 4));
  EXPECT_EQ(four.Substring(4), "d");
}

TEST(DAXORegExp, CopiesShareStateAndOutliveTheOriginal) {
  auto* original = new DAXORegExp("(b+)", 0);
  DAXORegExp copy(*original);
  DAXORegExp assigned;
  assigned = *original;
  ASSERT_TRUE(original->Match("abbbc", 5));
  EXPECT_EQ(copy.Substring(1), "bbb");  // a match is seen through every copy
  delete original;

  ASSERT_TRUE(assigned.Match("b", 1));
  EXPECT_EQ(copy.Substring(1), "b");
  DAXORegExp& alias = assigned;
  assigned = alias;  // self-assignment must not free the base
  assigned = copy;   // nor assignment between handles already sharing it
  EXPECT_TRUE(assigned.Match("xb", 2));

  copy.SetPattern("z");  // leaves the shared base to `assigned`
  EXPECT_TRUE(copy.Match("z", 1));
  EXPECT_FALSE(assigned.Match("z", 1));
  EXPECT_TRUE(assigned.Match("b", 1));
}

TEST(DAXORegExp, BadPatternReportsAndNeverMatches) {
  DAXORegExp re("ab(c", 0);
  EXPECT_FALSE(re.Ok());
  EXPECT_STRNE(re.LastError(), "");
  EXPECT_EQ(re.ErrorOffset(), 4);
  re.Study();
  EXPECT_FALSE(re.Match("ab(c", 4));

  re.SetPattern("abc");
  EXPECT_TRUE(re.Ok() && re.ErrorOffset() == -1);
  EXPECT_FALSE(re.Match(nullptr, 3) || DAXORegExp().Match("", 0) || DAXORegExp(nullptr, 0).Ok());
}

TEST(DAXORegExp, CaselessOptionAppliesAtCompilation) {
  EXPECT_FALSE(DAXORegExp("^abc$", 0).Match("ABC", 3));
  DAXORegExp caseless("^abc$", DAXORegExp::OptCaseless);
  EXPECT_TRUE(caseless.Match("aBC", 3));

  // SetPattern starts a fresh base with options 0.
  caseless.SetOptions(DAXORegExp::OptCaseless);
  caseless.SetPattern("^abc$");
  EXPECT_FALSE(caseless.Match("ABC", 3));
}

}  // namespace

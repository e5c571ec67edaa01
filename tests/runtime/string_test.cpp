// DAXOString (storage, comparisons, searches, pieces, edits, formatting),
// DAXOStreamedString (bases and the forms of inserted values) and the C
// library wrappers beneath them.
#include "daxo_string.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <tuple>
#include <utility>

#include "daxo_c_wrappers.h"
#include "runtime_test_support.h"

namespace {

using daxo_test::Str;

std::string Repeat(char c, int n) {
  return std::string(static_cast<size_t>(n), c);
}

// "[text]": pieces made visible, empty ones included.
std::string Bracketed(const char* text) {
  return std::string("[") + text + "]";
}

// Results and their expected texts, reported by position on failure.
using Results = std::initializer_list<std::pair<DAXOString, const char*>>;
void ExpectTexts(Results results) {
  int i = 0;
  for (const auto& [got, want] : results) EXPECT_EQ(std::string(got), want) << "case " << i++;
}

TEST(DAXOStackedString, StorageFollowsTheCapacityRule) {
  DAXOString s39(Repeat('a', 39).c_str());
  EXPECT_TRUE(s39.IsInline() && s39.GetCapacity() == 40);
  for (auto [length, capacity] : {std::pair{40, 80}, {78, 80}, {79, 120}, {119, 160}}) {
    DAXOString s(Repeat('b', length).c_str());
    EXPECT_FALSE(s.IsInline()) << length;
    EXPECT_EQ(s.GetCapacity(), capacity) << length;
    EXPECT_EQ(s.Length(), length);
  }

  // 39 + 1 leaves the inline buffer for an 80-byte array, keeping the text.
  s39 += "z";
  EXPECT_TRUE(!s39.IsInline() && s39.GetCapacity() == 80);
  EXPECT_EQ(std::string(s39), Repeat('a', 39) + "z");

  // Appends grow only when the new length reaches the capacity.
  DAXOString s78(Repeat('c', 78).c_str());
  s78 += 'c';
  EXPECT_EQ(s78.GetCapacity(), 80);
  s78 += 'c';
  EXPECT_EQ(s78.GetCapacity(), 120);
  EXPECT_EQ(std::string(s78), Repeat('c', 80));
}

TEST(DAXOStackedString, AssignmentReleasesAndChoosesStorageAfresh) {
  DAXOString s(Repeat('x', 100).c_str());
  ASSERT_EQ(s.GetCapacity(), 120);
  s = "short";
  EXPECT_TRUE(s.IsInline());
  s = Repeat('y', 45).c_str();
  EXPECT_EQ(s.GetCapacity(), 80);
  s = nullptr;
  EXPECT_TRUE(s.IsInline() && s.Length() == 0 && s == "");

  // A heap array that would be big enough is not reused.
  DAXOString big(Repeat('z', 200).c_str());
  big = DAXOString(Repeat('w', 41).c_str());
  EXPECT_EQ(big.GetCapacity(), 80);

  // Self-assignment and assignment from the string's own bytes.
  big = big;
  EXPECT_EQ(std::string(big), Repeat('w', 41));
  big = big.Beginning() + 30;
  EXPECT_TRUE(std::string(big) == Repeat('w', 11) && big.IsInline());
  DAXOString in("0123456789");
  in = in.Beginning() + 4;
  EXPECT_EQ(std::string(in), "456789");
}

TEST(DAXOStackedString, CopiesAreIndependentAndKeepTheCursor) {
  DAXOString a(Repeat('q', 60).c_str());
  DAXOString t;
  a.Token(",", t);  // moves the cursor past the end
  DAXOString b(a);
  EXPECT_EQ(b.CharPos(), a.CharPos());
  b.Uppercase();
  b += "tail";
  EXPECT_EQ(std::string(a), Repeat('q', 60));

  DAXOString c;
  c = a;
  EXPECT_EQ(c.CharPos(), a.CharPos());
  c = "text";
  EXPECT_EQ(c.CharPos(), 0);
}

TEST(DAXOStackedString, AppendsAcceptTheirOwnBytesAndEmbeddedNuls) {
  DAXOString s(Repeat('a', 30).c_str());
  s += s;  // grows while reading itself
  EXPECT_EQ(std::string(s), Repeat('a', 60));
  s += static_cast<const char*>(s);
  EXPECT_EQ(s.Length(), 120);

  DAXOString z("ab");
  z.concat(3, "c\0d");
  EXPECT_STREQ(z, "abc");
  EXPECT_EQ(Str(z), std::string("abc\0d", 5));
  z += static_cast<const char*>(nullptr);
  z.concat(-1, "x");
  EXPECT_EQ(z.Length(), 5);
  EXPECT_EQ(DAXOString('\0').Length(), 1);
}

TEST(DAXOStackedString, ConcatenationBuildsANewStringLeftOperandFirst) {
  DAXOString base("mid");
  ExpectTexts({{"<" + base, "<mid"}, {base + ">", "mid>"}, {base + base, "midmid"}});

  // A sum of 79 bytes is constructed, not appended: capacity 120.
  DAXOString sum = DAXOString(Repeat('f', 40).c_str()) + Repeat('g', 39).c_str();
  EXPECT_TRUE(sum.Length() == 79 && sum.GetCapacity() == 120);

  DAXOString cursor("a,b");
  DAXOString t;
  cursor.Token(",", t);
  DAXOString same = cursor + static_cast<const char*>(nullptr);
  EXPECT_TRUE(same.CharPos() == 2 && same == "a,b");
}

TEST(DAXOStackedString, EqualityComparesLengthAndBytesWithoutOverreading) {
  DAXOString s("abc");
  EXPECT_TRUE(s == "abc" && "abc" == s && s == DAXOString("abc"));
  EXPECT_TRUE(s != "abcd" && s != "ab");
  EXPECT_FALSE(s == static_cast<const char*>(nullptr));
  EXPECT_TRUE(DAXOString() == static_cast<const char*>(nullptr));

  // "ab\0x" is four bytes: not equal to the C string "ab" (which must not be
  // read beyond its NUL) nor to the two-byte string "ab".
  DAXOString embedded("ab");
  embedded.concat(2, "\0x");
  EXPECT_FALSE(embedded == "ab");
  EXPECT_FALSE(embedded == DAXOString("ab"));

  EXPECT_TRUE(DAXOString("abc") < DAXOString("abd"));
  EXPECT_TRUE(DAXOString("ab") < "abc");
  EXPECT_TRUE("b" > DAXOString("abc"));
  EXPECT_TRUE(DAXOString("\xff") > "a");  // bytes compare unsigned
}

TEST(DAXOStackedString, CaseInsensitiveFormsFoldOnlyAsciiLetters) {
  DAXOString s("Velquor.Output");
  EXPECT_TRUE(s.Iequals("VELQUOR.output"));
  EXPECT_FALSE(s.Iequals("velquor.outpu"));
  EXPECT_TRUE(s.StartsCaseWith("vElQ") && s.EndsCaseWith(".OUTPUT"));
  EXPECT_FALSE(s.StartsWith("vel"));
  EXPECT_TRUE(s.StartsWith("Vel") && s.EndsWith("put") && s.StartsWith(nullptr));
  EXPECT_FALSE(s.EndsWith("xx.Velquor.Output"));
  EXPECT_FALSE(DAXOString("\xc9").Iequals("\xe9"));  // Latin-1 E acute is not folded
}

TEST(DAXOStackedString, SearchesReturnZeroBasedPositionsAndClampTheirStart) {
  DAXOString s("a.b.c..d");
  // clang-format off
  const std::pair<int, int> found[] = {
      {s.Pos('.'), 1},          {s.Pos('.', 2), 3},           {s.Pos('.', -7), 1},
      {s.Pos('.', 100), -1},    {s.Pos('x'), -1},             {s.FindStr(".."), 5},
      {s.FindStr("c..d"), 4},   {s.FindStr("d."), -1},        {s.FindStr(""), 0},
      {s.FindStr(nullptr), -1}, {s.ReverseFindStr("."), 6},   {s.ReverseFindStr(".", 4), 3},
      {s.ReverseFindStr("a.b.c..d.", -1), -1}};
  // clang-format on
  for (size_t i = 0; i < std::size(found); ++i) EXPECT_EQ(found[i].first, found[i].second) << i;
  int pos = 0;
  EXPECT_TRUE(s.ReverseFind('.', pos) && pos == 6);
  EXPECT_TRUE(s.ReverseFind('.', pos, 4) && pos == 3);
  EXPECT_FALSE(s.ReverseFind('a', pos, -1) && pos != 0);
  EXPECT_FALSE(s.Find('z', pos));
  EXPECT_EQ(pos, -1);
  EXPECT_TRUE(s.Find("b.", pos, 0) && pos == 2);
}

TEST(DAXOStackedString, ExtractionsClampToTheText) {
  DAXOString s("module.output");
  DAXOString parts("a:bb::d");
  // clang-format off
  ExpectTexts({{s.Left(6), "module"},    {s.Left(-3), ""},             {s.Left(99), "module.output"},
               {s.Right(6), "output"},   {s.Right(99), "module.output"}, {s.Mid(7), "output"},
               {s.Mid(7, 3), "out"},     {s.Mid(-5, 3), "mod"},        {s.Mid(50, 3), ""},
               {s(10, 100), "put"},      {s.Tail(7), "output"},        {s.UpTo('.'), "module"},
               {s.UpTo('#'), "module.output"}, {s.Up2(".out"), "module"}, {s.Up2("none"), "module.output"},
               {parts.Part(':', 1), "bb"}, {parts.Part(':', 2), ""},   {parts.Part(':', 3), "d"},
               {parts.Part(':', 4), ""}, {parts.Part(':', -1), ""}});
  // clang-format on
  EXPECT_EQ(s[0], 'm');
  EXPECT_EQ(s[-1], '\0');
  EXPECT_EQ(s[100], '\0');
}

TEST(DAXOStackedString, SplitGivesOnePieceMoreThanSeparators) {
  auto pieces = [](const DAXOString& s) {
    DAXOArray<DAXOString> parts = s.Split(',');
    std::string joined;
    for (int i = 0; i < parts.Count(); ++i) joined += Bracketed(parts[i]);
    return joined;
  };
  for (auto [text, want] : {std::pair{"a,,b", "[a][][b]"},
                            {"", "[]"},
                            {"a,", "[a][]"},
                            {",", "[][]"},
                            {"abc", "[abc]"}}) {
    EXPECT_EQ(pieces(text), want) << text;
  }
  const std::string longPiece = Repeat('p', 70);
  EXPECT_EQ(pieces((longPiece + "," + longPiece).c_str()),
            Bracketed(longPiece.c_str()) + Bracketed(longPiece.c_str()));

  // A NUL byte ends its piece; the following pieces are unaffected.
  DAXOString embedded("ab");
  embedded.concat(4, "\0c,d");
  EXPECT_EQ(pieces(embedded), "[ab][d]");
}

TEST(DAXOStackedString, TokenKeepsEmptyPiecesAndStrtokSkipsThem) {
  DAXOString s("a,,b");
  DAXOString t("old");
  std::string seen;
  while (s.Token(",", t)) seen += Bracketed(t);
  EXPECT_EQ(seen, "[a][][b]");
  EXPECT_EQ(t.Length(), 0);
  EXPECT_FALSE(s.Token(",", t));
  s.TokenReset();
  EXPECT_TRUE(s.Token(",", t) && t == "a");

  DAXOString words("  one two\t three  ");
  std::string all;
  for (DAXOString w = words.Strtok(" \t"); w.Length() > 0; w = words.Strtok(" \t")) {
    all += Bracketed(w);
  }
  EXPECT_EQ(all, "[one][two][three]");
  EXPECT_EQ(words.Strtok(" ").Length(), 0);

  DAXOString chars("xy");
  chars.InitNextChar();
  EXPECT_EQ(chars.NextChar(), 'x');
  EXPECT_EQ(chars.CharPos(), 1);
  // The list is read in order; past the end NextChar keeps giving NUL.
  EXPECT_EQ((std::string{chars.NextChar(), chars.NextChar(), chars.NextChar()}),
            std::string("y\0\0", 3));

  DAXOString self("first;second");
  EXPECT_TRUE(self.Token(";", self) && self == "first");
  EXPECT_FALSE(self.Token(";", self));
}

TEST(DAXOStackedString, EditingWorksInPlace) {
  DAXOString crlf("line\r\n\r\n"), padded(" \t padded \n"), blank("   "), s("mIxEd 9");
  // Each edit applies to the result of the previous one (the list is evaluated in order).
  // clang-format off
  ExpectTexts({{crlf.RemoveCRLF(), "line"}, {padded.RemoveSpaces(), "padded"},
               {blank.RemoveSpaces(), ""}, {s.Uppercase(), "MIXED 9"}, {s.Lowercase(), "mixed 9"},
               {s.FirstUppercase(), "Mixed 9"}, {s.Substitute(' ', '_'), "Mixed_9"},
               {s.Reverse(), "9_dexiM"}, {s.Shorten(2), "9_dex"}, {s.Shorten(100), ""}});
  // clang-format on

  DAXOString big(Repeat('k', 50).c_str());
  big.Clear();
  EXPECT_EQ(big.Length(), 0);
  EXPECT_EQ(big.GetCapacity(), 80);  // storage kept

  // C code writing into the storage.
  DAXOString w;
  w.SetCapacity(100);
  EXPECT_GE(w.GetCapacity(), 100);
  std::snprintf(w.Beginning(), static_cast<size_t>(w.GetCapacity()), "%s", Repeat('n', 90).c_str());
  EXPECT_EQ(w.UpdateLength().Length(), 90);
  w.SetCapacity(10);  // never shrinks
  EXPECT_GE(w.GetCapacity(), 100);
  std::memset(w.Beginning(), 'u', static_cast<size_t>(w.GetCapacity()));  // no NUL left
  EXPECT_EQ(w.UpdateLength().Length(), w.GetCapacity() - 1);
}

TEST(DAXOStackedString, FormattingAcceptsOnlyOneMatchingConversion) {
  const std::string longText = Repeat('L', 300);
  DAXOString big("<%s>", longText.c_str());
  EXPECT_EQ(std::string(big), "<" + longText + ">");
  EXPECT_EQ(big.GetCapacity(), 320);
  DAXOString f("keep");
  f.Format("%s!", f.Beginning());  // argument inside the string itself
  EXPECT_EQ(std::string(f), "keep!");

  // Formats that would read arguments that are not there stay plain text.
  // clang-format off
  ExpectTexts({{DAXOString("%05d", 42), "00042"}, {DAXOString("[%s]", "x"), "[x]"},
               {DAXOString("%.2f%%", 12.345), "12.35%"},
               {DAXOString("%s", static_cast<const char*>(nullptr)), "(null)"},
               {DAXOString("%s and %s", "a"), "%s and %s"}, {DAXOString("%n", 1), "%n"},
               {DAXOString("%*d", 1), "%*d"}, {DAXOString("%ld", 1), "%ld"},
               {DAXOString("%d", 1.5), "%d"}, {DAXOString(static_cast<const char*>(nullptr), 3), ""},
               {f.Format("%x", 255), "ff"}, {DAXOString(-42, false), "-42"},
               {DAXOString(-1, true), "ffffffff"}, {DAXOString(10, 2), "1010"},
               {DAXOString(-10, 99), "-10"}});
  // clang-format on
}

TEST(DAXOStackedString, IsNumAcceptsPlainDecimalNumbersOnly) {
  for (const char* yes : {"0", "-12", "+3.5", ".5", "5.", "1e9", "2.5E-3"}) {
    EXPECT_TRUE(DAXOString(yes).IsNum()) << yes;
  }
  for (const char* no : {"", "-", ".", "1e", "1.2.3", " 1", "1 ", "0x10", "abc", "e5"}) {
    EXPECT_FALSE(DAXOString(no).IsNum()) << no;
  }
}

using DAXOSManip::dec;
using DAXOSManip::endl;
using DAXOSManip::ends;
using DAXOSManip::hex;
using DAXOSManip::oct;

// The text of a new (decimal) stream after inserting `values` in order.
template <class... V>
std::string Streamed(const V&... values) {
  DAXOStreamedString s;
  (s << ... << values);
  return Str(s);
}

TEST(DAXOStreamedString, IntegersFollowTheBaseUntilChangedAndOtherValuesHaveFixedForms) {
  int target = 0;
  char pointer[32];
  std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(&target));
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {Streamed(hex, 255, " ", static_cast<short>(-1), " ", -1L, " ", dec, 255),
       "ff ffff ffffffffffffffff 255"},
      {Streamed(oct, 8, " ", static_cast<unsigned short>(9), " ", -1, dec, " ", -1),
       "10 11 37777777777 -1"},
      {Streamed(static_cast<short>(-5), " ", 4000000000u, " ", LONG_MIN, " ", ULONG_MAX),
       "-5 4000000000 -9223372036854775808 18446744073709551615"},
      // A value that is no manipulator is ignored: no text, the base kept.
      {Streamed(hex, DAXOSManip::DAXOIOSBase{0x30u}, 255), "ff"},
      // Floating point: ten significant digits in every base.
      {Streamed(hex, 0.1, " ", 1e20, " ", 0.1f, " ", 255.0, " ", -2.5),
       "0.1 1e+20 0.1000000015 255 -2.5"},
      {Streamed(true, ",", false, ",", 'x', ",", static_cast<unsigned char>(200), ",",
                static_cast<signed char>(-3)), "true,false,x,200,-3"},
      {Streamed(static_cast<const void*>(&target)), pointer}};
  // clang-format on
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
}

TEST(DAXOStreamedString, EndsAddsANulThatTheCStringViewDoesNotShow) {
  DAXOStreamedString s("abc");
  s << ends;
  EXPECT_EQ(s.Length(), 4);
  EXPECT_STREQ(s, "abc");
  s << endl;
  EXPECT_EQ(s.Length(), 5);
  EXPECT_EQ(s[4], '\n');

  // A string with an embedded NUL inserts only the bytes before it.
  DAXOStreamedString t;
  t << s << "|" << DAXOString() << static_cast<const char*>(nullptr);
  EXPECT_EQ(Str(t), "abc|");
}

TEST(DAXOStreamedString, PrintHelpersIgnoreTheStreamBase) {
  using namespace DAXOSManip;
  DAXOStreamedString s;
  _printHex16(s, 0xFFFF) << " ";
  _printOct16(s, 8) << " ";
  _printHex32(s, 0xABCDu) << " ";
  _printOct32(s, 64) << " ";
  _printHex64(s, 0x1234567890UL) << " ";
  EXPECT_EQ(Str(_printOct64(s, 8UL)), "ffff 10 abcd 100 1234567890 10");
}

TEST(DAXOStreamedString, LongMessagesGrowByTheAppendRule) {
  DAXOStreamedString s;
  for (int i = 0; i < 100; ++i) s << i << ';';
  EXPECT_EQ(s.Length(), 290);
  EXPECT_EQ(s.GetCapacity() % 40, 0);
  EXPECT_GT(s.GetCapacity(), 290);
  EXPECT_EQ(Str(s).substr(0, 8), "0;1;2;3;");
  DAXOStreamedString copy(s);
  EXPECT_TRUE(copy == s);
  copy << hex;
  copy = DAXOString("text");  // keeps the base
  copy << 10;
  EXPECT_EQ(Str(copy), "texta");
}

template <class V>
std::string ItoaText(V value, int radix) {
  char buf[80];
  return DAXO::Itoa(value, buf, radix);
}

TEST(DAXOCWrappers, ItoaWritesAMinusSignOnlyInRadixTen) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {ItoaText(-255, 10), "-255"},        {ItoaText(-1, 16), "ffffffff"},
      {ItoaText(-1, 8), "37777777777"},    {ItoaText(-1, 2), std::string(32, '1')},
      {ItoaText(INT_MIN, 10), "-2147483648"}, {ItoaText(0, 7), "0"}, {ItoaText(35, 36), "z"},
      {ItoaText(-1L, 16), "ffffffffffffffff"}, {ItoaText(LONG_MIN, 10), "-9223372036854775808"},
      {ItoaText(ULONG_MAX, 10), "18446744073709551615"}, {ItoaText(4294967295u, 10), "4294967295"},
      {ItoaText(12, 1), ""},               {ItoaText(12, 37), ""}};
  // clang-format on
  for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
  EXPECT_EQ(DAXO::Itoa(5, nullptr, 10), nullptr);
}

TEST(DAXOCWrappers, StricmpGivesTheDifferenceOfTheFirstDifferingFoldedBytes) {
  // Only A-Z fold ('[' follows 'Z'; Latin-1 E acute is not folded); bytes are
  // unsigned; null is the empty string.
  // clang-format off
  const std::tuple<const char*, const char*, int> cases[] = {
      {"Hello World", "hELLO wORLD", 0}, {"[", "a", '[' - 'a'}, {"abc", "ABD", 'c' - 'd'},
      {"abcd", "ABC", 'd'}, {"ab", "abc", -'c'}, {"\xc9", "\xe9", 0xc9 - 0xe9},
      {"\xff", "a", 0xff - 'a'}, {nullptr, "", 0}, {nullptr, "a", -'a'}};
  // clang-format on
  for (const auto& [a, b, want] : cases) EXPECT_EQ(DAXO::Stricmp(a, b), want) << a << "|" << b;
}

TEST(DAXOCWrappers, NullTextsActAsEmptyOrNull) {
  EXPECT_TRUE(DAXO::Strlen(nullptr) == 0 && DAXO::Strlen("four") == 4);
  EXPECT_EQ(DAXO::Strcmp(nullptr, ""), 0);
  EXPECT_LT(DAXO::Strcmp(nullptr, "a"), 0);
  EXPECT_EQ(DAXO::Strncmp("abcX", "abcY", 3), 0);
  EXPECT_EQ(DAXO::Strstr(static_cast<const char*>(nullptr), "a"), nullptr);
  EXPECT_EQ(DAXO::Strchr(static_cast<const char*>(nullptr), 'a'), nullptr);
  EXPECT_EQ(DAXO::Strdup(nullptr), nullptr);
  char dst[16] = "keep";
  EXPECT_EQ(DAXO::Strcat(dst, nullptr), dst);
  EXPECT_STREQ(dst, "keep");
  EXPECT_EQ(DAXO::Strcpy(nullptr, "x"), nullptr);
  EXPECT_EQ(DAXO::Memcpy(nullptr, nullptr, 0), nullptr);

  const char* hay = "needle in hay";
  EXPECT_EQ(DAXO::Strstr(hay, "in"), hay + 7);
  EXPECT_EQ(DAXO::Strchr(hay, 'h'), hay + 10);
  char* copy = DAXO::Strdup(hay);
  EXPECT_STREQ(copy, hay);
  std::free(copy);
}

TEST(DAXOCWrappers, NumberParsersFollowTheCLibrary) {
  EXPECT_EQ(DAXO::Atoi(" -42x"), -42);
  EXPECT_EQ(DAXO::Atoi("99999999999"), INT_MAX);
  EXPECT_EQ(DAXO::Atoi("-99999999999"), INT_MIN);
  EXPECT_EQ(DAXO::Atoi(nullptr), 0);
  EXPECT_EQ(DAXO::Atoi64("-9000000000"), -9000000000L);
  char* end = nullptr;
  const char* text = "0x1Fz";
  EXPECT_EQ(DAXO::Strtol(text, &end, 16), 31);
  EXPECT_EQ(end, text + 4);
  EXPECT_EQ(DAXO::Strtoui64("18446744073709551615", nullptr, 10), ULONG_MAX);
  EXPECT_EQ(DAXO::Strtoi64("-077", nullptr, 0), -63);
  EXPECT_EQ(DAXO::Strtoul("12", nullptr, 10), 12UL);
  EXPECT_DOUBLE_EQ(DAXO::Strtod("2.5e3 rest", &end), 2500.0);
  EXPECT_STREQ(end, " rest");
  end = reinterpret_cast<char*>(1);
  EXPECT_EQ(DAXO::Strtol(nullptr, &end, 10), 0);
  EXPECT_EQ(end, nullptr);
}

TEST(DAXOCWrappers, CharacterClassesAcceptNegativeChars) {
  EXPECT_TRUE(DAXO::IsSpace(' ') && DAXO::IsSpace('\t') && DAXO::IsDigit('7'));
  EXPECT_FALSE(DAXO::IsSpace('x') || DAXO::IsSpace(static_cast<char>(0xA0)));
  EXPECT_FALSE(DAXO::IsDigit(static_cast<char>(-7)));
}

}  // namespace

#include "daxo_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Repeat(char c, int n) {
  return std::string(static_cast<size_t>(n), c);
}

// "[text]": pieces made visible, empty ones included.
std::string Bracketed(const char* text) {
  std::string r(1, '[');
  r += text;
  r += ']';
  return r;
}

// The bytes of s, embedded NULs included.
std::string Bytes(const DAXOString& s) {
  return std::string(s.Beginning(), static_cast<size_t>(s.Length()));
}

TEST(DAXOStackedString, StorageFollowsTheCapacityRule) {
  DAXOString s39(Repeat('a', 39).c_str());
  EXPECT_TRUE(s39.IsInline());
  EXPECT_EQ(s39.GetCapacity(), 40);

  struct Case {
    int length;
    int capacity;
  };
  for (Case c : {Case{40, 80}, Case{78, 80}, Case{79, 120}, Case{119, 160}}) {
    DAXOString s(Repeat('b', c.length).c_str());
    EXPECT_FALSE(s.IsInline()) << c.length;
    EXPECT_EQ(s.GetCapacity(), c.capacity) << c.length;
    EXPECT_EQ(s.Length(), c.length);
  }

  // 39 + 1 leaves the inline buffer for an 80-byte array, keeping the text.
  s39 += "z";
  EXPECT_FALSE(s39.IsInline());
  EXPECT_EQ(s39.GetCapacity(), 80);
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
  EXPECT_EQ(s.GetCapacity(), 40);
  s = Repeat('y', 45).c_str();
  EXPECT_EQ(s.GetCapacity(), 80);
  s = nullptr;
  EXPECT_TRUE(s.IsInline());
  EXPECT_EQ(s.Length(), 0);
  EXPECT_STREQ(s, "");

  // A heap array that would be big enough is not reused.
  DAXOString big(Repeat('z', 200).c_str());
  big = DAXOString(Repeat('w', 41).c_str());
  EXPECT_EQ(big.GetCapacity(), 80);

  // Self-assignment and assignment from the string's own bytes.
  big = big;
  EXPECT_EQ(std::string(big), Repeat('w', 41));
  big = big.Beginning() + 30;
  EXPECT_EQ(std::string(big), Repeat('w', 11));
  EXPECT_TRUE(big.IsInline());
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
  EXPECT_NE(a.Beginning(), b.Beginning());

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
  EXPECT_EQ(z.Length(), 5);
  EXPECT_STREQ(z, "abc");
  EXPECT_EQ(Bytes(z), std::string("abc\0d", 5));
  z += static_cast<const char*>(nullptr);
  z.concat(-1, "x");
  EXPECT_EQ(z.Length(), 5);
  DAXOString zero('\0');
  EXPECT_EQ(zero.Length(), 1);
}

TEST(DAXOStackedString, ConcatenationBuildsANewStringLeftOperandFirst) {
  DAXOString base("mid");
  EXPECT_EQ(std::string("<" + base), "<mid");
  EXPECT_EQ(std::string(base + ">"), "mid>");
  EXPECT_EQ(std::string(base + base), "midmid");

  // A sum of 79 bytes is constructed, not appended: capacity 120.
  DAXOString forty(Repeat('f', 40).c_str());
  DAXOString sum = forty + Repeat('g', 39).c_str();
  EXPECT_EQ(sum.Length(), 79);
  EXPECT_EQ(sum.GetCapacity(), 120);

  DAXOString cursor("a,b");
  DAXOString t;
  cursor.Token(",", t);
  DAXOString same = cursor + static_cast<const char*>(nullptr);
  EXPECT_EQ(same.CharPos(), 2);
  EXPECT_EQ(std::string(same), "a,b");
}

TEST(DAXOStackedString, EqualityComparesLengthAndBytesWithoutOverreading) {
  DAXOString s("abc");
  EXPECT_TRUE(s == "abc");
  EXPECT_TRUE("abc" == s);
  EXPECT_TRUE(s != "abcd");
  EXPECT_TRUE(s != "ab");
  EXPECT_TRUE(s == DAXOString("abc"));
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
  EXPECT_TRUE(s.StartsCaseWith("vElQ"));
  EXPECT_TRUE(s.EndsCaseWith(".OUTPUT"));
  EXPECT_FALSE(s.StartsWith("vel"));
  EXPECT_TRUE(s.StartsWith("Vel"));
  EXPECT_TRUE(s.EndsWith("put"));
  EXPECT_TRUE(s.StartsWith(nullptr));
  EXPECT_FALSE(s.EndsWith("xx.Velquor.Output"));
  EXPECT_FALSE(DAXOString("\xc9").Iequals("\xe9"));  // Latin-1 E acute is not folded
}

TEST(DAXOStackedString, SearchesReturnZeroBasedPositionsAndClampTheirStart) {
  DAXOString s("a.b.c..d");
  EXPECT_EQ(s.Pos('.'), 1);
  EXPECT_EQ(s.Pos('.', 2), 3);
  EXPECT_EQ(s.Pos('.', -7), 1);
  EXPECT_EQ(s.Pos('.', 100), -1);
  EXPECT_EQ(s.Pos('x'), -1);
  int pos = 0;
  EXPECT_TRUE(s.ReverseFind('.', pos));
  EXPECT_EQ(pos, 6);
  EXPECT_TRUE(s.ReverseFind('.', pos, 4));
  EXPECT_EQ(pos, 3);
  EXPECT_FALSE(s.ReverseFind('a', pos, -1) && pos != 0);
  EXPECT_FALSE(s.Find('z', pos));
  EXPECT_EQ(pos, -1);
  EXPECT_EQ(s.FindStr(".."), 5);
  EXPECT_EQ(s.FindStr("c..d"), 4);
  EXPECT_EQ(s.FindStr("d."), -1);
  EXPECT_EQ(s.FindStr(""), 0);
  EXPECT_EQ(s.FindStr(nullptr), -1);
  EXPECT_EQ(s.ReverseFindStr("."), 6);
  EXPECT_EQ(s.ReverseFindStr(".", 4), 3);
  EXPECT_EQ(s.ReverseFindStr("a.b.c..d.", -1), -1);
  EXPECT_TRUE(s.Find("b.", pos, 0));
  EXPECT_EQ(pos, 2);
}

TEST(DAXOStackedString, ExtractionsClampToTheText) {
  DAXOString s("module.output");
  EXPECT_EQ(std::string(s.Left(6)), "module");
  EXPECT_EQ(std::string(s.Left(-3)), "");
  EXPECT_EQ(std::string(s.Left(99)), "module.output");
  EXPECT_EQ(std::string(s.Right(6)), "output");
  EXPECT_EQ(std::string(s.Right(99)), "module.output");
  EXPECT_EQ(std::string(s.Mid(7)), "output");
  EXPECT_EQ(std::string(s.Mid(7, 3)), "out");
  EXPECT_EQ(std::string(s.Mid(-5, 3)), "mod");
  EXPECT_EQ(std::string(s.Mid(50, 3)), "");
  EXPECT_EQ(std::string(s(10, 100)), "put");
  EXPECT_EQ(std::string(s.Tail(7)), "output");
  EXPECT_EQ(std::string(s.UpTo('.')), "module");
  EXPECT_EQ(std::string(s.UpTo('#')), "module.output");
  EXPECT_EQ(std::string(s.Up2(".out")), "module");
  EXPECT_EQ(std::string(s.Up2("none")), "module.output");
  DAXOString parts("a:bb::d");
  EXPECT_EQ(std::string(parts.Part(':', 1)), "bb");
  EXPECT_EQ(std::string(parts.Part(':', 2)), "");
  EXPECT_EQ(std::string(parts.Part(':', 3)), "d");
  EXPECT_EQ(std::string(parts.Part(':', 4)), "");
  EXPECT_EQ(std::string(parts.Part(':', -1)), "");
  EXPECT_EQ(s[0], 'm');
  EXPECT_EQ(s[-1], '\0');
  EXPECT_EQ(s[100], '\0');
}

TEST(DAXOStackedString, SplitGivesOnePieceMoreThanSeparators) {
  auto pieces = [](const DAXOString& s, char sep) {
    DAXOArray<DAXOString> parts = s.Split(sep);
    std::string joined;
    for (int i = 0; i < parts.Count(); ++i) joined += Bracketed(parts[i]);
    return joined;
  };
  EXPECT_EQ(pieces("a,,b", ','), "[a][][b]");
  EXPECT_EQ(pieces("", ','), "[]");
  EXPECT_EQ(pieces("a,", ','), "[a][]");
  EXPECT_EQ(pieces(",", ','), "[][]");
  EXPECT_EQ(pieces("abc", ','), "[abc]");
  EXPECT_EQ(pieces("3|1|x|y|z", '|'), "[3][1][x][y][z]");
  std::string longPiece = Repeat('p', 70);
  EXPECT_EQ(pieces((longPiece + "," + longPiece).c_str(), ','),
            Bracketed(longPiece.c_str()) + Bracketed(longPiece.c_str()));

  // A NUL byte ends its piece; the following pieces are unaffected.
  DAXOString embedded("ab");
  embedded.concat(4, "\0c,d");
  EXPECT_EQ(pieces(embedded, ','), "[ab][d]");
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
  ASSERT_TRUE(s.Token(",", t));
  EXPECT_EQ(std::string(t), "a");

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
  EXPECT_EQ(chars.NextChar(), 'y');
  EXPECT_EQ(chars.NextChar(), '\0');
  EXPECT_EQ(chars.NextChar(), '\0');

  DAXOString self("first;second");
  EXPECT_TRUE(self.Token(";", self));
  EXPECT_EQ(std::string(self), "first");
  EXPECT_FALSE(self.Token(";", self));
}

TEST(DAXOStackedString, EditingWorksInPlace) {
  DAXOString s("line\r\n\r\n");
  EXPECT_EQ(std::string(s.RemoveCRLF()), "line");
  s = " \t padded \n";
  EXPECT_EQ(std::string(s.RemoveSpaces()), "padded");
  s = "   ";
  EXPECT_EQ(s.RemoveSpaces().Length(), 0);
  s = "mIxEd 9";
  EXPECT_EQ(std::string(s.Uppercase()), "MIXED 9");
  EXPECT_EQ(std::string(s.Lowercase()), "mixed 9");
  EXPECT_EQ(std::string(s.FirstUppercase()), "Mixed 9");
  EXPECT_EQ(std::string(s.Substitute(' ', '_')), "Mixed_9");
  EXPECT_EQ(std::string(s.Reverse()), "9_dexiM");
  EXPECT_EQ(std::string(s.Shorten(2)), "9_dex");
  EXPECT_EQ(s.Shorten(100).Length(), 0);

  DAXOString big(Repeat('k', 50).c_str());
  big.Clear();
  EXPECT_EQ(big.Length(), 0);
  EXPECT_EQ(big.GetCapacity(), 80);  // storage kept

  // C code writing into the storage.
  DAXOString w;
  w.SetCapacity(100);
  EXPECT_GE(w.GetCapacity(), 100);
  std::snprintf(w.Beginning(), static_cast<size_t>(w.GetCapacity()), "%s", Repeat('n', 90).c_str());
  w.UpdateLength();
  EXPECT_EQ(w.Length(), 90);
  w.SetCapacity(10);  // never shrinks
  EXPECT_GE(w.GetCapacity(), 100);
  std::memset(w.Beginning(), 'u', static_cast<size_t>(w.GetCapacity()));  // no NUL left
  w.UpdateLength();
  EXPECT_EQ(w.Length(), w.GetCapacity() - 1);
}

TEST(DAXOStackedString, FormattingAcceptsOnlyOneMatchingConversion) {
  EXPECT_EQ(std::string(DAXOString("%05d", 42)), "00042");
  EXPECT_EQ(std::string(DAXOString("[%s]", "x")), "[x]");
  EXPECT_EQ(std::string(DAXOString("%.2f%%", 12.345)), "12.35%");
  EXPECT_EQ(std::string(DAXOString("%s", static_cast<const char*>(nullptr))), "(null)");
  std::string longText = Repeat('L', 300);
  DAXOString big("<%s>", longText.c_str());
  EXPECT_EQ(std::string(big), std::string(1, '<') + longText + ">");
  EXPECT_EQ(big.GetCapacity(), 320);

  // Formats that would read arguments that are not there stay plain text.
  EXPECT_EQ(std::string(DAXOString("%s and %s", "a")), "%s and %s");
  EXPECT_EQ(std::string(DAXOString("%n", 1)), "%n");
  EXPECT_EQ(std::string(DAXOString("%*d", 1)), "%*d");
  EXPECT_EQ(std::string(DAXOString("%ld", 1)), "%ld");
  EXPECT_EQ(std::string(DAXOString("%d", 1.5)), "%d");
  EXPECT_EQ(std::string(DAXOString(static_cast<const char*>(nullptr), 3)), "");

  DAXOString f("keep");
  f.Format("%s!", f.Beginning());  // argument inside the string itself
  EXPECT_EQ(std::string(f), "keep!");
  EXPECT_EQ(std::string(f.Format("%x", 255)), "ff");

  EXPECT_EQ(std::string(DAXOString(-42, false)), "-42");
  EXPECT_EQ(std::string(DAXOString(-1, true)), "ffffffff");
  EXPECT_EQ(std::string(DAXOString(10, 2)), "1010");
  EXPECT_EQ(std::string(DAXOString(-10, 99)), "-10");
}

TEST(DAXOStackedString, IsNumAcceptsPlainDecimalNumbersOnly) {
  for (const char* yes : {"0", "-12", "+3.5", ".5", "5.", "1e9", "2.5E-3"}) {
    EXPECT_TRUE(DAXOString(yes).IsNum()) << yes;
  }
  for (const char* no : {"", "-", ".", "1e", "1.2.3", " 1", "1 ", "0x10", "abc", "e5"}) {
    EXPECT_FALSE(DAXOString(no).IsNum()) << no;
  }
}

}  // namespace

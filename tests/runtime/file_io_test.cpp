// The file stream classes: open modes, reading, writing, positioning, lines,
// temporary files and error messages.
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <type_traits>

#include "daxo_file_io.h"
#include "runtime_test_support.h"

namespace {

std::vector<std::string> g_messages;
void CaptureDisplay(const char* text) {
  g_messages.push_back(text != nullptr ? text : "<null>");
}

// Each test runs in a fresh folder (also the working directory, for the
// temporary files) with the error display captured.
class FileIOTest : public daxo_test::InScratchFolder {
 public:
  void SetUp() override {
    InScratchFolder::SetUp();
    g_messages.clear();
    DAXOFileIO::SetErrorDisplay(&CaptureDisplay);
  }
  void TearDown() override {
    DAXOFileIO::SetErrorDisplay(nullptr);
    InScratchFolder::TearDown();
  }

  void Put(const char* name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
  }
  static std::string ReadAll(DAXOFileReader& reader, int n) {
    std::string out(static_cast<size_t>(n), '\0');
    int got = -1;
    EXPECT_TRUE(reader.Read(out.data(), n, &got));
    out.resize(static_cast<size_t>(got < 0 ? 0 : got));
    return out;
  }
};

TEST_F(FileIOTest, WrittenBytesReadBackWithCounts) {
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("a.bin").c_str()));
  ASSERT_TRUE(writer.Write("0123456789", 10));
  EXPECT_EQ(writer.FileSize(), 10);  // includes bytes still buffered
  EXPECT_TRUE(writer.Close());
  EXPECT_FALSE(writer.Close());

  DAXOFileReader reader;
  ASSERT_TRUE(reader.Open(Path("a.bin").c_str()));
  char buffer[32];
  int got = -1;
  EXPECT_TRUE(reader.Read(buffer, 4, &got) && got == 4);
  EXPECT_EQ(reader.FileSize(), 10);                        // must not disturb the read position
  EXPECT_TRUE(reader.Read(buffer, 32, &got) && got == 6);  // short at the end: not an error
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_TRUE(reader.Read(buffer, 32, &got) && got == 0);
  EXPECT_FALSE(reader.GetError());
  EXPECT_TRUE(g_messages.empty());
}

// Opens "t" as a File with `flags`, writes "def", then "X" at position 0,
// and returns the file's content (also read back through the object when it
// can read).
template <class File>
std::string WriteDefThenXAtTheStart(const FileIOTest& test, int flags) {
  constexpr bool kReads = std::is_base_of_v<DAXOFileReader, File>;
  File file;
  EXPECT_TRUE(file.Open(test.Path("t").c_str(), flags));
  EXPECT_TRUE(file.Write("def", 3) && file.SetPos(0) && file.Write("X", 1));
  std::string seen;
  if constexpr (kReads) {
    EXPECT_TRUE(file.Rewind());
    seen = FileIOTest::ReadAll(file, 16);
  }
  file.Close();
  const std::string content = test.Get("t");
  EXPECT_TRUE(!kReads || seen == content) << "read back: " << seen;
  return content;
}

TEST_F(FileIOTest, OpenModesDecideWhatIsKeptAndWhereWritesGo) {
  constexpr int A = DAXOFileIO::Append, R = DAXOFileIO::EnableRead, RA = DAXOFileIO::RandomAccess;
  const struct {
    bool both;  // DAXOFileWriterAndReader, else DAXOFileWriter
    int flags;
    const char* fromAbc;      // the content after the writes, from "abc"
    const char* fromNothing;  // the same, from a missing file
  } cases[] = {
      {false, 0, "Xef", "Xef"},  // truncated
      {false, R, "Xef", "Xef"},
      {false, A, "abcdefX", "defX"},  // every write goes to the end
      {false, A | R, "abcdefX", "defX"},
      {false, A | R | RA, "Xbcdef", "Xef"},  // starts at the end, writes where the position is
      {true, 0, "Xef", "Xef"},
      {true, A, "abcdefX", "defX"},
      {true, A | RA, "Xbcdef", "Xef"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << (c.both ? "reader and writer" : "writer") << ", flags " << c.flags);
    auto run = [&] {
      return c.both ? WriteDefThenXAtTheStart<DAXOFileWriterAndReader>(*this, c.flags)
                    : WriteDefThenXAtTheStart<DAXOFileWriter>(*this, c.flags);
    };
    Put("t", "abc");
    EXPECT_EQ(run(), c.fromAbc);
    ASSERT_EQ(unlink(Path("t").c_str()), 0);
    EXPECT_EQ(run(), c.fromNothing);
  }
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(FileIOTest, PositioningTruncationAndMixedTransfersKeepTheContentRight) {
  DAXOFileWriterAndReader file;
  ASSERT_TRUE(file.Open(Path("t").c_str()));
  ASSERT_TRUE(file.Write("hello world", 11) && file.Rewind());
  EXPECT_EQ(ReadAll(file, 5), "hello");
  ASSERT_TRUE(file.Write("XXXXX", 5));  // no repositioning between the transfers
  EXPECT_EQ(ReadAll(file, 5), "d");
  EXPECT_EQ(file.GetPos(), 11);

  const std::string data(89, 'x');
  ASSERT_TRUE(file.Write(data.data(), 89));
  ASSERT_TRUE(file.Go2End() && file.MovePos(-10));
  EXPECT_EQ(file.FileSize(), 100);
  EXPECT_EQ(file.GetPos(), 90);  // FileSize keeps the position
  ASSERT_TRUE(file.SetPos(40) && file.Truncate());
  EXPECT_TRUE(file.FlushToDisk());
  EXPECT_EQ(file.FileSize(), 40);
  EXPECT_EQ(Get("t"), "helloXXXXXd" + std::string(29, 'x'));
  EXPECT_FALSE(file.MovePos(-1000));
  EXPECT_TRUE(file.GetError());
}

TEST_F(FileIOTest, LinesReadForwardAndBackward) {
  const std::string longLine(1500, 'L');  // longer than one backward chunk
  Put("lines", "first\nsecond\r\n\n" + longLine + "\nlast");
  DAXOFileReader reader;
  ASSERT_TRUE(reader.Open(Path("lines").c_str()));
  DAXOString line;
  std::vector<std::string> forward;
  while (reader.NextLine(line)) forward.emplace_back(line);
  EXPECT_EQ(forward, (std::vector<std::string>{"first", "second", "", longLine, "last"}));
  EXPECT_EQ(line.Length(), 0);

  std::vector<std::string> backward;
  while (reader.PreviousLine(line)) backward.emplace_back(line);
  EXPECT_EQ(backward, (std::vector<std::string>{"last", longLine, "", "second", "first"}));
  EXPECT_EQ(reader.GetPos(), 0);

  // PreviousLine leaves the position where NextLine reads the same line.
  ASSERT_TRUE(reader.NextLine(line) && reader.NextLine(line));
  EXPECT_TRUE(reader.PreviousLine(line) && line == "second");
  EXPECT_TRUE(reader.NextLine(line) && line == "second");
  EXPECT_FALSE(reader.GetError());
}

TEST_F(FileIOTest, WrittenTextLinesAreFoundByFindString) {
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("lines").c_str()));
  for (const char* line : {"alpha", "beta gamma"}) ASSERT_TRUE(writer.WriteText(line, true));
  ASSERT_TRUE(writer.WriteText(DAXOString("delta")));
  writer.Close();
  EXPECT_EQ(Get("lines"), "alpha\nbeta gamma\ndelta");

  DAXOFileReader reader;
  ASSERT_TRUE(reader.Open(Path("lines").c_str()));
  DAXOString line;
  EXPECT_TRUE(reader.FindString("gam", line) && line == "beta gamma");
  EXPECT_TRUE(reader.NextLine(line) && line == "delta");
  EXPECT_FALSE(reader.FindString("alpha", line));  // behind the position
}

std::vector<void*> g_completed;
void Completed(void* arg) {
  g_completed.push_back(arg);
}

TEST_F(FileIOTest, FailuresRaiseTheErrorAndShowTheMessageOfTheirClass) {
  g_completed.clear();
  DAXOFileReader reader;
  EXPECT_FALSE(reader.Open(Path("missing").c_str()));
  EXPECT_TRUE(reader.GetError());
  DAXOFileWriterAndReader both;
  ASSERT_TRUE(both.Open("/dev/full", DAXOFileIO::NoBuffering));
  EXPECT_FALSE(both.Write("abc", 3));
  DAXOFileWriter writer;
  EXPECT_FALSE(writer.Open(Path("no/such/folder/file").c_str()));
  EXPECT_TRUE(writer.GetError());
  writer.ClearError();
  EXPECT_FALSE(writer.GetError());

  // A short write still completes.
  ASSERT_TRUE(writer.Open("/dev/full", DAXOFileIO::NoBuffering));
  writer.SetCompletionCallback(&Completed);
  int token = 0;
  EXPECT_FALSE(writer.Write("0123456789", 10, &token));
  EXPECT_TRUE(writer.GetError());
  EXPECT_EQ(g_completed, std::vector<void*>{&token});
  EXPECT_EQ(g_messages,
            (std::vector<std::string>{"File read error",
                                      "File read/write error: 28 (No space left on device)",
                                      "File write error: 2 (No such file or directory)",
                                      "File write error: 28 (No space left on device)"}));

  ASSERT_TRUE(writer.Open(Path("t").c_str()));
  EXPECT_FALSE(writer.GetError()) << "a successful Open lowers the error";
  EXPECT_TRUE(writer.Write("x", 1, &token) && writer.Write("y", 1));  // "y": no callback
  EXPECT_EQ(g_completed.size(), 2u);
}

TEST_F(FileIOTest, OperationsOnAClosedFileFail) {
  DAXOFileWriterAndReader file;
  char buffer[4];
  int got = -1;
  DAXOString line;
  EXPECT_FALSE(file.Read(buffer, 4, &got));
  EXPECT_EQ(got, 0);
  EXPECT_FALSE(file.Write("x", 1) || file.SetPos(0) || file.NextLine(line));
  EXPECT_TRUE(file.GetPos() == -1 && file.FileSize() == -1);
}

TEST_F(FileIOTest, TempFileIsCreatedInTheWorkingFolderOrNotAtAll) {
  DAXOFileWriterAndReader file, second;
  DAXOString name, other;
  ASSERT_TRUE(file.OpenTempFile(name));
  EXPECT_TRUE(name.Length() == 9 && name.StartsWith("vlq")) << name;
  ASSERT_TRUE(file.Write("temp", 4) && file.Rewind());
  EXPECT_EQ(ReadAll(file, 8), "temp");
  file.Close();
  EXPECT_EQ(Get(daxo_test::Str(name)), "temp");
  ASSERT_TRUE(second.OpenTempFile(other));
  EXPECT_NE(name, other);

  const std::string gone = Path("gone");
  ASSERT_EQ(mkdir(gone.c_str(), 0777), 0);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);  // the working folder no longer exists
  name = "unchanged";
  EXPECT_FALSE(file.OpenTempFile(name) || file.IsOpen());
  EXPECT_STREQ(name, "unchanged");
  EXPECT_TRUE(file.GetError());
}

TEST(DAXOFileIODefaultDisplay, PrintsOnStandardErrorAndKeepsItUsable) {
  DAXOFileIO::SetErrorDisplay(nullptr);
  ::testing::internal::CaptureStderr();
  DAXOFileIO::DisplayError(nullptr);
  DAXOFileIO::DisplayError("File read error");
  fprintf(stderr, "narrow output still works\n");
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "No error\nFile read error\nnarrow output still works\n");
}

}  // namespace

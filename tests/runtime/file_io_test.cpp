// The file stream classes: open modes, reading, writing, positioning, lines,
// temporary files and error messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "daxo_file_io.h"

namespace {

std::vector<std::string> g_messages;
void CaptureDisplay(const char* text) {
  g_messages.push_back(text != nullptr ? text : "<null>");
}

// Each test runs in a fresh folder (also the working directory, for the
// temporary files) with the error display captured.
class FileIOTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/daxo_file_io_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    char* cwd = getcwd(nullptr, 0);
    oldCwd_ = cwd;
    free(cwd);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    g_messages.clear();
    DAXOFileIO::SetErrorDisplay(&CaptureDisplay);
  }
  void TearDown() override {
    DAXOFileIO::SetErrorDisplay(nullptr);
    ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
    system(("rm -rf " + dir_).c_str());
  }

  std::string Path(const char* name) const { return dir_ + "/" + name; }

  void Put(const char* name, const std::string& content) const {
    FILE* f = fopen(Path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }

  std::string Get(const char* name) const {
    std::string content;
    FILE* f = fopen(Path(name).c_str(), "rb");
    if (f == nullptr) return "<missing>";
    char buffer[256];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
    fclose(f);
    return content;
  }

  static std::string ReadAll(DAXOFileReader& reader, int n) {
    std::string out(static_cast<size_t>(n), '\0');
    int got = -1;
    EXPECT_TRUE(reader.Read(out.data(), n, &got));
    out.resize(static_cast<size_t>(got < 0 ? 0 : got));
    return out;
  }

  std::string dir_;
  std::string oldCwd_;
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
  EXPECT_TRUE(reader.Read(buffer, 4, &got));
  EXPECT_EQ(got, 4);
  EXPECT_EQ(reader.FileSize(), 10);            // must not disturb the read position
  EXPECT_TRUE(reader.Read(buffer, 32, &got));  // short at the end: not an error
  EXPECT_EQ(got, 6);
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_TRUE(reader.Read(buffer, 32, &got));
  EXPECT_EQ(got, 0);
  EXPECT_FALSE(reader.GetError());
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(FileIOTest, WriterWithoutAppendTruncates) {
  Put("t", "old content");
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("t").c_str()));
  EXPECT_EQ(writer.FileSize(), 0);
  writer.Close();

  DAXOFileWriterAndReader both;
  Put("t", "old content");
  ASSERT_TRUE(both.Open(Path("t").c_str()));
  ASSERT_TRUE(both.Write("xyz", 3));
  ASSERT_TRUE(both.Rewind());
  EXPECT_EQ(ReadAll(both, 10), "xyz");
}

TEST_F(FileIOTest, AppendAloneAddsAtTheEnd) {
  Put("t", "abc");
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("t").c_str(), DAXOFileIO::Append));
  ASSERT_TRUE(writer.Write("def", 3));
  writer.Close();
  EXPECT_EQ(Get("t"), "abcdef");
}

TEST_F(FileIOTest, AppendWithReadAppendsEvenAfterRepositioningAndCanRead) {
  Put("t", "abc");
  DAXOFileWriterAndReader file;
  ASSERT_TRUE(file.Open(Path("t").c_str(), DAXOFileIO::Append));
  ASSERT_TRUE(file.Write("def", 3));
  ASSERT_TRUE(file.Rewind());
  EXPECT_EQ(ReadAll(file, 10), "abcdef");
  ASSERT_TRUE(file.SetPos(0));
  ASSERT_TRUE(file.Write("X", 1));
  file.Close();
  EXPECT_EQ(Get("t"), "abcdefX");

  // The same mode through the writer class.
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("t").c_str(), DAXOFileIO::Append | DAXOFileIO::EnableRead));
  ASSERT_TRUE(writer.SetPos(0));
  ASSERT_TRUE(writer.Write("Y", 1));
  writer.Close();
  EXPECT_EQ(Get("t"), "abcdefXY");
}

TEST_F(FileIOTest, RandomAccessAppendStartsAtTheEndAndCanOverwrite) {
  Put("t", "abc");
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("t").c_str(),
                          DAXOFileIO::Append | DAXOFileIO::EnableRead | DAXOFileIO::RandomAccess));
  ASSERT_TRUE(writer.Write("def", 3));  // right after Open: appended, nothing overwritten
  ASSERT_TRUE(writer.SetPos(0));
  ASSERT_TRUE(writer.Write("X", 1));
  writer.Close();
  EXPECT_EQ(Get("t"), "Xbcdef");

  DAXOFileWriterAndReader both;
  ASSERT_TRUE(both.Open(Path("t").c_str(), DAXOFileIO::Append | DAXOFileIO::RandomAccess));
  EXPECT_EQ(both.GetPos(), 6);
  ASSERT_TRUE(both.SetPos(1));
  EXPECT_EQ(ReadAll(both, 2), "bc");
}

TEST_F(FileIOTest, AppendModesCreateAMissingFile) {
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("new1").c_str(),
                          DAXOFileIO::Append | DAXOFileIO::EnableRead | DAXOFileIO::RandomAccess));
  writer.Close();
  DAXOFileWriterAndReader both;
  ASSERT_TRUE(both.Open(Path("new2").c_str(), DAXOFileIO::Append | DAXOFileIO::RandomAccess));
  both.Close();
  EXPECT_EQ(Get("new1"), "");
  EXPECT_EQ(Get("new2"), "");
}

TEST_F(FileIOTest, ReadsAndWritesMixWithoutExplicitRepositioning) {
  DAXOFileWriterAndReader file;
  ASSERT_TRUE(file.Open(Path("t").c_str()));
  ASSERT_TRUE(file.Write("hello world", 11));
  ASSERT_TRUE(file.Rewind());
  EXPECT_EQ(ReadAll(file, 5), "hello");
  ASSERT_TRUE(file.Write("XXXXX", 5));
  EXPECT_EQ(ReadAll(file, 5), "d");
  file.Close();
  EXPECT_EQ(Get("t"), "helloXXXXXd");
}

TEST_F(FileIOTest, PositioningAndTruncation) {
  DAXOFileWriterAndReader file;
  ASSERT_TRUE(file.Open(Path("t").c_str()));
  const std::string data(100, 'x');
  ASSERT_TRUE(file.Write(data.data(), 100));
  EXPECT_EQ(file.GetPos(), 100);
  ASSERT_TRUE(file.Rewind());
  EXPECT_EQ(file.GetPos(), 0);
  ASSERT_TRUE(file.Go2End());
  ASSERT_TRUE(file.MovePos(-10));
  EXPECT_EQ(file.GetPos(), 90);
  EXPECT_EQ(file.FileSize(), 100);
  EXPECT_EQ(file.GetPos(), 90);  // FileSize keeps the position
  ASSERT_TRUE(file.SetPos(40));
  ASSERT_TRUE(file.Truncate());
  EXPECT_TRUE(file.FlushToDisk());
  EXPECT_EQ(file.FileSize(), 40);
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
  ASSERT_TRUE(reader.NextLine(line));
  ASSERT_TRUE(reader.NextLine(line));
  ASSERT_TRUE(reader.PreviousLine(line));
  EXPECT_STREQ(line, "second");
  ASSERT_TRUE(reader.NextLine(line));
  EXPECT_STREQ(line, "second");
  EXPECT_FALSE(reader.GetError());
}

TEST_F(FileIOTest, FindStringStopsAtTheMatchingLine) {
  Put("lines", "alpha\nbeta gamma\ndelta\n");
  DAXOFileReader reader;
  ASSERT_TRUE(reader.Open(Path("lines").c_str()));
  DAXOString line;
  ASSERT_TRUE(reader.FindString("gam", line));
  EXPECT_STREQ(line, "beta gamma");
  ASSERT_TRUE(reader.NextLine(line));
  EXPECT_STREQ(line, "delta");
  EXPECT_FALSE(reader.FindString("alpha", line));  // behind the position
}

TEST_F(FileIOTest, WriteTextAddsTheLineEndOnRequest) {
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open(Path("t").c_str()));
  ASSERT_TRUE(writer.WriteText(DAXOString("one"), true));
  ASSERT_TRUE(writer.WriteText(DAXOString("two")));
  writer.Close();
  EXPECT_EQ(Get("t"), "one\ntwo");
}

std::vector<void*> g_completed;
void Completed(void* arg) {
  g_completed.push_back(arg);
}

TEST_F(FileIOTest, ShortWriteRaisesTheErrorShowsItAndStillCompletes) {
  g_completed.clear();
  DAXOFileWriter writer;
  ASSERT_TRUE(writer.Open("/dev/full", DAXOFileIO::NoBuffering));
  writer.SetCompletionCallback(&Completed);
  int token = 0;
  EXPECT_FALSE(writer.Write("0123456789", 10, &token));
  EXPECT_TRUE(writer.GetError());
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0], "File write error: 28 (No space left on device)");
  EXPECT_EQ(g_completed, std::vector<void*>{&token});

  DAXOFileWriter good;
  ASSERT_TRUE(good.Open(Path("t").c_str()));
  good.SetCompletionCallback(&Completed);
  EXPECT_TRUE(good.Write("x", 1, &token));
  EXPECT_TRUE(good.Write("y", 1));  // no argument: no callback
  EXPECT_EQ(g_completed.size(), 2u);
}

TEST_F(FileIOTest, EachClassShowsItsOwnMessage) {
  DAXOFileReader reader;
  EXPECT_FALSE(reader.Open(Path("missing").c_str()));
  EXPECT_TRUE(reader.GetError());
  DAXOFileWriterAndReader both;
  ASSERT_TRUE(both.Open("/dev/full", DAXOFileIO::NoBuffering));
  EXPECT_FALSE(both.Write("abc", 3));
  DAXOFileWriter writer;
  EXPECT_FALSE(writer.Open(Path("no/such/folder/file").c_str()));
  EXPECT_EQ(g_messages,
            (std::vector<std::string>{"File read error",
                                      "File read/write error: 28 (No space left on device)",
                                      "File write error: 2 (No such file or directory)"}));
  writer.ClearError();
  EXPECT_FALSE(writer.GetError());
}

TEST_F(FileIOTest, OperationsOnAClosedFileFail) {
  DAXOFileWriterAndReader file;
  char buffer[4];
  int got = -1;
  EXPECT_FALSE(file.Read(buffer, 4, &got));
  EXPECT_EQ(got, 0);
  EXPECT_FALSE(file.Write("x", 1));
  EXPECT_FALSE(file.SetPos(0));
  EXPECT_EQ(file.GetPos(), -1);
  EXPECT_EQ(file.FileSize(), -1);
  DAXOString line;
  EXPECT_FALSE(file.NextLine(line));
}

TEST_F(FileIOTest, TempFileIsCreatedInTheWorkingFolder) {
  DAXOFileWriterAndReader file;
  DAXOString name;
  ASSERT_TRUE(file.OpenTempFile(name));
  EXPECT_EQ(name.Length(), 9);
  EXPECT_TRUE(name.StartsWith("vlq"));
  ASSERT_TRUE(file.Write("temp", 4));
  ASSERT_TRUE(file.Rewind());
  EXPECT_EQ(ReadAll(file, 8), "temp");
  file.Close();
  EXPECT_EQ(Get(name), "temp");

  DAXOFileWriterAndReader second;
  DAXOString other;
  ASSERT_TRUE(second.OpenTempFile(other));
  EXPECT_NE(name, other);
}

TEST_F(FileIOTest, TempFileFailureLeavesNothingOpen) {
  const std::string gone = Path("gone");
  ASSERT_EQ(mkdir(gone.c_str(), 0777), 0);
  ASSERT_EQ(chdir(gone.c_str()), 0);
  ASSERT_EQ(rmdir(gone.c_str()), 0);  // the working folder no longer exists
  DAXOFileWriterAndReader file;
  DAXOString name("unchanged");
  EXPECT_FALSE(file.OpenTempFile(name));
  EXPECT_FALSE(file.IsOpen());
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

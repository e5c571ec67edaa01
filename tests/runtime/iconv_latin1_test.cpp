// Text conversion and the path retry under a non-UTF-8 locale. The test
// builds a Latin-1 locale with localedef in a private folder and selects it
// before the first conversion (which fixes the process locale for good), so
// this suite runs in its own executable. Without localedef it is skipped.
#include <sys/stat.h>

#include <fstream>

#include "daxo_file.h"
#include "daxo_file_io.h"
#include "daxo_iconv.h"
#include "daxo_system.h"
#include "runtime_test_support.h"

namespace {

// "café" in both encodings.
const char* const kUtf8Name = "caf\xc3\xa9";
const char* const kLatin1Name = "caf\xe9";

class Latin1Locale : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/daxo_latin1_XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    root_ = dir;
    const std::string command =
        "localedef -i fr_FR -f ISO-8859-1 " + root_ + "/fr_FR.ISO-8859-1 >/dev/null 2>&1";
    if (system(command.c_str()) != 0) return;
    setenv("LOCPATH", root_.c_str(), 1);
    setenv("LC_ALL", "fr_FR.ISO-8859-1", 1);
    ready_ = true;
  }
  static void TearDownTestSuite() {
    if (!root_.empty()) system(("rm -rf " + root_).c_str());
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "localedef could not build a Latin-1 locale";
    ASSERT_FALSE(DAXOIconv::isLocaleUTF8()) << "the Latin-1 locale was not selected";
  }

  static std::string root_;
  static bool ready_;
};

std::string Latin1Locale::root_;
bool Latin1Locale::ready_ = false;

// The text of a converted result (released here), or "<null>".
std::string Taken(char* text) {
  const std::string taken = text != nullptr ? text : "<null>";
  DAXOIconv::releaseUTF8(text);
  return taken;
}

TEST_F(Latin1Locale, EachFunctionConvertsInTheDirectionItsNameGives) {
  EXPECT_EQ(Taken(DAXOIconv::UTF8ToLocale(kUtf8Name)), kLatin1Name);
  EXPECT_EQ(Taken(DAXOIconv::localeToUTF8(kLatin1Name)), kUtf8Name);
  DAXOString filled;
  ASSERT_TRUE(DAXOIconv::localeToUTF8(kLatin1Name, filled));
  EXPECT_STREQ(filled, kUtf8Name);
  EXPECT_EQ(Taken(DAXOIconv::UTF8ToLocale("\xe2\x82\xac")), "<null>");  // no Latin-1 euro sign
}

TEST_F(Latin1Locale, PathsNamedInUtf8ReachFilesNamedInTheLocale) {
  const std::string folder = root_ + "/" + kLatin1Name;
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  ASSERT_TRUE(std::ofstream(folder + "/" + kLatin1Name) << "data");

  const std::string utf8Folder = root_ + "/" + kUtf8Name;
  EXPECT_TRUE(DAXO::IsFolder(utf8Folder.c_str()));
  DAXOFileReader reader;
  ASSERT_TRUE(reader.Open((utf8Folder + "/" + kUtf8Name).c_str()));
  char buffer[8] = {0};
  EXPECT_TRUE(reader.Read(buffer, 7));
  EXPECT_STREQ(buffer, "data");

  // Names coming back from the system are UTF-8.
  DAXOFolderBrowser browser;
  ASSERT_TRUE(browser.Open(utf8Folder.c_str()));
  DAXOString name;
  ASSERT_TRUE(browser.GetNextItem(name));
  EXPECT_STREQ(name, kUtf8Name);

  const DAXOString before = DAXO::GetCurrentFolder();
  ASSERT_TRUE(DAXO::SetCurrentFolder(DAXOString(utf8Folder.c_str())));
  EXPECT_STREQ(DAXO::GetCurrentFolder(), utf8Folder.c_str());
  ASSERT_TRUE(DAXO::SetCurrentFolder(before));
}

}  // namespace

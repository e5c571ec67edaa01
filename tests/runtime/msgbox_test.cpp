// MsgBox prints its message and never opens a window here: the tests run it
// silenced, or with no reachable display.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>

#include "daxo_msgbox.h"
#include "runtime_test_support.h"

namespace {

// SILENT, VELQUOR_SILENT and DISPLAY are restored after each test.
class MsgBoxTest : public ::testing::Test {
 protected:
  daxo_test::ScopedEnv env;
};

TEST_F(MsgBoxTest, SilencedMessagesOnlyPrintWithTheirKindsPrefix) {
  const struct {
    const char* silencer;  // the variable set (to an empty value: set is enough)
    const char* title;
    const char* text;
    int kind;
    const char* out;
    const char* err;
  } cases[] = {
      {"SILENT", "Title", "Some text", DAXO::MsgBoxWarning, "Warning: Title: Some text\n", ""},
      {"SILENT", "Title", "Broken", DAXO::MsgBoxError, "", "Error: Title: Broken\n"},
      {"SILENT", "Title", "Hello", DAXO::MsgBoxInfo, "Title: Hello\n", ""},
      {"SILENT", "T", "two\nlines", 7, "T: two\nlines\n", ""},
      {"SILENT", nullptr, nullptr, DAXO::MsgBoxWarning, "Warning: : \n", ""},
      {"VELQUOR_SILENT", "Title", "Text", DAXO::MsgBoxInfo, "Title: Text\n", ""},
  };
  for (const auto& c : cases) {
    env.Set("SILENT", nullptr);
    env.Set("VELQUOR_SILENT", nullptr);
    env.Set(c.silencer, "");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    DAXO::MsgBox(c.title, c.text, c.kind);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.out) << c.silencer;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err) << c.silencer;
  }
}

// Whether an X server listens for display number n (abstract or file socket).
bool DisplayReachable(int n) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
  for (size_t offset : {1, 0}) {  // abstract, then file socket
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) continue;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + offset, path.c_str(), path.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    if (connected) return true;
  }
  return false;
}

TEST_F(MsgBoxTest, ReturnsAtOnceWhenNoDisplayCanBeOpened) {
  if (DisplayReachable(0) || DisplayReachable(97)) GTEST_SKIP() << "an X server is reachable";
  env.Set("SILENT", nullptr);
  env.Set("VELQUOR_SILENT", nullptr);
  env.Set("DISPLAY", ":97");
  // In a child with an alarm, so that a hang fails the test instead of
  // blocking the suite; the message is printed on the child's error stream.
  EXPECT_EXIT(
      {
        alarm(10);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        DAXO::MsgBox("Title", "No display", DAXO::MsgBoxInfo);
        std::fflush(stdout);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "^Title: No display\n$");
}

}  // namespace

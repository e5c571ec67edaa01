// MsgBox prints its message and never opens a window here: the tests run it
// silenced, or with no reachable display.
#include "daxo_msgbox.h"
#include "runtime_test_support.h"

// Last: its macros (None, Bool, Status) would clash with the names above.
#include <X11/Xlib.h>

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

// Whether an X server answers on display `name`.
bool DisplayReachable(const char* name) {
  Display* display = XOpenDisplay(name);
  if (display != nullptr) XCloseDisplay(display);
  return display != nullptr;
}

TEST_F(MsgBoxTest, ReturnsAtOnceWhenNoDisplayCanBeOpened) {
  if (DisplayReachable(":0") || DisplayReachable(":97")) GTEST_SKIP() << "an X server is reachable";
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

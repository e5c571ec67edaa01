// MsgBox prints its message and never opens a window here: the tests run it
// silenced, or with no reachable display.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "daxo_msgbox.h"

namespace {

struct Printed {
  std::string out;
  std::string err;
};

Printed Capture(const char* title, const char* text, int kind) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  DAXO::MsgBox(title, text, kind);
  Printed printed;
  printed.out = ::testing::internal::GetCapturedStdout();
  printed.err = ::testing::internal::GetCapturedStderr();
  return printed;
}

// Restores SILENT, VELQUOR_SILENT and DISPLAY after each test.
class MsgBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"SILENT", "VELQUOR_SILENT", "DISPLAY"}) {
      const char* value = getenv(name);
      saved_.push_back({name, value != nullptr, value != nullptr ? value : ""});
    }
  }
  void TearDown() override {
    for (const Saved& s : saved_) {
      if (s.present) {
        setenv(s.name, s.value.c_str(), 1);
      } else {
        unsetenv(s.name);
      }
    }
  }

 private:
  struct Saved {
    const char* name;
    bool present;
    std::string value;
  };
  std::vector<Saved> saved_;
};

TEST_F(MsgBoxTest, SilencedMessagesOnlyPrintWithTheirKindsPrefix) {
  setenv("SILENT", "1", 1);
  Printed p = Capture("Title", "Some text", DAXO::MsgBoxWarning);
  EXPECT_EQ(p.out, "Warning: Title: Some text\n");
  EXPECT_EQ(p.err, "");
  p = Capture("Title", "Broken", DAXO::MsgBoxError);
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(p.err, "Error: Title: Broken\n");
  p = Capture("Title", "Hello", DAXO::MsgBoxInfo);
  EXPECT_EQ(p.out, "Title: Hello\n");
  p = Capture("T", "two\nlines", 7);
  EXPECT_EQ(p.out, "T: two\nlines\n");
  p = Capture(nullptr, nullptr, DAXO::MsgBoxWarning);
  EXPECT_EQ(p.out, "Warning: : \n");
}

TEST_F(MsgBoxTest, VelquorSilentAlsoSilences) {
  unsetenv("SILENT");
  setenv("VELQUOR_SILENT", "", 1);  // set, even empty
  const Printed p = Capture("Title", "Text", DAXO::MsgBoxInfo);
  EXPECT_EQ(p.out, "Title: Text\n");
}

// Whether an X server listens for display number n (abstract or file socket).
bool DisplayReachable(int n) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
  for (bool abstract : {true, false}) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) continue;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    std::memcpy(address.sun_path + offset, path.c_str(), path.size());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    if (connected) return true;
  }
  return false;
}

TEST_F(MsgBoxTest, ReturnsAtOnceWhenNoDisplayCanBeOpened) {
  if (DisplayReachable(0) || DisplayReachable(97)) GTEST_SKIP() << "an X server is reachable";
  unsetenv("SILENT");
  unsetenv("VELQUOR_SILENT");
  setenv("DISPLAY", ":97", 1);
  // In a child with an alarm, so that a hang fails the test instead of
  // blocking the suite.
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(10);
    dup2(output[1], STDOUT_FILENO);
    close(output[0]);
    DAXO::MsgBox("Title", "No display", DAXO::MsgBoxInfo);
    _exit(0);
  }
  close(output[1]);
  std::string printed;
  char buffer[128];
  ssize_t n;
  while ((n = read(output[0], buffer, sizeof buffer)) > 0) {
    printed.append(buffer, static_cast<size_t>(n));
  }
  close(output[0]);
  int raw = 0;
  ASSERT_EQ(waitpid(child, &raw, 0), child);
  EXPECT_TRUE(WIFEXITED(raw)) << "MsgBox did not return (signal " << WTERMSIG(raw) << ")";
  EXPECT_EQ(printed, "Title: No display\n");
}

}  // namespace

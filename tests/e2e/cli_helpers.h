// What the tests of the velquor binary share: capture files as bytes, a
// fixture that runs shell lines in a folder of the test's own, and a process
// whose standard error is read as it runs.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "file_text.h"

namespace velquor::test {

namespace fs = std::filesystem;

struct Packet {
  std::int64_t us = 0;
  std::string data;
  bool operator<(const Packet& o) const { return std::tie(us, data) < std::tie(o.us, o.data); }
  bool operator==(const Packet& o) const { return us == o.us && data == o.data; }
};

/// The words' bytes, each in the given byte order.
inline std::string Words(std::initializer_list<std::uint32_t> words, bool big = false) {
  std::string bytes;
  for (std::uint32_t v : words) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(v >> (8 * (big ? 3 - i : i))));
  }
  return bytes;
}

/// A little-endian microsecond pcap file's bytes (of Ethernet packets unless
/// told); the merge writes its output so, with a snap length of 262144.
inline std::string Pcap(const std::vector<Packet>& packets, std::uint32_t linkType = 1,
                        std::uint32_t snapLength = 65535) {
  std::string out = Words({0xA1B2C3D4u, 2u | (4u << 16), 0u, 0u, snapLength, linkType});
  for (const Packet& p : packets) {
    const auto us = static_cast<std::uint64_t>(p.us);
    const auto size = static_cast<std::uint32_t>(p.data.size());
    out += Words({static_cast<std::uint32_t>(us / 1000000),
                  static_cast<std::uint32_t>(us % 1000000), size, size}) +
           p.data;
  }
  return out;
}

/// What the merge writes for `packets` (in that order).
inline std::string Merged(const std::vector<Packet>& packets, std::uint32_t linkType = 1) {
  return Pcap(packets, linkType, 262144);
}

/// One pcapng section: its header, one interface (microsecond times), an
/// enhanced packet block per packet.
inline std::string PcapNgSection(bool big, std::uint32_t linkType,
                                 const std::vector<Packet>& packets) {
  // Two 16-bit fields in one word, the first one named first.
  const auto halves = [big](std::uint32_t a, std::uint32_t b) {
    return big ? (a << 16) | b : (b << 16) | a;
  };
  std::string out = Words({0x0A0D0D0Au, 28u, 0x1A2B3C4Du, halves(1, 0), ~0u, ~0u, 28u}, big) +
                    Words({1u, 20u, halves(linkType, 0), 65535u, 20u}, big);
  for (const Packet& p : packets) {
    const auto size = static_cast<std::uint32_t>(p.data.size());
    const std::uint32_t padded = (size + 3) / 4 * 4;
    const auto us = static_cast<std::uint64_t>(p.us);
    out += Words({6u, 32 + padded, 0u, static_cast<std::uint32_t>(us >> 32),
                  static_cast<std::uint32_t>(us), size, size},
                 big) +
           p.data + std::string(padded - size, '\0') + Words({32 + padded}, big);
  }
  return out;
}

/// The packets of a little-endian microsecond pcap file, in file order.
inline std::vector<Packet> ReadPcap(const fs::path& path) {
  const std::string bytes = ReadFile(path);
  const auto word = [&](std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  std::vector<Packet> packets;
  for (std::size_t at = 24; at + 16 <= bytes.size(); at += 16 + word(at + 8)) {
    packets.push_back(Packet{std::int64_t{word(at)} * 1000000 + word(at + 4),
                             bytes.substr(at + 16, word(at + 8))});
  }
  return packets;
}

struct Result {
  int status = -1;  // the exit status; -1 when killed
  std::string out;
  std::string err;
};

/// A test run in an empty folder of its own, removed after a success.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process id too: two runs of the suite at once (a developer's and
    // CI's, or a repeated test) must not share a folder.
    dir = fs::path(::testing::TempDir()) / (std::string(info->test_suite_name()) + "_" +
                                            info->name() + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }

  /// Runs a shell line in the test's folder, where `velquor` is the binary
  /// under test and $TMPDIR is `tmpdir` (the folder itself when empty).
  Result Shell(const std::string& line) {
    const std::string command =
        "cd '" + dir.string() + "' && export TMPDIR='" + (tmpdir.empty() ? dir : tmpdir).string() +
        "' && velquor() { '" VELQUOR_CLI "' \"$@\"; } && (" + line + ") > stdout.txt 2> stderr.txt";
    const int raw = std::system(command.c_str());
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read("stdout.txt"), Read("stderr.txt")};
  }
  Result Velquor(const std::string& args) { return Shell("velquor " + args); }

  std::string Read(const std::string& name) const { return ReadFile(dir / name); }
  void Write(const std::string& name, const std::string& bytes) const {
    WriteFile(dir / name, bytes);
  }
  bool Exists(const std::string& name) const { return fs::exists(dir / name); }
  /// The merge's hidden temporary files in the folder.
  int Temporaries() const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
      n += entry.path().filename().string().find(".velquor-") != std::string::npos;
    }
    return n;
  }

  fs::path dir;
  fs::path tmpdir;
};

/// A process (`argv[0]` is its program) whose standard error is read.
class Spawned {
 public:
  explicit Spawned(const std::vector<std::string>& argv) {
    if (pipe(m_errors) != 0) return;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, m_errors[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, m_errors[0]);
    if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(m_errors[1]);
  }
  ~Spawned() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      Wait();
    }
    close(m_errors[0]);
  }
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  bool Started() const { return m_pid > 0; }
  void Signal(int signal) const { kill(m_pid, signal); }
  /// Reads standard error until `until` appears or, for "", until it
  /// closes; false when `seconds` pass first.
  bool ReadUntil(const std::string& until, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (until.empty() || text.find(until) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd fd{m_errors[0], POLLIN, 0};
      if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[512];
      const ssize_t n = read(m_errors[0], buffer, sizeof buffer);
      if (n <= 0) return until.empty();
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  /// Waits for the end; the wait status (-1 when there is no process).
  int Wait() {
    int status = -1;
    if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid) m_pid = -1;
    return status;
  }
  /// Sends `signals` one after the other and waits for the end: the wait
  /// status, or -1 when it still ran 20 s later (it is then killed).
  int Interrupt(const std::vector<int>& signals) {
    for (int signal : signals) Signal(signal);
    if (ReadUntil("", 20)) return Wait();
    Signal(SIGKILL);
    return -1;
  }

  std::string text;  // standard error so far

 private:
  pid_t m_pid = -1;
  int m_errors[2] = {-1, -1};
};

}  // namespace velquor::test

// What the tests of the velquor binary share: pcap files and their bytes,
// and a process whose standard error is read as it runs.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace velquor::test {

namespace fs = std::filesystem;

struct Packet {
  std::int64_t us = 0;
  std::string data;
  bool operator<(const Packet& o) const { return std::tie(us, data) < std::tie(o.us, o.data); }
  bool operator==(const Packet& o) const { return us == o.us && data == o.data; }
};

inline void Put32(std::ostream& out, std::uint32_t v) {
  const char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8),
                         static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
  out.write(bytes, 4);
}

/// A little-endian microsecond pcap file (of Ethernet packets unless told).
inline void WritePcap(const fs::path& path, const std::vector<Packet>& packets,
                      std::uint32_t linkType = 1) {
  std::ofstream out(path, std::ios::binary);
  Put32(out, 0xA1B2C3D4);
  Put32(out, 2 | (4u << 16));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 65535);
  Put32(out, linkType);
  for (const Packet& p : packets) {
    Put32(out, static_cast<std::uint32_t>(p.us / 1000000));
    Put32(out, static_cast<std::uint32_t>(p.us % 1000000));
    Put32(out, static_cast<std::uint32_t>(p.data.size()));
    Put32(out, static_cast<std::uint32_t>(p.data.size()));
    out << p.data;
  }
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

/// An empty folder of the running test's own: "PREFIX<test name>" in the
/// tests' temporary folder.
inline fs::path FreshTestFolder(const std::string& prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // The process id too: two runs of the suite at once (a developer's and
  // CI's, or a repeated test) must not share a folder.
  const fs::path dir =
      fs::path(::testing::TempDir()) / (prefix + info->name() + "_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

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

  std::string text;  // standard error so far

 private:
  pid_t m_pid = -1;
  int m_errors[2] = {-1, -1};
};

}  // namespace velquor::test

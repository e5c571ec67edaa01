// Temporary output files, put in place on success.
#include "output_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace velquor::tool {

namespace fs = std::filesystem;

namespace {

mode_t DefaultMode() {
  // umask can only be read by setting it; done before any thread creates files.
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// `target` with every symbolic link along its last component followed (a
// dangling link gives the path it names). False with `error` on a loop.
bool FollowLinks(const std::string& target, fs::path& resolved, std::string& error) {
  resolved = target;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat entry {};
    if (lstat(resolved.c_str(), &entry) != 0 || !S_ISLNK(entry.st_mode)) return true;
    std::error_code failed;
    const fs::path link = fs::read_symlink(resolved, failed);
    if (failed) {
      error = "cannot read the link '" + resolved.string() + "': " + failed.message();
      return false;
    }
    resolved = link.is_absolute() ? link : resolved.parent_path() / link;
  }
  error = "'" + target + "': too many levels of symbolic links";
  return false;
}

// The temporary file to remove when a signal ends the process: copied into
// static storage before it is armed, read by the handler only while armed.
char g_cleanupPath[4096];
volatile std::sig_atomic_t g_cleanupArmed = 0;

void ArmCleanup(const std::string& path) {
  g_cleanupArmed = 0;
  if (path.size() >= sizeof g_cleanupPath) return;
  std::memcpy(g_cleanupPath, path.c_str(), path.size() + 1);
  g_cleanupArmed = 1;
}

extern "C" void OnFatalSignal(int signal) {
  if (g_cleanupArmed != 0) unlink(g_cleanupPath);  // async-signal-safe
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

}  // namespace

void InstallFatalSignalCleanup() {
  struct sigaction action {};
  action.sa_handler = OnFatalSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
}

OutputFile::~OutputFile() {
  Discard();
}

bool OutputFile::Create(const std::string& target, std::string& error) {
  Discard();
  m_target = target;
  m_direct = false;
  std::string pattern;
  mode_t mode = DefaultMode();
  if (target == "-") {
    // A pipe, a terminal, a device: written as the merge goes, as any
    // filter does. A regular file (a shell's "> out") is spooled and copied
    // on success, so a failed merge leaves it as it was; so is what cannot
    // be opened again by name (a socket).
    struct stat out {};
    if (fstat(STDOUT_FILENO, &out) != 0) {
      error = std::string("standard output is not open: ") + std::strerror(errno);
      return false;
    }
    if (!S_ISREG(out.st_mode)) {
      const std::string self = "/dev/fd/" + std::to_string(STDOUT_FILENO);
      const int probe = open(self.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
      if (probe >= 0) {
        close(probe);
        m_direct = true;
        m_temporary = self;
        return true;
      }
    }
    const char* tmp = std::getenv("TMPDIR");
    pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/velquor-merge-XXXXXX";
  } else {
    fs::path path;
    if (!FollowLinks(target, path, error)) return false;
    m_target = path.string();
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    pattern = (folder / ("." + path.filename().string() + ".velquor-XXXXXX")).string();
    struct stat existing {};
    if (stat(m_target.c_str(), &existing) == 0) {
      if (S_ISDIR(existing.st_mode)) {
        error = "'" + target + "' is a directory";
        return false;
      }
      if (!S_ISREG(existing.st_mode)) {
        // A device, a pipe: there is nothing to replace, only to write to.
        m_direct = true;
        m_temporary = m_target;
        return true;
      }
      mode = existing.st_mode & 07777;
    }
  }
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // A stopping signal between creating the file and arming its removal
  // would leave it behind: the signals wait until it is armed.
  sigset_t stopping;
  sigset_t previous;
  sigemptyset(&stopping);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stopping, signal);
  pthread_sigmask(SIG_BLOCK, &stopping, &previous);
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    error = "cannot create a temporary file " + pattern + ": " + std::strerror(errno);
    return false;
  }
  fchmod(fd, mode);
  close(fd);
  m_temporary = name.data();
  ArmCleanup(m_temporary);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return true;
}

bool OutputFile::Commit(std::string& error) {
  if (m_temporary.empty()) {
    error = "no output was written";
    return false;
  }
  if (m_direct) {
    m_temporary.clear();
    return true;
  }
  if (m_target != "-") {
    // Disarmed only once renamed: a signal in between finds the name gone.
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
      error = "cannot rename " + m_temporary + " to " + m_target + ": " + std::strerror(errno);
      Discard();
      return false;
    }
    g_cleanupArmed = 0;
    m_temporary.clear();
    return true;
  }
  const int fd = open(m_temporary.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0;
  if (ok) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0) break;
      if (!WriteAll(STDOUT_FILENO, buffer.data(), static_cast<std::size_t>(n))) {
        ok = false;
        break;
      }
    }
    close(fd);
  }
  if (!ok)
    error = std::string("cannot copy the output to standard output: ") + std::strerror(errno);
  Discard();
  return ok;
}

void OutputFile::Discard() {
  if (m_temporary.empty()) return;
  if (!m_direct) {
    std::remove(m_temporary.c_str());
    g_cleanupArmed = 0;  // after the removal: a signal in between finds it gone
  }
  m_temporary.clear();
}

}  // namespace velquor::tool

// Child processes and pipes.
//
// Between fork and exec the child runs only async-signal-safe calls: every
// string, vector and path the child needs (argument and environment vectors,
// locale forms of the program and the directory) is prepared in an ExecPlan
// before forking, and the child only reads it.
//
// Exec failures reach the parent through a close-on-exec status pipe: the
// child writes a tagged errno when exec fails; end of file without a message
// means the exec succeeded.
//
// Waiting never reaps the child outside m_mutex: the blocking part observes
// the exit without consuming it (WNOWAIT, pidfd readiness), and the reaping
// waitpid runs under the mutex. terminate() signals under the same mutex, so
// it can never signal a process id that was already reaped and recycled.
#include "daxo_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "daxo_system.h"

extern char** environ;

namespace {

// ------------------------------------------------------------ pipe helpers

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// ------------------------------------------------------------ exec plan

struct ExecPlan {
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<char*> argv;  // into args, null-terminated
  std::vector<char*> envp;  // into env, null-terminated
  std::string program;
  std::string programLocale;  // empty: no different locale form
  std::string directory;
  std::string directoryLocale;
  int in = -1;  // descriptors for the child's 0, 1 and 2; -1 keeps ours
  int out = -1;
  int err = -1;

  void Seal() {
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
  }
};

std::string LocaleForm(const char* utf8) {
  DAXOPrivate::DAXOLocalePath local(utf8);
  return local.Get() != nullptr ? std::string(local.Get()) : std::string();
}

// A bare program name looked up in `path` (":"-separated folders).
std::string SearchPath(const std::string& program, const char* path) {
  if (program.empty() || program.find('/') != std::string::npos) return program;
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return program;  // exec reports ENOENT
}

// Everything the child needs, prepared before forking.
void BuildPlan(ExecPlan& plan, const DAXOArray<DAXOString>& args,
               const DAXOStringHashTable<DAXOString>& environment, bool searchPath,
               const DAXOString& directory, DAXOPipe* in, DAXOPipe* out, DAXOPipe* err) {
  for (int i = 0; i < args.Count(); ++i) plan.args.emplace_back(static_cast<const char*>(args[i]));
  DAXOHashTableIterator it;
  while (const auto* pair = environment.nextX(it)) {
    plan.env.push_back(std::string(pair->key) + "=" + std::string(pair->value));
  }
  plan.program = plan.args[0];
  if (searchPath) {
    const DAXOString* path = environment.Find("PATH");
    plan.program =
        SearchPath(plan.program, path != nullptr ? static_cast<const char*>(*path) : nullptr);
  }
  plan.programLocale = LocaleForm(plan.program.c_str());
  plan.directory = static_cast<const char*>(directory);
  if (!plan.directory.empty()) plan.directoryLocale = LocaleForm(plan.directory.c_str());
  plan.in = in != nullptr ? in->getReadDescriptor() : -1;
  plan.out = out != nullptr ? out->getWriteDescriptor() : -1;
  plan.err = err != nullptr ? err->getWriteDescriptor() : -1;
  plan.Seal();
}

// Makes `fd` the descriptor `target` of this process, open across exec.
// Async-signal-safe.
bool Redirect(int fd, int target) {
  if (fd < 0) return true;
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;  // dup2 would keep close-on-exec
  return dup2(fd, target) == target;
}

// Applies the plan to this process and executes the program. Returns the
// errno of the failure. Async-signal-safe.
int ApplyAndExec(const ExecPlan& plan) {
  if (!Redirect(plan.in, 0) || !Redirect(plan.out, 1) || !Redirect(plan.err, 2)) return errno;
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) != 0) {
    if (plan.directoryLocale.empty() || chdir(plan.directoryLocale.c_str()) != 0) return errno;
  }
  execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
  int error = errno;
  if (!plan.programLocale.empty()) {
    execve(plan.programLocale.c_str(), plan.argv.data(), plan.envp.data());
    error = errno;
  }
  return error;
}

// Messages on the status pipe: 8 bytes each, so writes never interleave.
enum : int { kTagPid = 1, kTagErrno = 2 };
struct StatusMessage {
  int tag;
  int value;
};

void SendStatus(int fd, int tag, int value) {
  const StatusMessage message = {tag, value};
  while (::write(fd, &message, sizeof message) < 0 && errno == EINTR) {
  }
}

// The child's side: clean signal state, apply the plan, exec; on failure
// report errno and exit. Async-signal-safe.
[[noreturn]] void ExecChild(const ExecPlan& plan, int statusFd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &action, nullptr);
  SendStatus(statusFd, kTagErrno, ApplyAndExec(plan));
  _exit(127);
}

// Reads status messages until end of file (at most `capacity`).
int ReadStatus(int fd, StatusMessage* messages, int capacity) {
  char* p = reinterpret_cast<char*>(messages);
  size_t got = 0;
  const size_t want = sizeof(StatusMessage) * static_cast<size_t>(capacity);
  while (got < want) {
    const ssize_t n = ::read(fd, p + got, want - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<int>(got / sizeof(StatusMessage));
}

void ReapBlocking(pid_t pid, int* rawStatus) {
  while (waitpid(pid, rawStatus, 0) < 0 && errno == EINTR) {
  }
}

int DecodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

long MonotonicMicroseconds() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000L + ts.tv_nsec / 1000;
}

// Waits until child `pid` has exited, without reaping it. `timeout` in µs,
// negative: no limit. False on time-out or when `pid` is no child of ours.
bool WaitForExit(pid_t pid, long timeout) {
  siginfo_t info;
  if (timeout < 0) {
    for (;;) {
      if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) return true;
      if (errno != EINTR) return false;
    }
  }
  const long deadline = MonotonicMicroseconds() + timeout;
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    for (;;) {
      long remaining = deadline - MonotonicMicroseconds();
      if (remaining < 0) remaining = 0;
      const struct timespec limit = {remaining / 1000000, (remaining % 1000000) * 1000};
      struct pollfd poller = {pidfd, POLLIN, 0};
      const int ready = ppoll(&poller, 1, &limit, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      ::close(pidfd);
      return ready > 0;
    }
  }
#endif
  // No process descriptors on this system: look every millisecond.
  for (;;) {
    memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (info.si_pid == pid) return true;
    const long remaining = deadline - MonotonicMicroseconds();
    if (remaining <= 0) return false;
    const struct timespec tick = {0, (remaining < 1000 ? remaining : 1000) * 1000};
    nanosleep(&tick, nullptr);
  }
}

}  // namespace

// ------------------------------------------------------------------ DAXOPipe

DAXOPipe::DAXOPipe(const unsigned int& inherit) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  m_read = fds[0];
  m_write = fds[1];
  if (inherit & InheritRead) fcntl(m_read, F_SETFD, 0);
  if (inherit & InheritWrite) fcntl(m_write, F_SETFD, 0);
}

DAXOPipe::~DAXOPipe() {
  close();
}

int DAXOPipe::read(void* buffer, int n) {
  if (m_read < 0 || n < 0) {
    errno = EBADF;
    return -1;
  }
  for (;;) {
    const ssize_t got = ::read(m_read, buffer, static_cast<size_t>(n));
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) return -1;
  }
}

int DAXOPipe::write(const void* data, int n) {
  if (m_write < 0 || n < 0) {
    errno = EBADF;
    return -1;
  }
  // A reader that has gone must not kill this process: SIGPIPE is blocked for
  // this thread during the write, and one raised by it is consumed before the
  // mask is restored (unless one was already pending for someone else).
  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  sigset_t pending;
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;

  const char* p = static_cast<const char*>(data);
  int written = 0;
  int error = 0;
  while (written < n) {
    const ssize_t r = ::write(m_write, p + written, static_cast<size_t>(n - written));
    if (r < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    written += static_cast<int>(r);
  }
  if (error == EPIPE && !wasPending) {
    const struct timespec noWait = {0, 0};
    sigtimedwait(&pipeSignal, nullptr, &noWait);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return written;
}

void DAXOPipe::closeReadDescriptor() {
  CloseFd(m_read);
}
void DAXOPipe::closeWriteDescriptor() {
  CloseFd(m_write);
}

void DAXOPipe::close() {
  CloseFd(m_read);
  CloseFd(m_write);
}

// --------------------------------------------------------------- DAXOProcess

DAXOProcess::DAXOProcess(const DAXOArray<DAXOString>& args, DAXOPipe* in, DAXOPipe* out,
                         DAXOPipe* err, bool inTerminal, bool searchPath)
    : m_args(args), m_in(in), m_out(out), m_err(err), m_searchPath(searchPath) {
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* equal = std::strchr(*entry, '=');
    if (equal == nullptr) continue;
    DAXOString name;
    name.concat(static_cast<int>(equal - *entry), *entry);
    m_environment.Set(name, DAXOString(equal + 1));
  }
  if (inTerminal && !isatty(STDOUT_FILENO) && !PrepareTerminal()) m_state = Unusable;
}

DAXOProcess::~DAXOProcess() = default;

bool DAXOProcess::PrepareTerminal() {
  // xhost tells whether the display accepts this user's windows.
  DAXOArray<DAXOString> check;
  check.Append("xhost");
  DAXOProcess xhost(check);
  int error = 0;
  int status = -1;
  if (!xhost.runAsChild(&error) || !xhost.wait(status, -1) || status != 0) return false;

  DAXOString terminal;
  if (access("/usr/bin/x-terminal-emulator", X_OK) == 0) {
    terminal = "/usr/bin/x-terminal-emulator";
  } else if (const char* term = getenv("TERM")) {
    terminal = term;
  } else {
    return false;
  }
  DAXOArray<DAXOString> wrapped;
  wrapped.Append(terminal);
  wrapped.Append("-e");
  for (int i = 0; i < m_args.Count(); ++i) wrapped.Append(m_args[i]);
  m_args = wrapped;
  return true;
}

void DAXOProcess::setCurrentDirectory(const DAXOString& directory) {
  m_directory = directory;
}

void DAXOProcess::setEnvironmentVariable(const DAXOString& name, const DAXOString& value) {
  m_environment.Set(name, value);
}

void DAXOProcess::removeEnvironmentVariable(const DAXOString& name) {
  m_environment.Remove(name);
}

int DAXOProcess::getState() const {
  DAXOMutexGuard guard(m_mutex);
  return m_state;
}

bool DAXOProcess::runAsChild(int* error) {
  return Start(false, error);
}
bool DAXOProcess::runDetached(int* error) {
  return Start(true, error);
}

bool DAXOProcess::Start(bool detached, int* error) {
  auto fail = [error](int e) {
    if (error != nullptr) *error = e;
    return false;
  };
  {
    DAXOMutexGuard guard(m_mutex);
    if (m_state == Unusable || m_state == Running) return fail(m_state == Running ? EBUSY : EINVAL);
  }
  if (m_args.Count() == 0 || m_args[0].Length() == 0) return fail(EINVAL);

  ExecPlan plan;
  BuildPlan(plan, m_args, m_environment, m_searchPath, m_directory, m_in, m_out, m_err);

  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0) return fail(errno);
  const pid_t pid = fork();
  if (pid < 0) {
    const int e = errno;
    ::close(status[0]);
    ::close(status[1]);
    return fail(e);
  }
  if (pid == 0) {
    ::close(status[0]);
    if (!detached) ExecChild(plan, status[1]);
    // Detached: a new session, and a grandchild that init adopts once this
    // intermediate child exits, so no one has to reap it. _Fork runs no
    // fork handlers, which keeps this side async-signal-safe.
    setsid();
    const pid_t grandchild = _Fork();
    if (grandchild == 0) ExecChild(plan, status[1]);
    if (grandchild < 0) {
      SendStatus(status[1], kTagErrno, errno);
    } else {
      SendStatus(status[1], kTagPid, grandchild);
    }
    _exit(0);
  }

  ::close(status[1]);
  StatusMessage messages[2] = {};
  const int count = ReadStatus(status[0], messages, 2);
  ::close(status[0]);
  int raw = 0;
  pid_t started = pid;
  int execError = 0;
  if (detached) {
    ReapBlocking(pid, &raw);  // the intermediate child
    started = -1;
    for (int i = 0; i < count; ++i) {
      if (messages[i].tag == kTagPid) started = messages[i].value;
      if (messages[i].tag == kTagErrno) execError = messages[i].value;
    }
    if (execError == 0 && started < 0) execError = ECHILD;
  } else if (count > 0) {
    execError = messages[0].value;
    ReapBlocking(pid, &raw);
  }
  if (execError != 0) return fail(execError);

  {
    DAXOMutexGuard guard(m_mutex);
    m_pid = started;
    m_state = detached ? Detached : Running;
    m_status = 0;
  }
  // The child has its own copies now; ours would keep its output pipes open
  // (no end of file for the reader) and its input pipe readable.
  if (m_in != nullptr) m_in->closeReadDescriptor();
  if (m_out != nullptr) m_out->closeWriteDescriptor();
  if (m_err != nullptr) m_err->closeWriteDescriptor();
  return true;
}

bool DAXOProcess::runAsCurrent() {
  if (getState() == Unusable || m_args.Count() == 0) return false;
  ExecPlan plan;
  BuildPlan(plan, m_args, m_environment, m_searchPath, m_directory, m_in, m_out, m_err);
  errno = ApplyAndExec(plan);
  return false;
}

bool DAXOProcess::wait(int& status, long timeout) {
  pid_t pid = 0;
  {
    DAXOMutexGuard guard(m_mutex);
    if (m_state == Exited) {
      status = m_status;
      return true;
    }
    if (m_state != Running) return false;
    pid = m_pid;
  }
  WaitForExit(pid, timeout);  // observes without reaping; the check below decides
  DAXOMutexGuard guard(m_mutex);
  if (m_state == Running) {
    int raw = 0;
    const pid_t reaped = waitpid(pid, &raw, WNOHANG);
    if (reaped == pid) {
      m_status = DecodeStatus(raw);
      m_state = Exited;
    } else if (reaped < 0 && errno == ECHILD) {
      // Reaped behind our back (SIGCHLD ignored): gone, status unknown.
      m_status = -1;
      m_state = Exited;
    }
  }
  if (m_state != Exited) return false;
  status = m_status;
  return true;
}

bool DAXOProcess::terminate() {
  DAXOMutexGuard guard(m_mutex);
  return m_state == Running && kill(m_pid, SIGTERM) == 0;
}

// Signal and failure requests, delivered to the engine by a watcher thread.
#include "stop_requests.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace velquor::tool {

namespace {

constexpr char kInterrupt = 'i';
constexpr char kFailure = 'f';
constexpr char kQuit = 'q';

// The write end of the live instance's pipe, for the handler.
volatile std::sig_atomic_t g_pipeWrite = -1;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[4];  // in the order of kSignals

void WriteByte(int fd, char byte) {
  // A full pipe already holds a request: dropping this one loses nothing.
  while (write(fd, &byte, 1) < 0 && errno == EINTR) {
  }
}

extern "C" void OnSignal(int signal) {
  const int saved = errno;
  // The next one of this signal gets the action from before (the tool's:
  // remove the temporary output, then die by the signal).
  for (int i = 0; i < 4; ++i) {
    if (kSignals[i] == signal) sigaction(signal, &g_previous[i], nullptr);
  }
  if (g_pipeWrite >= 0) WriteByte(g_pipeWrite, kInterrupt);
  errno = saved;
}

}  // namespace

StopRequests::StopRequests(std::function<void()> stop) : m_stop(std::move(stop)) {
  if (pipe2(m_pipe, O_CLOEXEC) != 0) {
    m_pipe[0] = m_pipe[1] = -1;
    return;  // no stop requests: the run cannot be interrupted cleanly
  }
  fcntl(m_pipe[1], F_SETFL, O_NONBLOCK);
  g_pipeWrite = m_pipe[1];
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &action, &g_previous[i]);
  m_watcher = std::thread([this] { Watch(); });
}

StopRequests::~StopRequests() {
  if (m_pipe[1] < 0) return;
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
  g_pipeWrite = -1;
  // Blocking write: the quit byte must arrive even when requests fill the pipe.
  fcntl(m_pipe[1], F_SETFL, 0);
  WriteByte(m_pipe[1], kQuit);
  m_watcher.join();
  close(m_pipe[0]);
  close(m_pipe[1]);
}

void StopRequests::Request() {
  if (m_pipe[1] >= 0) WriteByte(m_pipe[1], kFailure);
}

void StopRequests::Watch() {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(m_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == kQuit) return;
    if (byte == kInterrupt) m_interrupted = true;
    if (m_stop) m_stop();
  }
}

}  // namespace velquor::tool

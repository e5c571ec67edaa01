// Stopping a running diagram from outside the engine: Ctrl-C (SIGINT),
// SIGTERM, or a failure noticed on a reporting thread.
//
// A signal handler and a report sink may not call into the engine (the
// handler is not allowed to take locks; a sink may run under an engine lock),
// so both only write one byte into a pipe; a watcher thread owned by this
// object reads it and runs the stop action (Engine::RequestShutdown) with no
// lock held. Handled: SIGINT, SIGTERM, SIGHUP and SIGQUIT. After the first
// one, that signal gets its previous action back (the tool's: remove the
// temporary output and die by the signal), so that a second Ctrl-C ends a
// stuck process at once and leaves no temporary file.
//
// Threading: one instance at a time per process (the handler finds it through
// a global). Construct it after the engine and destroy it before; Request and
// Interrupted may be called from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace velquor::tool {

class StopRequests {
 public:
  /// Installs the signal handlers and starts the watcher, which
  /// calls `stop` once per request.
  explicit StopRequests(std::function<void()> stop);
  /// Restores the previous handlers and joins the watcher.
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  /// Asks for a stop (a failure). Never blocks.
  void Request();
  /// Whether a signal asked for the stop.
  bool Interrupted() const { return m_interrupted; }

 private:
  void Watch();

  std::function<void()> m_stop;
  int m_pipe[2] = {-1, -1};
  std::atomic<bool> m_interrupted{false};
  std::thread m_watcher;
};

}  // namespace velquor::tool

// ScriptService: diagram scripts run by the engine itself, for packages
// (DAXO::Parse, ParseFile, AsynchParse, AsynchParseFile through the kernel)
// and for the embedding program (Engine::Parse ...). It wraps the parser and
// executor of velquor/script.h.
//
// What a script run here may do: every line as in `velquor run`, except
// that it never waits for the diagram. Its `run` line starts the diagram
// (Engine::StartDiagram: the clock if stopped, and every auto-start
// component that is not living) and goes on; `run SECONDS` is refused with
// a report. A script may be run by a component (from Birth or Core), whose
// own death `run` would otherwise wait for.
//
// Reports: every malformed line "<where>:<line>: <what>" (nothing runs
// then), then the first failing line in the same form, at error level;
// <where> is the file for ParseFile, "<script>" for a text.
//
// Threads. Parse and ParseFile run on the calling thread. A call from a
// component's main thread (see ScriptCaller) stops before its next line
// once the component is asked to die, so that a script never holds a dying
// component's thread for more than one line. The Asynch forms queue the
// work for one script thread, started by the first of them and joined by
// Stop; it runs queued scripts one after the other, in queue order.
//
// Locks. The service's mutex is a leaf: it guards the queue, the package
// folders, the stopping flag and the count of scripts running, and is never
// held while a script runs. A script line takes what the engine operation
// it calls takes (the diagram lock first, daxo_lock_order.h): a line run
// from a component thread waits for the diagram lock like any other thread.
// Known limits, because a script runs on the caller's thread with the
// caller's locks: from a sequential component's Core (run on its writer's
// thread under the writer's connection mutex) a script must not connect to
// or from that writer; from a Birth while "Engine.sequentialStart" holds the
// starter's lifecycle lock, a line that re-shapes the component itself waits
// for that start (at most 3 s). Use the Asynch forms from component code
// when the result is not needed at once: they run with no lock held.
//
// Shutdown. Stop (the engine's destructor, before anything else is taken
// down) refuses new work (reported, false), lets each running script end at
// its next line, drops the queued ones with a report each, never running
// them, waits until no script runs, and joins the script thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine_mutex.h"

class DAXOComponent;

namespace velquor {

class Engine;

/// Marks the calling thread as the main thread of `component` for its
/// scope (the kernel's ComponentMainThread), so that a script run on it
/// knows whose death ends it.
class ScriptCaller {
 public:
  explicit ScriptCaller(DAXOComponent* component);
  ~ScriptCaller();
  ScriptCaller(const ScriptCaller&) = delete;
  ScriptCaller& operator=(const ScriptCaller&) = delete;

  /// The component whose main thread this is, or null.
  static DAXOComponent* Current();

 private:
  DAXOComponent* m_previous;
};

class ScriptService {
 public:
  using ReportFn = std::function<void(const std::string& text, int level)>;

  ScriptService(Engine& engine, ReportFn report);
  /// Stops (see Stop) if that was not done.
  ~ScriptService();
  ScriptService(const ScriptService&) = delete;
  ScriptService& operator=(const ScriptService&) = delete;

  /// Runs the text's lines on this thread; true when every line succeeded.
  bool Parse(const std::string& text) DAXO_EXCLUDES(m_mutex);
  /// Runs the file's lines; relative `load` paths are taken from its folder.
  bool ParseFile(const std::string& path) DAXO_EXCLUDES(m_mutex);
  /// Queue the same work for the script thread; true when queued.
  bool AsynchParse(const std::string& text) DAXO_EXCLUDES(m_mutex);
  bool AsynchParseFile(const std::string& path) DAXO_EXCLUDES(m_mutex);
  /// Folders in which a `load` of a bare package name is looked up.
  void SetPackageFolders(std::vector<std::string> folders) DAXO_EXCLUDES(m_mutex);
  /// Blocks until every queued script has run or been dropped.
  void WaitIdle() DAXO_EXCLUDES(m_mutex);
  /// See the banner. Idempotent; blocks while scripts end their line.
  void Stop() DAXO_EXCLUDES(m_mutex);

 private:
  struct Work {
    bool isFile = false;
    std::string text;  // the script, or the file's path
  };
  /// Runs `work` on this thread unless the service is stopping.
  bool Execute(const Work& work) DAXO_EXCLUDES(m_mutex);
  bool Run(const Work& work) DAXO_EXCLUDES(m_mutex);
  bool Queue(Work work) DAXO_EXCLUDES(m_mutex);
  void Worker() DAXO_EXCLUDES(m_mutex);
  bool Stopping() const DAXO_EXCLUDES(m_mutex);
  /// How a message names the work: the file, or the text's first line.
  static std::string Name(const Work& work);

  Engine& m_engine;
  ReportFn m_report;
  mutable Mutex m_mutex;  // a leaf
  std::condition_variable m_changed;
  std::deque<Work> m_queue DAXO_GUARDED_BY(m_mutex);
  std::vector<std::string> m_packageFolders DAXO_GUARDED_BY(m_mutex);
  bool m_stopping DAXO_GUARDED_BY(m_mutex) = false;
  int m_running DAXO_GUARDED_BY(m_mutex) = 0;  // scripts running now, on any thread
  bool m_workerBusy DAXO_GUARDED_BY(m_mutex) = false;
  std::thread m_worker DAXO_GUARDED_BY(m_mutex);  // started on demand
};

}  // namespace velquor

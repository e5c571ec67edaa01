// EngineThread: the engine's DAXOThread, one per thread that runs a module's
// code (a threaded component's main thread, every extra thread), listed in
// that module's thread list while it does (ModuleThreadListing). It measures
// the thread from outside, through the kernel's per-thread accounting, and
// pins or re-prioritises it, so that the module's "contextSwitches",
// "CPULoad", "processor" and "priority" properties mean something.
//
// Measures:
// - context switches: voluntary + involuntary ones since the thread began,
//   from /proc/self/task/<tid>/status (one small read; the thread measured
//   is not stopped or signalled).
// - CPU load: the thread's CPU time (its POSIX thread CPU clock, exact to the
//   nanosecond) over the real time of the window, in hundredths of a percent
//   of one processor, at most 10000. The window runs from the previous
//   reading (the first one: from the thread's start) to this one, as top
//   shows it; a reading less than kMinLoadWindow after the window's start
//   answers the previous window's load and leaves the window open, so that
//   readers close together do not see the noise of a tiny window.
// Processor: -1 lets the thread run on every processor the process was
// given when the engine library was loaded; n >= 0 pins it to processor n.
// A processor the machine does not have, or that the system refuses (a
// cpuset that leaves it out), is not applied: the thread keeps its
// processors and a warning names the module, the value and the thread.
//
// Threading: built on the thread it describes, which must outlive it; every
// operation from any thread while the thread runs (the module's list
// guarantees that: the object leaves the list before the thread ends). The
// load window is guarded by m_windowLock, a leaf (daxo_lock_order.h, 14),
// taken under the module's threads lock.
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <string>

#include "daxo_thread.h"
#include "engine_mutex.h"

class DAXOModule;

namespace velquor {

/// Where a thread's warnings go (level DAXO::Warning); called on the thread
/// that changed the processor, maybe under a module's locks.
using ThreadWarning = std::function<void(const std::string& text)>;

class EngineThread final : public DAXOThread {
 public:
  /// Readings closer than this to the window's start repeat the previous
  /// load (nanoseconds).
  static constexpr std::int64_t kMinLoadWindow = 10'000'000;

  /// The calling thread, running the code of `who` ("component x": the
  /// warnings' subject).
  EngineThread(std::string who, ThreadWarning warn);
  EngineThread(const EngineThread&) = delete;
  EngineThread& operator=(const EngineThread&) = delete;

  long GetContextSwitches() override;
  int GetCPULoad() override;
  void SetProcessor(int processor) override;
  void SetPriority(int priority) override;

  int KernelTid() const { return m_tid; }

 private:
  /// The thread's CPU time and the monotonic time, in nanoseconds; false
  /// when the thread's clock cannot be read.
  bool Sample(std::int64_t& cpu, std::int64_t& wall) const;
  void Warn(const std::string& text) const;

  const std::string m_who;
  const ThreadWarning m_warn;
  const pthread_t m_handle;
  const int m_tid;
  clockid_t m_cpuClock{};
  bool m_hasCpuClock = false;

  Mutex m_windowLock;  // a leaf
  std::int64_t m_windowCpu DAXO_GUARDED_BY(m_windowLock) = 0;
  std::int64_t m_windowWall DAXO_GUARDED_BY(m_windowLock) = 0;
  int m_lastLoad DAXO_GUARDED_BY(m_windowLock) = 0;
};

/// Lists the calling thread in `module`'s threads from construction until
/// End() or destruction (DAXOModule::EngineThreadBegins / EngineThreadEnds,
/// which hold a life of the module meanwhile). The module is reached only
/// through those virtual operations. Never throws from End or the
/// destructor; a thread that could not be listed simply runs unmeasured.
class ModuleThreadListing {
 public:
  ModuleThreadListing(DAXOModule& module, std::string who, ThreadWarning warn);
  ~ModuleThreadListing() { End(); }
  ModuleThreadListing(const ModuleThreadListing&) = delete;
  ModuleThreadListing& operator=(const ModuleThreadListing&) = delete;

  /// Unlists the thread (once); the module may be gone when this returns.
  void End();

 private:
  DAXOModule& m_module;
  EngineThread m_thread;
  bool m_listed = false;
};

}  // namespace velquor

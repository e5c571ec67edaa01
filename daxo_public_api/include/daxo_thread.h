// Threads: the engine's thread object (DAXOThread) and the thread functions
// of the DAXO namespace (start, join, identify, name, prioritise, yield,
// sleep).
//
// Threading: every function acts on the calling thread (the Current... and
// Set... functions) or on a new one, and may be called from any thread.
//
// Threads started here run their function with a thread-local locale whose
// numeric category is "C" (the other categories are copied from the global
// locale at thread start): numbers are formatted and parsed with a point as
// decimal separator whatever the process-wide locale says. The thread-local
// locale also means that a later setlocale() call changes the global locale
// but not what such a thread uses; a thread that wants its own locale sets it
// with uselocale().
#pragma once

#include "daxo_types.h"

/// The engine's thread object: one running thread as a module sees it in its
/// thread list (DAXOModule::EngineThreadBegins). The engine derives from it
/// and supplies the real operations; the defaults below mean "not
/// available", and callers compare against them and skip the call when they
/// are in place. The slot order of the virtual operations is part of the
/// contract between the engine and the packages: add new ones at the end.
///
/// Threading: every operation may be called from any thread, concurrently,
/// for as long as the thread it describes is listed by its module (the
/// object, and the thread, outlive the listing).
class DAXOThread {
 public:
  virtual ~DAXOThread() = default;
  /// Context switches of the thread so far (voluntary and involuntary); 0
  /// when not measured.
  virtual long GetContextSwitches() { return 0; }
  /// CPU load of the thread in hundredths of a percent of one processor
  /// (10000: it ran all the time); 0 when not measured. The engine's
  /// measuring window is its own (see its thread object).
  virtual int GetCPULoad() { return 0; }
  /// Pins the thread to processor `processor` (from 0), or lets it run on
  /// every processor again (-1); ignored by default.
  virtual void SetProcessor(int /*processor*/) {}
  /// Changes the thread's priority (0 to 255, as SetCurrentThreadPriority);
  /// ignored by default.
  virtual void SetPriority(int /*priority*/) {}
};

namespace DAXO {

/// Starts `fn(arg)` on a new detached thread whose scheduling is inherited
/// from the caller. Returns false when the thread could not be created.
bool CreateThread(void* (*fn)(void*), void* arg);

/// Starts `fn(arg)` on a new joinable thread. Returns false when it could not
/// be created. This form does not hand back the thread's identifier; a
/// thread started with it can only be joined if it reports its own
/// identifier (GetCurrentThreadId) to the joiner.
bool CreateJoinableThread(void* (*fn)(void*), void* arg);

/// As above, and stores the new thread's identifier in `*id` (when `id` is
/// not null) before returning true, for JoinThread.
bool CreateJoinableThread(void* (*fn)(void*), void* arg, DAXOThreadId* id);

/// Blocks until the joinable thread `id` ends. Returns false when it cannot
/// be joined (unknown, detached, already joined, or the caller itself).
bool JoinThread(unsigned long id);

/// The POSIX thread identifier of the caller.
DAXOThreadId GetCurrentThreadId();

/// The kernel's thread id of the caller (gettid).
int GetCurrentKernelThreadId();
int CurrentTID();

/// The process id.
int CurrentPID();

/// Names the calling thread with the first 15 characters of `name` (the
/// kernel's limit). A null name changes nothing.
void SetCurrentThreadName(const char* name);

/// Maps `priority` (0 lowest to 255 highest) linearly onto the priority range
/// of the calling thread's scheduling policy and applies it, keeping the
/// policy. Under a time-sharing policy (a single priority) it sets the
/// thread's nice value instead: 128 is 0, lower priorities up to +19, higher
/// ones down to -19 where permitted. Returns 0 when the current scheduling
/// parameters cannot be read, 1 otherwise (also when the system refuses the
/// new priority or nice value).
int SetCurrentThreadPriority(int priority);

/// As SetCurrentThreadPriority for another running thread of this process:
/// `thread` is its POSIX identifier, `kernelTid` its kernel thread id (the
/// nice value belongs to the kernel thread). The caller keeps the thread
/// alive during the call.
int SetThreadPriority(DAXOThreadId thread, int kernelTid, int priority);

/// Yields the processor.
void ReleaseCurrentThread();

/// Sleeps at least `us` microseconds, resuming after signals. A negative
/// value returns at once.
void Sleep(DAXODelay us);

/// One sleep of 10 milliseconds (a signal may end it early).
void Wait4AWhile();

}  // namespace DAXO

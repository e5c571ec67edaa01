// Child processes (DAXOProcess) and the pipes that connect them to this
// process (DAXOPipe).
//
// A DAXOProcess is set up with its argument vector (argument 0 names the
// program), optional pipes for the child's standard input, output and error,
// a working directory and an environment (a copy of this process's
// environment when the object is made, then edited), and is started as a child that
// this process waits for (runAsChild), as a detached process (runDetached),
// or in place of this process (runAsCurrent).
//
// Threading: a process object is set up and started by one thread at a time.
// Once it runs, wait() and terminate() may be called from any threads, also
// concurrently (an internal mutex, a leaf lock, serialises reaping the child
// against signalling it, so a signal never reaches a recycled process id).
// A pipe is used by one reader thread and one writer thread at most.
//
// Signals: writing to a pipe whose reader has gone returns -1 (EPIPE) instead
// of raising SIGPIPE in this process. Children start with an empty signal
// mask and the default SIGPIPE action.
#pragma once

#include <sys/types.h>

#include "daxo_array.h"
#include "daxo_hash_table.h"
#include "daxo_mutex.h"
#include "daxo_string.h"

class DAXOPipe {
 public:
  /// Which ends stay open across the exec of any child process; the others
  /// are close-on-exec. (A DAXOProcess hands the ends it uses for standard
  /// input, output or error to its child whatever these flags say.)
  static constexpr unsigned int InheritNone = 0;
  static constexpr unsigned int InheritRead = 1;
  static constexpr unsigned int InheritWrite = 2;
  static constexpr unsigned int InheritBoth = 3;

  /// Creates the pipe; check with operator bool.
  explicit DAXOPipe(const unsigned int& inherit = InheritNone);
  /// Closes the ends still open.
  ~DAXOPipe();
  DAXOPipe(const DAXOPipe&) = delete;
  DAXOPipe& operator=(const DAXOPipe&) = delete;

  /// Blocks until some data is there; returns the count read (at most n),
  /// 0 once every write end is closed and the pipe is empty, -1 on error or
  /// when the read end is closed.
  int read(void* buffer, int n);
  /// Blocks until all n bytes are written; returns n, or -1 on error (EPIPE
  /// when no reader is left) or when the write end is closed.
  int write(const void* data, int n);

  /// The descriptors, -1 once closed.
  int getReadDescriptor() const { return m_read; }
  int getWriteDescriptor() const { return m_write; }
  void closeReadDescriptor();
  void closeWriteDescriptor();
  /// Closes both ends.
  void close();
  /// True while at least one end is open.
  explicit operator bool() const { return m_read >= 0 || m_write >= 0; }

 private:
  int m_read = -1;
  int m_write = -1;
};

class DAXOProcess {
 public:
  /// getState() values.
  enum State {
    Unusable = -1,   // set-up failed (no terminal could be prepared)
    NotStarted = 0,  // ready to run
    Running = 1,     // a child started by runAsChild, not yet reaped
    Exited = 2,      // the child has been reaped; wait() gives its status
    Detached = 3,    // started by runDetached; not waited for
  };

  /// `args`: the argument vector, argument 0 naming the program (a path, or
  /// with `searchPath` a bare name looked up in the PATH of the child's
  /// environment). The pipes (owned by the caller, any may be null) become
  /// the child's standard input (its read end), output and error (their
  /// write ends). The child's environment starts as a copy of this
  /// process's. With `inTerminal` and a standard output that is not a
  /// terminal, the program runs inside a terminal window
  /// ("/usr/bin/x-terminal-emulator" if present, else the program named by
  /// TERM, "-e", then `args`); "xhost" is run first (and waited for) to
  /// check the display, and the object is Unusable when that fails.
  DAXOProcess(const DAXOArray<DAXOString>& args, DAXOPipe* in = nullptr, DAXOPipe* out = nullptr,
              DAXOPipe* err = nullptr, bool inTerminal = false, bool searchPath = true);
  /// Neither waits for nor ends a running child.
  ~DAXOProcess();
  DAXOProcess(const DAXOProcess&) = delete;
  DAXOProcess& operator=(const DAXOProcess&) = delete;

  /// The child's working directory (UTF-8); empty: this process's.
  void setCurrentDirectory(const DAXOString& directory);
  /// Sets or removes one variable of the child's environment.
  void setEnvironmentVariable(const DAXOString& name, const DAXOString& value);
  void removeEnvironmentVariable(const DAXOString& name);

  /// Starts the program as a child and returns once it has been executed
  /// (true) or failed to be (false, `*error` = errno of the failure, e.g.
  /// ENOENT, EBUSY while a child of this object runs). On success the
  /// parent's copies of the pipe ends handed to the child are closed (so
  /// that the child's exit ends the data on its output pipes).
  bool runAsChild(int* error = nullptr);
  /// As runAsChild, but the program runs in a new session, is not this
  /// process's child and is never waited for (wait() returns false).
  bool runDetached(int* error = nullptr);
  /// Replaces this process with the program (pipes, directory and
  /// environment applied first). Returns false only when that fails; the
  /// standard descriptors and working directory may then have changed.
  bool runAsCurrent();

  /// One of State.
  int getState() const;
  /// The process id of the started program, 0 before.
  pid_t getPid() const { return m_pid; }

  /// Waits until the child started by runAsChild exits, at most `timeout`
  /// microseconds (-1: no limit). True when it has exited: `status` is its
  /// exit code, or 128 + the signal number when a signal ended it (a repeated
  /// call gives the same status). False on time-out, or when no child of
  /// this object runs.
  bool wait(int& status, long timeout = -1);
  /// Sends SIGTERM to the running child. False when none runs.
  bool terminate();

 private:
  bool PrepareTerminal();
  bool Start(bool detached, int* error);

  DAXOArray<DAXOString> m_args;
  DAXOPipe* m_in;
  DAXOPipe* m_out;
  DAXOPipe* m_err;
  bool m_searchPath;
  DAXOString m_directory;
  DAXOStringHashTable<DAXOString> m_environment;
  mutable DAXOMutex m_mutex;  // leaf lock
  int m_state DAXO_GUARDED_BY(m_mutex) = NotStarted;
  int m_status DAXO_GUARDED_BY(m_mutex) = 0;
  pid_t m_pid = 0;
};

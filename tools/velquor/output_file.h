// The output of a merge: written to a temporary file and put in place only
// when the run succeeded, so that a failed run never leaves a half-written
// output nor clobbers an existing one.
//
// For a file target the temporary file lives next to it (same folder, so the
// final rename is atomic) and takes the target's permissions (an existing
// target's, else the default ones). Standard output ("-") is written as
// the merge goes when it is a pipe, a terminal or a device (a failure
// half-way leaves what was written so far in it); when it is a regular file
// the temporary file lives in $TMPDIR (or /tmp) and is copied to it on
// Commit. A symbolic link is followed: the
// file it names gets the merge and the link stays. A target that is neither
// a regular file nor a folder (a device such as /dev/null, a named pipe, a
// socket) is written directly: it is never replaced nor removed, and what
// fails writing to it is the writer's error.
//
// Threading: one thread.
#pragma once

#include <string>

namespace velquor::tool {

/// Installs, for SIGINT, SIGTERM, SIGHUP and SIGQUIT, the action the tool
/// takes when nothing else handles them: remove the temporary file of the
/// live OutputFile (if any), then die by the signal as before. Call once,
/// early in main. StopRequests puts it back after a first interrupt, so a
/// second one removes the file too.
void InstallFatalSignalCleanup();

class OutputFile {
 public:
  OutputFile() = default;
  /// Removes the temporary file unless committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Creates the (empty) temporary file for `target`. False with `error`.
  bool Create(const std::string& target, std::string& error);
  /// Where the writer writes: the temporary file, or the target itself.
  const std::string& TemporaryPath() const { return m_temporary; }
  /// Renames the temporary file over the target (or copies it to standard
  /// output and removes it). False with `error`; the temporary file is gone
  /// either way.
  bool Commit(std::string& error);
  /// Removes the temporary file (no effect once committed or discarded).
  void Discard();
  /// Whether the writer writes to the target itself (a pipe, a device, a
  /// streamed standard output): what it wrote stays whatever happens.
  bool Direct() const { return m_direct; }

 private:
  std::string m_target;     // after following symbolic links
  std::string m_temporary;  // or the target itself, when written directly
  bool m_direct = false;
};

}  // namespace velquor::tool

// Folders, the running program and its runtime, and process memory.
//
// Paths are UTF-8. Every function that names a path to the operating system
// first uses the text unchanged and, only when that fails, once more in the
// locale's character set (DAXOPrivate::RetryWithLocalePath). Results that are
// paths are UTF-8.
//
// Threading: every function may be called from any thread and keeps no
// state of its own. The working directory (Get/SetCurrentFolder) is one per
// process: changing it affects every thread that uses relative paths.
#pragma once

#include <cerrno>
#include <cstddef>

#include "daxo_string.h"

namespace DAXO {

/// "/tmp" in UTF-8; the empty string when it cannot be converted.
DAXOString GetTempFolder();
/// The HOME environment variable in UTF-8; GetTempFolder() when HOME is not
/// set or cannot be converted.
DAXOString GetUserHomeFolder();

/// True when `path` names a directory (symbolic links followed).
bool IsFolder(const char* path);
/// Creates the directory `path` and its missing parents, one component at a
/// time, with permission bits 0777 (before the process mask). Both "/" and
/// "\" separate components. Returns true when the directory exists
/// afterwards; false for a null or empty path.
bool CreateFolder(const char* path);

/// The working directory of the process; empty when it cannot be read.
DAXOString GetCurrentFolder();
/// Changes the working directory of the process. Returns success.
bool SetCurrentFolder(const DAXOString& path);

/// Bytes available to unprivileged users on the file system holding `path`;
/// -errno when the file system cannot be queried, -1 when `path` is null or
/// has no locale form to retry with.
long GetDiskFreeSpaceForPath(const char* path);

/// Allocates `size` bytes of process memory; null when `size` is negative or
/// the memory is not available. Release with DeallocSharedMemory.
void* AllocSharedMemory(int size);
void* AllocSharedMemory(unsigned long size);
/// Releases memory from AllocSharedMemory; null is ignored.
void DeallocSharedMemory(void* memory);
/// Backs the pages that hold [start, start + bytes) with memory now, in
/// one system call, instead of one page fault per page at first write (on
/// a virtual machine a fault costs ten times as much per page). The
/// content is unchanged. A hint only: where the system cannot (a kernel
/// before 5.14, memory that is not private and writable), nothing happens
/// and pages come at first touch as usual.
void PrefaultMemory(void* start, std::size_t bytes);

/// The file of the running executable; empty when it cannot be read.
DAXOString GetCurrentBinaryPath();

/// The folder holding the engine library ("libvelquor.so", else
/// "libvelquor.so.4"), found through its symbol "daxo_init"; empty when the
/// library cannot be loaded or lacks the symbol. Loads and unloads the
/// library: call it while no other thread loads or unloads that library.
DAXOString GetRuntimeRootDirectory();

/// The file of the loaded object (executable or shared library) that holds
/// `address`, as the dynamic loader names it; empty when no loaded object
/// holds it.
DAXOString GetSymbolFilePath(void* address);

}  // namespace DAXO

namespace DAXOPrivate {

/// The locale form of a UTF-8 path, owned for the lifetime of the object.
/// Get() is null when the path is null or cannot be converted (Failed() is
/// then true), or when its locale form is byte for byte the same text (a
/// retry would only repeat the attempt).
class DAXOLocalePath {
 public:
  explicit DAXOLocalePath(const char* utf8);
  ~DAXOLocalePath();
  DAXOLocalePath(const DAXOLocalePath&) = delete;
  DAXOLocalePath& operator=(const DAXOLocalePath&) = delete;

  const char* Get() const { return m_path; }
  bool Failed() const { return m_failed; }

 private:
  char* m_path;
  bool m_failed;
};

/// Returns op(path); when failed(result) holds, returns op(locale form of
/// path) instead, if the path has a different locale form. errno is that of
/// the attempt whose result is returned.
template <class Op, class Failed>
auto RetryWithLocalePath(const char* path, Op&& op, Failed&& failed) -> decltype(op(path)) {
  auto result = op(path);
  if (path == nullptr || !failed(result)) return result;
  const int firstErrno = errno;
  DAXOLocalePath local(path);
  if (local.Get() == nullptr) {
    errno = firstErrno;
    return result;
  }
  return op(local.Get());
}

/// The common case: a system call that returns a negative value on failure.
template <class Op>
auto RetryWithLocalePath(const char* path, Op&& op) -> decltype(op(path)) {
  return RetryWithLocalePath(path, static_cast<Op&&>(op), [](auto r) { return r < 0; });
}

}  // namespace DAXOPrivate

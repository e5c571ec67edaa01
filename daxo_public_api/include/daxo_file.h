// Paths and folders: DAXOFile (queries on one path), DAXOFolderBrowser
// (listing a folder) and DAXOFileLocker (an exclusive, process-wide
// reference-counted lock on a file or a directory against other processes).
//
// Paths are UTF-8 and "/"-separated; names that the system rejects are tried
// once more in the locale's character set.
//
// Threading: a DAXOFile or DAXOFolderBrowser is used by one thread at a
// time. Lockers may be used from any thread: the process-wide lock table is
// guarded by one mutex, held only for table updates and the non-blocking
// lock calls. Nothing here blocks, except on the disk.
#pragma once

#include <dirent.h>

#include "daxo_string.h"
#include "daxo_types.h"

class DAXORegExp;

/// What GetFileInfos reports about a path (symbolic links followed).
struct DAXOFileInfos {
  long size = 0;                       // bytes
  DAXOTimestamp modificationTime = 0;  // microseconds since the epoch
  DAXOTimestamp accessTime = 0;        // microseconds since the epoch
  bool isDirectory = false;
  bool isRegularFile = false;
  bool isReadOnly = false;  // the process may not write it
};

class DAXOFile {
 public:
  DAXOFile() = default;
  DAXOFile(const char* path) : m_path(path) {}        // NOLINT: paths convert freely
  DAXOFile(const DAXOString& path) : m_path(path) {}  // NOLINT

  /// Replaces the path.
  void SetLongName(const char* path) { m_path = path; }

  /// The last component ("c" for "a/b/c" and for "a/b/c/"); "" for "/".
  DAXOString GetName() const;
  /// The text after the last "." of the name, without it; "" when the name
  /// has no "." other than a leading one (".profile").
  DAXOString GetExtension() const;
  /// The path without its last component ("a/b" for "a/b/c", "/" for "/a");
  /// "" for a single relative component or for "/".
  DAXOString GetParentFolder() const;
  /// The path as held.
  DAXOString GetFullPath() const { return m_path; }
  /// The path made absolute against the working directory, then compacted.
  DAXOString GetAbsolutePath() const;
  /// The path relative to `folder` (absolute, or relative to the working
  /// directory), e.g. "../x/y"; "." when both name the same place.
  DAXOString GetRelativePath(const char* folder) const;
  /// The path with "." components, repeated "/" and "name/.." pairs removed
  /// by text alone (symbolic links are not resolved): "a/./b//../c" gives
  /// "a/c"; "/.." gives "/"; a relative path keeps its leading ".."; a path
  /// that compacts to nothing gives ".".
  DAXOString CompactPath() const;
  bool IsAbsolute() const { return m_path.Length() > 0 && m_path[0] == '/'; }

  bool Exists() const;
  bool IsReadable() const;
  bool IsWritable() const;
  bool IsDirectory() const;
  /// Removes the file, or the directory if it is empty. Returns success.
  bool Delete();
  /// Fills `infos`; false (untouched) when the path cannot be examined.
  bool GetFileInfos(DAXOFileInfos& infos) const;

  /// Both name the same place by text (absolute and compacted paths equal).
  bool operator==(const DAXOFile& other) const;

 private:
  DAXOString m_path;
};

class DAXOFolderBrowser {
 public:
  DAXOFolderBrowser() = default;
  ~DAXOFolderBrowser();
  DAXOFolderBrowser(const DAXOFolderBrowser&) = delete;
  DAXOFolderBrowser& operator=(const DAXOFolderBrowser&) = delete;

  /// Starts listing `folder` (closing a previous listing). With a pattern (a
  /// regular expression, see DAXORegExp), only entries whose name matches
  /// it are listed. False when the folder cannot be opened or the pattern
  /// does not compile.
  bool Open(const char* folder, const char* pattern = nullptr);
  /// The next entry's name (UTF-8; "." and ".." are skipped) in the order
  /// the system gives; `isFolder`, when given, tells whether it is a
  /// directory. False once the listing is exhausted or closed.
  bool GetNextItem(DAXOString& name, bool* isFolder = nullptr);
  void Close();

 private:
  DIR* m_dir = nullptr;
  DAXOString m_folder;             // locale form used to open, for stat of entries
  DAXORegExp* m_filter = nullptr;  // owned; null: every entry is listed
};

/// The system lock on one path, shared by every locker of the process that
/// holds that path: an open descriptor with an exclusive flock. Created and
/// destroyed by DAXOFileLocker only.
class DAXOFileLockerHandle {
 public:
  virtual ~DAXOFileLockerHandle();
  DAXOFileLockerHandle(const DAXOFileLockerHandle&) = delete;
  DAXOFileLockerHandle& operator=(const DAXOFileLockerHandle&) = delete;

  const DAXOString& GetPath() const { return m_path; }

 protected:
  explicit DAXOFileLockerHandle(const char* path) : m_path(path) {}
  /// Opens the descriptor to lock (close-on-exec); -1 with errno on failure.
  virtual int OpenDescriptor(const char* path) = 0;

 private:
  friend class DAXOFileLocker;
  /// Opens and locks without blocking; false when another process holds it.
  bool Acquire();

  DAXOString m_path;
  int m_fd = -1;
  int m_references = 0;  // guarded by the lock table's mutex
};

/// Locks a file, creating it when missing.
class DAXOFileLockerHandleFile : public DAXOFileLockerHandle {
 public:
  explicit DAXOFileLockerHandleFile(const char* path) : DAXOFileLockerHandle(path) {}

 protected:
  int OpenDescriptor(const char* path) override;
};

/// Locks an existing directory.
class DAXOFileLockerHandleDirectory : public DAXOFileLockerHandle {
 public:
  explicit DAXOFileLockerHandleDirectory(const char* path) : DAXOFileLockerHandle(path) {}

 protected:
  int OpenDescriptor(const char* path) override;
};

/// An exclusive lock on a path against other processes. Inside the process
/// the lock is reference-counted: every successful TryLock (through any
/// locker of the same path) adds a reference and the system lock is released
/// with the last TryUnlock. A locker releases what it still holds when it is
/// destroyed.
class DAXOFileLocker {
 public:
  explicit DAXOFileLocker(const char* path, bool directory = false);
  ~DAXOFileLocker();
  DAXOFileLocker(const DAXOFileLocker&) = delete;
  DAXOFileLocker& operator=(const DAXOFileLocker&) = delete;

  /// Takes one reference on the lock; never blocks. False when another
  /// process holds the lock or the path cannot be opened.
  bool TryLock();
  /// Gives back one reference of this locker; false when it holds none.
  bool TryUnlock();
  const DAXOString& GetPath() const { return m_path; }
  /// True while this locker holds at least one reference.
  explicit operator bool() const { return m_depth > 0; }

 private:
  DAXOString m_path;
  bool m_directory;
  DAXOFileLockerHandle* m_handle = nullptr;  // shared; non-null while m_depth > 0
  int m_depth = 0;                           // references this locker holds
};

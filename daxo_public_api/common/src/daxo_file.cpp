// DAXOFile path queries, DAXOFolderBrowser and the file lockers.
//
// Lockers: the process keeps one table from absolute path to the handle that
// holds the system lock. flock locks belong to an open file description, so
// two descriptors of the same process on one path would exclude each other;
// sharing one handle per path (reference-counted) makes the lock behave as
// one per process. Lock order: the table's mutex, then (while a path is
// converted for the retry) the text conversion's mutexes; nothing else is
// locked and nothing is called out while the table's mutex is held (a leaf
// of daxo_lock_order.h).
#include "daxo_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "daxo_iconv.h"
#include "daxo_mutex.h"
#include "daxo_regexp.h"
#include "daxo_system.h"

namespace {

using DAXOPrivate::RetryWithLocalePath;

// The components of `path` after lexical compaction.
std::vector<std::string> CompactComponents(const char* path, bool absolute) {
  std::vector<std::string> parts;
  const char* p = path;
  while (*p != '\0') {
    const char* slash = std::strchr(p, '/');
    const size_t n = slash != nullptr ? static_cast<size_t>(slash - p) : std::strlen(p);
    const std::string part(p, n);
    if (part.empty() || part == ".") {
      // nothing: repeated separators and "." add no level
    } else if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);  // above the start of a relative path
      }                         // "/.." is "/"
    } else {
      parts.push_back(part);
    }
    p += n;
    if (*p == '/') ++p;
  }
  return parts;
}

DAXOString Join(const std::vector<std::string>& parts, size_t from, bool absolute) {
  std::string text = absolute ? "/" : "";
  for (size_t i = from; i < parts.size(); ++i) {
    if (i > from) text += '/';
    text += parts[i];
  }
  if (text.empty()) text = ".";
  return DAXOString(text.c_str());
}

std::vector<std::string> AbsoluteComponents(const char* path) {
  if (path[0] == '/') return CompactComponents(path, true);
  const DAXOString joined = DAXO::GetCurrentFolder() + "/" + path;
  return CompactComponents(joined, true);
}

// The part of `path` up to (not including) its last component, and where that
// component starts; trailing separators are not a component.
size_t NameStart(const DAXOString& path, int& nameEnd) {
  int end = path.Length();
  while (end > 1 && path[end - 1] == '/') --end;
  nameEnd = end;
  int start = end;
  while (start > 0 && path[start - 1] != '/') --start;
  return static_cast<size_t>(start);
}

int StatPath(const char* path, struct stat& st) {
  return RetryWithLocalePath(path, [&st](const char* p) { return stat(p, &st); });
}

int AccessPath(const char* path, int mode) {
  return RetryWithLocalePath(path, [mode](const char* p) { return access(p, mode); });
}

DAXOTimestamp Microseconds(const struct timespec& ts) {
  return static_cast<DAXOTimestamp>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// ----------------------------------------------------------- the lock table

struct LockTable {
  DAXOMutex mutex;
  std::map<std::string, DAXOFileLockerHandle*> handles DAXO_GUARDED_BY(mutex);
};

LockTable& Locks() {
  // Never destroyed: lockers in static objects may unlock during exit.
  static LockTable* const table = new LockTable;
  return *table;
}

}  // namespace

// ------------------------------------------------------------------ DAXOFile

DAXOString DAXOFile::GetName() const {
  int end = 0;
  const size_t start = NameStart(m_path, end);
  if (end == 1 && m_path[0] == '/') return DAXOString();
  return m_path.Mid(static_cast<int>(start), end - static_cast<int>(start));
}

DAXOString DAXOFile::GetExtension() const {
  const DAXOString name = GetName();
  int dot = -1;
  if (!name.ReverseFind('.', dot) || dot == 0) return DAXOString();
  return name.Tail(dot + 1);
}

DAXOString DAXOFile::GetParentFolder() const {
  int end = 0;
  size_t start = NameStart(m_path, end);
  if (start == 0 || (end == 1 && m_path[0] == '/')) return DAXOString();
  // Drop the separators between the parent and the name, but keep a root.
  while (start > 1 && m_path[static_cast<int>(start) - 1] == '/') --start;
  return m_path.Left(static_cast<int>(start));
}

DAXOString DAXOFile::GetAbsolutePath() const {
  return Join(AbsoluteComponents(m_path), 0, true);
}

DAXOString DAXOFile::GetRelativePath(const char* folder) const {
  const std::vector<std::string> target = AbsoluteComponents(m_path);
  const std::vector<std::string> base = AbsoluteComponents(folder != nullptr ? folder : ".");
  size_t common = 0;
  while (common < target.size() && common < base.size() && target[common] == base[common]) {
    ++common;
  }
  std::vector<std::string> parts(base.size() - common, "..");
  parts.insert(parts.end(), target.begin() + static_cast<long>(common), target.end());
  return Join(parts, 0, false);
}

DAXOString DAXOFile::CompactPath() const {
  const bool absolute = IsAbsolute();
  return Join(CompactComponents(m_path, absolute), 0, absolute);
}

bool DAXOFile::Exists() const {
  struct stat st {};
  return StatPath(m_path, st) == 0;
}

bool DAXOFile::IsReadable() const {
  return AccessPath(m_path, R_OK) == 0;
}
bool DAXOFile::IsWritable() const {
  return AccessPath(m_path, W_OK) == 0;
}
bool DAXOFile::IsDirectory() const {
  return DAXO::IsFolder(m_path);
}

bool DAXOFile::Delete() {
  return RetryWithLocalePath(m_path, [](const char* p) { return remove(p); }) == 0;
}

bool DAXOFile::GetFileInfos(DAXOFileInfos& infos) const {
  struct stat st {};
  if (StatPath(m_path, st) != 0) return false;
  infos.size = static_cast<long>(st.st_size);
  infos.modificationTime = Microseconds(st.st_mtim);
  infos.accessTime = Microseconds(st.st_atim);
  infos.isDirectory = S_ISDIR(st.st_mode);
  infos.isRegularFile = S_ISREG(st.st_mode);
  infos.isReadOnly = !IsWritable();
  return true;
}

bool DAXOFile::operator==(const DAXOFile& other) const {
  return GetAbsolutePath() == other.GetAbsolutePath();
}

// --------------------------------------------------------- DAXOFolderBrowser

DAXOFolderBrowser::~DAXOFolderBrowser() {
  Close();
}

bool DAXOFolderBrowser::Open(const char* folder, const char* pattern) {
  Close();
  if (folder == nullptr) return false;
  if (pattern != nullptr) {
    m_filter = new DAXORegExp(pattern);
    if (!m_filter->Ok()) {
      Close();
      return false;
    }
  }
  const char* opened = nullptr;
  m_dir = RetryWithLocalePath(
      folder,
      [&opened](const char* p) {
        opened = p;
        return opendir(p);
      },
      [](DIR* d) { return d == nullptr; });
  if (m_dir == nullptr) {
    Close();
    return false;
  }
  m_folder = folder;
  if (opened != folder) {
    // Opened through the locale form: entries are examined through it too.
    DAXOPrivate::DAXOLocalePath local(folder);
    if (local.Get() != nullptr) m_folder = local.Get();
  }
  return true;
}

bool DAXOFolderBrowser::GetNextItem(DAXOString& name, bool* isFolder) {
  if (m_dir == nullptr) return false;
  while (const struct dirent* entry = readdir(m_dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    DAXOString utf8;
    // A name with no UTF-8 form is still listed, as its raw bytes.
    if (!DAXOIconv::localeToUTF8(entry->d_name, utf8)) utf8 = entry->d_name;
    if (m_filter != nullptr && !m_filter->Match(utf8, utf8.Length())) continue;
    if (isFolder != nullptr) {
      if (entry->d_type == DT_DIR) {
        *isFolder = true;
      } else if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
        const DAXOString full = m_folder + "/" + entry->d_name;
        struct stat st {};
        *isFolder = stat(full, &st) == 0 && S_ISDIR(st.st_mode);
      } else {
        *isFolder = false;
      }
    }
    name = utf8;
    return true;
  }
  return false;
}

void DAXOFolderBrowser::Close() {
  if (m_dir != nullptr) closedir(m_dir);
  m_dir = nullptr;
  delete m_filter;
  m_filter = nullptr;
}

// ------------------------------------------------------------------ lockers

DAXOFileLockerHandle::~DAXOFileLockerHandle() {
  if (m_fd >= 0) {
    flock(m_fd, LOCK_UN);
    close(m_fd);
  }
}

bool DAXOFileLockerHandle::Acquire() {
  const int fd = RetryWithLocalePath(m_path, [this](const char* p) { return OpenDescriptor(p); });
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  m_fd = fd;
  return true;
}

int DAXOFileLockerHandleFile::OpenDescriptor(const char* path) {
  return open(path, O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
}

int DAXOFileLockerHandleDirectory::OpenDescriptor(const char* path) {
  return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

DAXOFileLocker::DAXOFileLocker(const char* path, bool directory)
    : m_path(path), m_directory(directory) {}

DAXOFileLocker::~DAXOFileLocker() {
  while (m_depth > 0) TryUnlock();
}

bool DAXOFileLocker::TryLock() {
  LockTable& table = Locks();
  if (m_path.Length() == 0) return false;
  const std::string key(DAXOFile(m_path).GetAbsolutePath());
  DAXOMutexGuard guard(table.mutex);
  if (m_handle == nullptr) {
    auto found = table.handles.find(key);
    if (found != table.handles.end()) {
      m_handle = found->second;
    } else {
      DAXOFileLockerHandle* handle =
          m_directory
              ? static_cast<DAXOFileLockerHandle*>(new DAXOFileLockerHandleDirectory(m_path))
              : new DAXOFileLockerHandleFile(m_path);
      if (!handle->Acquire()) {
        delete handle;
        return false;
      }
      table.handles.emplace(key, handle);
      m_handle = handle;
    }
  }
  ++m_handle->m_references;
  ++m_depth;
  return true;
}

bool DAXOFileLocker::TryUnlock() {
  if (m_depth == 0) return false;
  LockTable& table = Locks();
  DAXOMutexGuard guard(table.mutex);
  --m_depth;
  if (--m_handle->m_references == 0) {
    for (auto it = table.handles.begin(); it != table.handles.end(); ++it) {
      if (it->second == m_handle) {
        table.handles.erase(it);
        break;
      }
    }
    delete m_handle;  // releases the system lock
  }
  if (m_depth == 0) m_handle = nullptr;
  return true;
}

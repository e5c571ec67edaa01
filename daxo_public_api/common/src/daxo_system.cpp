// Folders, the running program and its runtime, process memory, and the
// path retry helper.
#include "daxo_system.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "daxo_iconv.h"

// Older C libraries do not name it; kernels before 5.14 refuse it.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace DAXOPrivate {

DAXOLocalePath::DAXOLocalePath(const char* utf8) : m_path(nullptr), m_failed(false) {
  m_path = DAXOIconv::UTF8ToLocale(utf8);
  if (m_path == nullptr) {
    m_failed = true;
  } else if (std::strcmp(m_path, utf8) == 0) {
    DAXOIconv::releaseLocale(m_path);
    m_path = nullptr;
  }
}

DAXOLocalePath::~DAXOLocalePath() {
  DAXOIconv::releaseLocale(m_path);
}

}  // namespace DAXOPrivate

namespace {

using DAXOPrivate::RetryWithLocalePath;

// A path from the operating system (locale text) as a UTF-8 string; empty
// when it cannot be converted.
DAXOString FromLocale(const char* text) {
  DAXOString out;
  DAXOIconv::localeToUTF8(text, out);
  return out;
}

bool MakeOneFolder(const char* path) {
  if (DAXO::IsFolder(path)) return true;
  const int rc = RetryWithLocalePath(path, [](const char* p) { return mkdir(p, 0777); });
  // Another thread or process may have created it meanwhile.
  return rc == 0 || errno == EEXIST;
}

}  // namespace

namespace DAXO {

DAXOString GetTempFolder() {
  return FromLocale("/tmp");
}

DAXOString GetUserHomeFolder() {
  DAXOString home;
  if (DAXOIconv::localeToUTF8(getenv("HOME"), home)) return home;
  return GetTempFolder();
}

bool IsFolder(const char* path) {
  if (path == nullptr) return false;
  struct stat st {};
  const int rc = RetryWithLocalePath(path, [&st](const char* p) { return stat(p, &st); });
  return rc == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolder(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  std::string scratch(path);
  for (char& c : scratch) {
    if (c == '\\') c = '/';
  }
  // Every separator that ends a non-empty component marks a parent to make.
  for (size_t i = 1; i < scratch.size(); ++i) {
    if (scratch[i] == '/' && scratch[i - 1] != '/') {
      scratch[i] = '\0';
      MakeOneFolder(scratch.c_str());
      scratch[i] = '/';
    }
  }
  MakeOneFolder(scratch.c_str());
  return IsFolder(scratch.c_str());
}

DAXOString GetCurrentFolder() {
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return DAXOString();
  DAXOString out = FromLocale(cwd);
  std::free(cwd);
  return out;
}

bool SetCurrentFolder(const DAXOString& path) {
  return RetryWithLocalePath(path, [](const char* p) { return chdir(p); }) == 0;
}

long GetDiskFreeSpaceForPath(const char* path) {
  if (path == nullptr) return -1;
  struct statvfs st {};
  if (statvfs(path, &st) != 0) {
    const int firstErrno = errno;
    DAXOPrivate::DAXOLocalePath local(path);
    if (local.Failed()) return -1;
    if (local.Get() == nullptr || statvfs(local.Get(), &st) != 0) {
      return local.Get() == nullptr ? -firstErrno : -errno;
    }
  }
  // f_bavail counts fragments of f_frsize bytes (f_bsize is only the
  // preferred I/O size).
  return static_cast<long>(st.f_bavail * st.f_frsize);
}

void* AllocSharedMemory(int size) {
  if (size < 0) return nullptr;
  return AllocSharedMemory(static_cast<unsigned long>(size));
}

void* AllocSharedMemory(unsigned long size) {
  return new (std::nothrow) char[size];
}

void DeallocSharedMemory(void* memory) {
  delete[] static_cast<char*>(memory);
}

void PrefaultMemory(void* start, std::size_t bytes) {
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto at = reinterpret_cast<std::uintptr_t>(start);
  if (start == nullptr || bytes == 0 || at + bytes < at) return;
  // Every page holding a byte of the range is mapped, and populating does
  // not change a byte: the pages the range only shares are safe too.
  const std::uintptr_t first = at & ~(page - 1);
  const std::uintptr_t end = (at + bytes + page - 1) & ~(page - 1);
  // Failure (EINVAL on an older kernel, ENOMEM, EFAULT) leaves the pages to
  // be faulted in one by one, as without the call.
  madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

DAXOString GetCurrentBinaryPath() {
  char link[64];
  snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getpid()));
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link, target.data(), target.size());
    if (n < 0) return DAXOString();
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      return FromLocale(target.c_str());
    }
    target.resize(target.size() * 2);  // possibly truncated: grow and read again
  }
}

DAXOString GetRuntimeRootDirectory() {
  void* library = dlopen("libvelquor.so", RTLD_LAZY);
  if (library == nullptr) library = dlopen("libvelquor.so.4", RTLD_LAZY);
  if (library == nullptr) return DAXOString();
  DAXOString root;
  if (void* symbol = dlsym(library, "daxo_init")) {
    const DAXOString file = GetSymbolFilePath(symbol);
    const char* slash = std::strrchr(file, '/');
    if (slash != nullptr) {
      const int length = static_cast<int>(slash - static_cast<const char*>(file));
      root.concat(length == 0 ? 1 : length, file);  // the library in "/" keeps "/"
    }
  }
  dlclose(library);
  return root;
}

DAXOString GetSymbolFilePath(void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return DAXOString();
  return FromLocale(info.dli_fname);
}

}  // namespace DAXO

#include "engine_thread.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "daxo_module.h"

namespace velquor {

namespace {

/// The processors "processor" = -1 gives back, and how many the machine
/// has. Read once when the library is loaded, before any component thread
/// could have been pinned.
struct Processors {
  cpu_set_t all{};
  bool known = false;
  int configured = 0;
};

Processors ReadProcessors() {
  Processors p;
  CPU_ZERO(&p.all);
  p.known = sched_getaffinity(0, sizeof p.all, &p.all) == 0;
  const long configured = sysconf(_SC_NPROCESSORS_CONF);
  p.configured = static_cast<int>(std::clamp<long>(configured, 1, CPU_SETSIZE));
  return p;
}

const Processors g_processors = ReadProcessors();

std::int64_t Nanoseconds(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

/// The number after `key` in the text, 0 when the key is absent.
long Field(const char* text, const char* key) {
  const char* at = std::strstr(text, key);
  return at != nullptr ? std::strtol(at + std::strlen(key), nullptr, 10) : 0;
}

}  // namespace

EngineThread::EngineThread(std::string who, ThreadWarning warn)
    : m_who(std::move(who)),
      m_warn(std::move(warn)),
      m_handle(pthread_self()),
      m_tid(static_cast<int>(gettid())) {
  m_hasCpuClock = pthread_getcpuclockid(m_handle, &m_cpuClock) == 0;
  std::int64_t cpu = 0;
  std::int64_t wall = 0;
  Sample(cpu, wall);
  MutexLock lock(m_windowLock);
  m_windowCpu = cpu;
  m_windowWall = wall;
}

bool EngineThread::Sample(std::int64_t& cpu, std::int64_t& wall) const {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  wall = Nanoseconds(now);
  timespec used{};
  if (!m_hasCpuClock || clock_gettime(m_cpuClock, &used) != 0) return false;
  cpu = Nanoseconds(used);
  return true;
}

long EngineThread::GetContextSwitches() {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/status", m_tid);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  // The counters are the last lines of a file of about 1.5 KB.
  char text[8192];
  std::size_t size = 0;
  while (size < sizeof text - 1) {
    const ssize_t n = read(fd, text + size, sizeof text - 1 - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  close(fd);
  text[size] = '\0';
  return Field(text, "\nvoluntary_ctxt_switches:") + Field(text, "\nnonvoluntary_ctxt_switches:");
}

int EngineThread::GetCPULoad() {
  std::int64_t cpu = 0;
  std::int64_t wall = 0;
  if (!Sample(cpu, wall)) return 0;
  MutexLock lock(m_windowLock);
  // A reader that sampled before another one but locked after it sees a
  // negative span: it repeats the load that reader computed.
  const std::int64_t span = wall - m_windowWall;
  if (span < kMinLoadWindow) return m_lastLoad;
  const double load = static_cast<double>(cpu - m_windowCpu) * 10000.0 / static_cast<double>(span);
  m_lastLoad = static_cast<int>(std::clamp(load, 0.0, 10000.0));
  m_windowCpu = cpu;
  m_windowWall = wall;
  return m_lastLoad;
}

void EngineThread::SetProcessor(int processor) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (processor == -1) {
    if (!g_processors.known) return;
    set = g_processors.all;
  } else if (processor < 0 || processor >= g_processors.configured) {
    Warn(m_who + ": processor " + std::to_string(processor) +
         " is not a processor of this machine (0 to " +
         std::to_string(g_processors.configured - 1) + ", or -1 for every one); thread " +
         std::to_string(m_tid) + " keeps its processors.");
    return;
  } else {
    CPU_SET(processor, &set);
  }
  const int error = pthread_setaffinity_np(m_handle, sizeof set, &set);
  if (error != 0) {
    Warn(m_who + ": thread " + std::to_string(m_tid) + " cannot run on processor " +
         std::to_string(processor) + " (" + std::system_category().message(error) +
         "); it keeps its processors.");
  }
}

void EngineThread::SetPriority(int priority) {
  DAXO::SetThreadPriority(m_handle, m_tid, priority);
}

void EngineThread::Warn(const std::string& text) const {
  if (!m_warn) return;
  try {
    m_warn(text);
  } catch (...) {
    // A warning that cannot be delivered changes nothing.
  }
}

ModuleThreadListing::ModuleThreadListing(DAXOModule& module, std::string who, ThreadWarning warn)
    : m_module(module), m_thread(std::move(who), std::move(warn)) {
  try {
    m_listed = m_module.EngineThreadBegins(&m_thread);
  } catch (...) {
    m_listed = false;
  }
}

void ModuleThreadListing::End() {
  if (!m_listed) return;
  m_listed = false;
  try {
    m_module.EngineThreadEnds(&m_thread);
  } catch (...) {
    // The SDK's operation does not throw; nothing to undo if one did.
  }
}

}  // namespace velquor

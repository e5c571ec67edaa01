// Thread creation and the per-thread helpers of the DAXO namespace.
#include "daxo_thread.h"

#include "daxo_kernel.h"

#include <cxxabi.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <unordered_set>

/// The block handed to a new thread: what to run. Owned by the new thread
/// once pthread_create has succeeded, by the creator before that.
struct DAXOPosixCreateThread {
  void* (*function)(void*);
  void* argument;
};

namespace {

/// Gives the calling thread a locale with a "C" numeric category for the rest
/// of its life. The locale object is freed on thread exit, also when the
/// thread ends through pthread_exit (thread_local destructors run then too).
class NumericCLocale {
 public:
  NumericCLocale() {
    locale_t base = duplocale(LC_GLOBAL_LOCALE);
    if (base == nullptr) return;
    m_locale = newlocale(LC_NUMERIC_MASK, "C", base);
    if (m_locale == nullptr) {
      freelocale(base);  // newlocale leaves its base alone when it fails
      return;
    }
    uselocale(m_locale);
  }
  ~NumericCLocale() {
    if (m_locale == nullptr) return;
    uselocale(LC_GLOBAL_LOCALE);
    freelocale(m_locale);
  }
  NumericCLocale(const NumericCLocale&) = delete;
  NumericCLocale& operator=(const NumericCLocale&) = delete;

 private:
  locale_t m_locale = nullptr;
};

void* ThreadEntry(void* p) {
  auto* block = static_cast<DAXOPosixCreateThread*>(p);
  void* (*function)(void*) = block->function;
  void* argument = block->argument;
  delete block;
  thread_local NumericCLocale numericLocale;
  // An exception leaving a thread function would end the whole process.
  try {
    return function(argument);
  } catch (abi::__forced_unwind&) {
    throw;  // pthread_exit and cancellation unwind through here
  } catch (...) {
    DAXO::ReportError("A thread ended with an exception that its function did not catch.");
    return nullptr;
  }
}

// Joinable threads not joined yet. pthread_join on any other identifier
// (unknown, detached, joined already) is undefined behaviour, so JoinThread
// joins only what it finds here, and takes it out first so that two joiners
// of one thread cannot both get through.
// A std::mutex, constant-initialised, so usable from static constructors;
// not annotated (StartThread takes it only for a joinable thread, which the
// thread-safety analysis cannot follow).
std::mutex g_joinableLock;
std::unordered_set<pthread_t> g_joinable;  // guarded by g_joinableLock

bool StartThread(void* (*fn)(void*), void* arg, bool joinable, pthread_t* out) {
  if (fn == nullptr) return false;
  auto* block = new (std::nothrow) DAXOPosixCreateThread{fn, arg};
  if (block == nullptr) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    delete block;
    return false;
  }
  pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
  pthread_attr_setdetachstate(&attr, joinable ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  // Held across the creation: the new thread's own identifier must be known
  // as joinable before anybody (the thread itself included) can join it.
  std::unique_lock<std::mutex> lock(g_joinableLock, std::defer_lock);
  if (joinable) lock.lock();
  const int rc = pthread_create(&thread, &attr, ThreadEntry, block);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete block;
    return false;
  }
  if (joinable) g_joinable.insert(thread);
  if (out != nullptr) *out = thread;
  return true;
}

}  // namespace

bool DAXO::CreateThread(void* (*fn)(void*), void* arg) {
  return StartThread(fn, arg, false, nullptr);
}

bool DAXO::CreateJoinableThread(void* (*fn)(void*), void* arg) {
  return StartThread(fn, arg, true, nullptr);
}

bool DAXO::CreateJoinableThread(void* (*fn)(void*), void* arg, DAXOThreadId* id) {
  pthread_t thread;
  if (!StartThread(fn, arg, true, &thread)) return false;
  if (id != nullptr) *id = static_cast<DAXOThreadId>(thread);
  return true;
}

bool DAXO::JoinThread(unsigned long id) {
  const auto thread = static_cast<pthread_t>(id);
  if (pthread_equal(thread, pthread_self())) return false;
  {
    std::lock_guard<std::mutex> lock(g_joinableLock);
    if (g_joinable.erase(thread) == 0) return false;
  }
  const int rc = pthread_join(thread, nullptr);
  if (rc != 0 && rc != ESRCH) {
    // Still joinable (e.g. two threads joining each other): a later call may.
    std::lock_guard<std::mutex> lock(g_joinableLock);
    g_joinable.insert(thread);
  }
  return rc == 0;
}

DAXOThreadId DAXO::GetCurrentThreadId() {
  return static_cast<DAXOThreadId>(pthread_self());
}

int DAXO::GetCurrentKernelThreadId() {
  return static_cast<int>(gettid());
}

int DAXO::CurrentTID() {
  return static_cast<int>(gettid());
}

int DAXO::CurrentPID() {
  return static_cast<int>(getpid());
}

void DAXO::SetCurrentThreadName(const char* name) {
  if (name == nullptr) return;
  char shortName[16];
  std::strncpy(shortName, name, 15);
  shortName[15] = '\0';
  pthread_setname_np(pthread_self(), shortName);
}

int DAXO::SetCurrentThreadPriority(int priority) {
  return SetThreadPriority(pthread_self(), static_cast<int>(gettid()), priority);
}

int DAXO::SetThreadPriority(DAXOThreadId thread, int kernelTid, int priority) {
  int policy = 0;
  sched_param param{};
  if (pthread_getschedparam(thread, &policy, &param) != 0) return 0;
  const int min = sched_get_priority_min(policy);
  const int max = sched_get_priority_max(policy);
  // Outside 0..255 the formula leaves the policy's range (or overflows).
  if (priority < 0) priority = 0;
  if (priority > 255) priority = 255;
  param.sched_priority = min + ((max - min) * priority) / 255;
  pthread_setschedparam(thread, policy, &param);
  if (min == max) {
    // Time-sharing: the policy's single priority says nothing; the nice
    // value of this thread (Linux schedules threads one by one) does.
    const int nice = std::clamp((128 - priority) * 20 / 128, -19, 19);
    setpriority(PRIO_PROCESS, static_cast<id_t>(kernelTid), nice);
  }
  return 1;
}

void DAXO::ReleaseCurrentThread() {
  sched_yield();
}

void DAXO::Sleep(DAXODelay us) {
  if (us < 0) return;
  timespec request{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
  timespec remaining{};
  while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}

void DAXO::Wait4AWhile() {
  const timespec request{0, 10 * 1000 * 1000};
  nanosleep(&request, nullptr);
}

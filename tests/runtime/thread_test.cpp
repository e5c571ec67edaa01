// The DAXO thread functions: starting and joining, identities, names,
// priorities, the numeric locale of new threads, sleeping.
#include "daxo_thread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "threads_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// glibc's newlocale leaks its copy of the search path whenever LOCPATH is
// set, which the locale test below does when it builds its own locale.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:__argz_add_sep\n";
}
#endif

namespace {

using daxo_test::kPatience;
using daxo_test::MonotonicNow;

/// Runs `body` on a thread started by DAXO::CreateJoinableThread and joins it.
template <class F>
void RunInDaxoThread(F body) {
  DAXOThreadId id = 0;
  auto trampoline = [](void* p) -> void* {
    (*static_cast<F*>(p))();
    return nullptr;
  };
  ASSERT_TRUE(DAXO::CreateJoinableThread(trampoline, &body, &id));
  ASSERT_TRUE(DAXO::JoinThread(id));
}

TEST(DAXOThreads, DetachedAndJoinableThreadsRunTheirFunction) {
  DAXOEvent ran;
  ASSERT_TRUE(DAXO::CreateThread(
      [](void* p) -> void* {
        static_cast<DAXOEvent*>(p)->Set();
        return nullptr;
      },
      &ran));
  EXPECT_EQ(ran.Wait(kPatience), 0);

  // A thread started by the id-less form is joined through the id it reports.
  struct Report {
    DAXOThreadId id = 0;
    DAXOEvent ready;
  } report;
  ASSERT_TRUE(DAXO::CreateJoinableThread(
      [](void* p) -> void* {
        auto* r = static_cast<Report*>(p);
        r->id = DAXO::GetCurrentThreadId();
        r->ready.Set();
        return nullptr;
      },
      &report));
  ASSERT_EQ(report.ready.Wait(kPatience), 0);
  EXPECT_TRUE(DAXO::JoinThread(report.id));

  DAXOThreadId id = 0;
  DAXOEvent done;
  ASSERT_TRUE(DAXO::CreateJoinableThread(
      [](void* p) -> void* {
        static_cast<DAXOEvent*>(p)->Set();
        return nullptr;
      },
      &done, &id));
  EXPECT_TRUE(DAXO::JoinThread(id));
  EXPECT_TRUE(done.State()) << "JoinThread returns after the function ended";
  EXPECT_FALSE(DAXO::JoinThread(DAXO::GetCurrentThreadId())) << "a thread cannot join itself";
  EXPECT_FALSE(DAXO::CreateThread(nullptr, nullptr));
}

TEST(DAXOThreads, NamesAreCutToFifteenCharacters) {
  std::string longName, shortName;
  RunInDaxoThread([&] {
    char buffer[64] = {};
    DAXO::SetCurrentThreadName("abcdefghijklmnopqrst");
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    longName = buffer;
    DAXO::SetCurrentThreadName("worker");
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    shortName = buffer;
  });
  EXPECT_EQ(longName, "abcdefghijklmno");
  EXPECT_EQ(shortName, "worker");
}

TEST(DAXOThreads, PriorityMapsOntoThePolicyRange) {
  int result = -1, priority = -1;
  RunInDaxoThread([&] {
    int policy = 0;
    sched_param param{};
    result = DAXO::SetCurrentThreadPriority(255);
    pthread_getschedparam(pthread_self(), &policy, &param);
    priority = param.sched_priority;
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(priority, 0) << "the default policy has the single priority 0";

  // A real-time policy makes the mapping observable, when allowed here.
  int lowest = -1, highest = -1, middle = -1;
  bool allowed = false;
  RunInDaxoThread([&] {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) != 0) return;
    allowed = true;
    int policy = 0;
    DAXO::SetCurrentThreadPriority(255);
    pthread_getschedparam(pthread_self(), &policy, &param);
    highest = param.sched_priority;
    DAXO::SetCurrentThreadPriority(128);
    pthread_getschedparam(pthread_self(), &policy, &param);
    middle = param.sched_priority;
    DAXO::SetCurrentThreadPriority(0);
    pthread_getschedparam(pthread_self(), &policy, &param);
    lowest = param.sched_priority;
  });
  if (!allowed) GTEST_SKIP() << "real-time scheduling is not permitted here";
  const int min = sched_get_priority_min(SCHED_RR);
  const int max = sched_get_priority_max(SCHED_RR);
  EXPECT_EQ(lowest, min);
  EXPECT_EQ(highest, max);
  EXPECT_EQ(middle, min + ((max - min) * 128) / 255);
}

/// A locale whose decimal separator is a comma, for one test: the installed
/// one, or one built with localedef into a scratch folder (found through
/// LOCPATH) that is removed again with this object.
class CommaLocale {
 public:
  static constexpr const char* kName = "de_DE.UTF-8";

  CommaLocale() {
    if (Present()) {
      m_available = true;
      return;
    }
    if (access("/usr/bin/localedef", X_OK) != 0) return;
    char folder[] = "/tmp/daxo_locale_XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    m_folder = folder;
    const std::string command =
        "/usr/bin/localedef -i de_DE -f UTF-8 " + m_folder + "/" + kName + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    setenv("LOCPATH", folder, 1);
    m_available = Present();
  }
  ~CommaLocale() {
    if (m_folder.empty()) return;
    unsetenv("LOCPATH");
    std::filesystem::remove_all(m_folder);
  }
  bool Available() const { return m_available; }

 private:
  static bool Present() {
    locale_t probe = newlocale(LC_NUMERIC_MASK, kName, static_cast<locale_t>(0));
    if (probe == static_cast<locale_t>(0)) return false;
    freelocale(probe);
    return true;
  }
  std::string m_folder;
  bool m_available = false;
};

TEST(DAXOThreads, NewThreadsFormatNumbersWithAPointWhateverTheGlobalLocale) {
  CommaLocale comma;
  if (!comma.Available()) GTEST_SKIP() << CommaLocale::kName << " is not available";
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, CommaLocale::kName), nullptr);

  auto format = [] {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
    return std::string(buffer);
  };
  std::string plain, daxo;
  double parsed = 0;
  std::thread([&] { plain = format(); }).join();
  RunInDaxoThread([&] {
    daxo = format();
    parsed = std::strtod("2.5", nullptr);
  });
  std::setlocale(LC_NUMERIC, previous.c_str());

  EXPECT_EQ(plain, "1,5") << "the global locale really uses a comma";
  EXPECT_EQ(daxo, "1.5");
  EXPECT_EQ(parsed, 2.5);
}

TEST(DAXOThreads, SleepLastsAtLeastTheDelayEvenWhenSignalled) {
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: nanosleep returns EINTR
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  DAXOEvent aboutToSleep;
  long elapsed = 0;
  std::thread sleeper([&] {
    aboutToSleep.Set();
    const long begin = MonotonicNow();
    DAXO::Sleep(200'000);
    elapsed = MonotonicNow() - begin;
  });
  ASSERT_EQ(aboutToSleep.Wait(kPatience), 0);
  pthread_kill(sleeper.native_handle(), SIGUSR1);
  sleeper.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(elapsed, 200'000);
  EXPECT_LT(elapsed, 5'000'000);

  const long begin = MonotonicNow();
  DAXO::Wait4AWhile();
  DAXO::Sleep(-5);
  EXPECT_GE(MonotonicNow() - begin, 10'000);
}

}  // namespace

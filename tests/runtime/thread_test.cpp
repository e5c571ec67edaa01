// The DAXO thread functions: starting and joining, identities, names,
// priorities, the numeric locale of new threads, sleeping.
#include "daxo_thread.h"

#include <pthread.h>
#include <sys/resource.h>

#include <clocale>
#include <csignal>

#include "runtime_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// glibc's newlocale leaks its copy of the search path whenever LOCPATH is
// set, which the locale test below does when it builds its own locale.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:__argz_add_sep\n";
}
#endif

namespace {

using daxo_test::Elapsed;
using daxo_test::kPatience;

void* SetEvent(void* event) {
  static_cast<DAXOEvent*>(event)->Set();
  return nullptr;
}

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

TEST(DAXOThreads, DetachedAndJoinableThreadsRunTheirFunctionAndSurviveItsException) {
  DAXOEvent ran, done;
  ASSERT_TRUE(DAXO::CreateThread(SetEvent, &ran));
  EXPECT_EQ(ran.Wait(kPatience), 0);

  DAXOThreadId id = 0;
  ASSERT_TRUE(DAXO::CreateJoinableThread(SetEvent, &done, &id));
  EXPECT_TRUE(DAXO::JoinThread(id));
  EXPECT_TRUE(done.State()) << "JoinThread returns after the function ended";
  EXPECT_FALSE(DAXO::JoinThread(DAXO::GetCurrentThreadId())) << "a thread cannot join itself";
  EXPECT_FALSE(DAXO::JoinThread(id)) << "a joined thread is not joined twice";
  EXPECT_FALSE(DAXO::JoinThread(0x1234)) << "an unknown identifier is refused";
  EXPECT_FALSE(DAXO::CreateThread(nullptr, nullptr));

  // A thread started by the id-less form is joined through the id it reports.
  struct Report {
    DAXOThreadId id = 0;
    DAXOEvent ready;
  } report;
  auto reportId = [](void* p) -> void* {
    static_cast<Report*>(p)->id = DAXO::GetCurrentThreadId();
    return SetEvent(&static_cast<Report*>(p)->ready);
  };
  ASSERT_TRUE(DAXO::CreateJoinableThread(reportId, &report));
  ASSERT_EQ(report.ready.Wait(kPatience), 0);
  EXPECT_TRUE(DAXO::JoinThread(report.id));

  // An exception leaving the function ends only that thread.
  ASSERT_TRUE(DAXO::CreateJoinableThread([](void*) -> void* { throw DAXO::ModuleDied; }, 0, &id));
  EXPECT_TRUE(DAXO::JoinThread(id)) << "the process is still here and the thread ended";
}

TEST(DAXOThreads, NamesAreCutToFifteenCharacters) {
  char longName[64] = {}, shortName[64] = {};
  RunInDaxoThread([&] {
    DAXO::SetCurrentThreadName("abcdefghijklmnopqrst");
    pthread_getname_np(pthread_self(), longName, sizeof longName);
    DAXO::SetCurrentThreadName("worker");
    pthread_getname_np(pthread_self(), shortName, sizeof shortName);
  });
  EXPECT_STREQ(longName, "abcdefghijklmno");
  EXPECT_STREQ(shortName, "worker");
}

/// The calling thread's priority after SetCurrentThreadPriority(level).
int PriorityAfterSetting(int level) {
  DAXO::SetCurrentThreadPriority(level);
  int policy = 0;
  sched_param param{};
  pthread_getschedparam(pthread_self(), &policy, &param);
  return param.sched_priority;
}

TEST(DAXOThreads, UnderTimeSharingALowerPriorityIsAHigherNiceValue) {
  if (getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())) != 0) {
    GTEST_SKIP() << "the tests run with a nice value already";
  }
  // Each in a thread of its own: a raised nice value cannot be lowered again
  // without privileges.
  const auto niceAfter = [](int level) {
    int nice = -100;
    RunInDaxoThread([&] {
      DAXO::SetCurrentThreadPriority(level);
      nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    });
    return nice;
  };
  EXPECT_EQ(niceAfter(128), 0);
  EXPECT_EQ(niceAfter(64), 10);
  EXPECT_EQ(niceAfter(0), 19);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), 0)
      << "only the calling thread changes";
}

TEST(DAXOThreads, PriorityMapsOntoThePolicyRange) {
  int result = -1, priority = -1;
  RunInDaxoThread([&] {
    result = DAXO::SetCurrentThreadPriority(255);
    priority = PriorityAfterSetting(255);
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(priority, 0) << "the default policy has the single priority 0";

  // A real-time policy makes the mapping observable, when allowed here.
  int lowest = -1, highest = -1, middle = -1;
  bool allowed = false;
  RunInDaxoThread([&] {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    allowed = pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
    if (!allowed) return;
    highest = PriorityAfterSetting(255);
    middle = PriorityAfterSetting(128);
    lowest = PriorityAfterSetting(0);
  });
  if (!allowed) GTEST_SKIP() << "real-time scheduling is not permitted here";
  const int min = sched_get_priority_min(SCHED_RR);
  const int max = sched_get_priority_max(SCHED_RR);
  EXPECT_EQ(lowest, min);
  EXPECT_EQ(highest, max);
  EXPECT_EQ(middle, min + ((max - min) * 128) / 255);
}

TEST(DAXOThreads, NewThreadsFormatNumbersWithAPointWhateverTheGlobalLocale) {
  // A locale with a decimal comma: the installed one, or one built with
  // localedef into a scratch folder found through LOCPATH.
  const char* const kComma = "de_DE.UTF-8";
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  char folder[] = "/tmp/daxo_locale_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string build = "/usr/bin/localedef -i de_DE -f UTF-8 " + std::string(folder) + "/" +
                            kComma + " >/dev/null 2>&1";
  daxo_test::ScopedEnv env;
  if (std::setlocale(LC_NUMERIC, kComma) == nullptr && access("/usr/bin/localedef", X_OK) == 0 &&
      std::system(build.c_str()) == 0) {
    env.Set("LOCPATH", folder);
    std::setlocale(LC_NUMERIC, kComma);
  }
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
  std::filesystem::remove_all(folder);

  if (plain != "1,5") GTEST_SKIP() << kComma << " is not available";
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
    elapsed = Elapsed([] { DAXO::Sleep(200'000); });
  });
  ASSERT_EQ(aboutToSleep.Wait(kPatience), 0);
  pthread_kill(sleeper.native_handle(), SIGUSR1);
  sleeper.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GE(elapsed, 200'000);
  EXPECT_LT(elapsed, 5'000'000);

  EXPECT_GE(Elapsed([] {
              DAXO::Wait4AWhile();
              DAXO::Sleep(-5);
            }),
            10'000);
}

}  // namespace

// The DAXO thread functions: starting and joining, identities, names,
// priorities, the numeric locale of new threads, sleeping.
#include "daxo_thread.h"

#include <pthread.h>
#include <sys/resource.h>

#include <clocale>
#include <csignal>
#include <optional>
#include <utility>

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

/// The nice value and the scheduling priority of a new thread put under
/// `policy` after SetCurrentThreadPriority(level); none when the policy is
/// not permitted here. A thread of its own each time: a raised nice value
/// cannot be lowered again without privileges.
std::optional<std::pair<int, int>> After(int level, int policy = SCHED_OTHER) {
  std::optional<std::pair<int, int>> result;
  RunInDaxoThread([&] {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(policy);
    if (pthread_setschedparam(pthread_self(), policy, &param) != 0) return;
    EXPECT_EQ(DAXO::SetCurrentThreadPriority(level), 1);
    pthread_getschedparam(pthread_self(), &policy, &param);
    result = {getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), param.sched_priority};
  });
  return result;
}

TEST(DAXOThreads, PriorityMapsOntoTheNiceValueOrThePolicyRange) {
  if (getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())) != 0) {
    GTEST_SKIP() << "the tests run with a nice value already";
  }
  // Time-sharing has the single priority 0: a lower level is a higher nice value.
  EXPECT_EQ(After(128), std::pair(0, 0));
  EXPECT_EQ(After(64), std::pair(10, 0));
  EXPECT_EQ(After(0), std::pair(19, 0));
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), 0)
      << "only the calling thread changes";

  if (!After(0, SCHED_RR)) GTEST_SKIP() << "real-time scheduling is not permitted here";
  const int min = sched_get_priority_min(SCHED_RR);
  const int max = sched_get_priority_max(SCHED_RR);
  EXPECT_EQ(After(0, SCHED_RR)->second, min);
  EXPECT_EQ(After(128, SCHED_RR)->second, min + ((max - min) * 128) / 255);
  EXPECT_EQ(After(255, SCHED_RR)->second, max);
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
  std::thread([&] { plain = format(); }).join();
  RunInDaxoThread([&] { daxo = format(); });
  std::setlocale(LC_NUMERIC, previous.c_str());
  std::filesystem::remove_all(folder);

  if (plain != "1,5") GTEST_SKIP() << kComma << " is not available";
  EXPECT_EQ(daxo, "1.5");
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

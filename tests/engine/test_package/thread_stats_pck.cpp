// A package for the thread statistics tests: "ThreadStatsSpinner", a
// threaded component whose Core burns its CPU, "ThreadStatsSleeper", a
// threaded component whose Core blocks on an event and whose Birth starts an
// extra thread (CreateThread) that blocks until asked something, and a probe
// (group "VelquorThreadStatsProbe") through which the tests reach them.
//
// Threading: the counters and answers of every instance are guarded by
// g_lock; g_changed is notified after each change.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "daxo_component.h"
#include "daxo_definitions.h"
#include "daxo_package.h"
#include "test_pck_support.h"
#include "thread_stats_pck_probe.h"

namespace {

class Spinner : public DAXOComponent {
 public:
  Spinner(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}

  /// Spins for 2 ms of its own CPU time (or until asked to die).
  void Core() override {
    const long begin = OwnCpu();
    long now = begin;
    while (now - begin < 2'000'000 && (State() & DAXO::DyingState) == 0) now = OwnCpu();
    {
      std::lock_guard<std::mutex> guard(g_lock);
      burned = now;
    }
    g_changed.notify_all();
  }

  long burned = 0;  // guarded by g_lock: the main thread's CPU time, ns

 private:
  static long OwnCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1'000'000'000L + t.tv_nsec;
  }
};

class Sleeper : public DAXOComponent {
 public:
  Sleeper(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}

  struct Where {
    int cpu = -1;
    cpu_set_t mask{};
    int nice = 0;
  };

  void Birth() override { CreateThread(&Sleeper::HelperEntry, this); }

  /// Blocks a millisecond on its request event (answering when it was set).
  void Core() override {
    if (requests[0].Wait(1000) == 0) {
      requests[0].Reset();
      Answer(0);
    }
    {
      std::lock_guard<std::mutex> guard(g_lock);
      ++cores;
    }
    g_changed.notify_all();
  }

  DAXOEvent requests[2];  // set by the probe: answer where you run
  long cores = 0;         // guarded by g_lock
  long answers[2] = {0, 0};
  Where where[2];  // guarded by g_lock

 private:
  static void HelperEntry(void* self) { static_cast<Sleeper*>(self)->Helper(); }

  /// The extra thread: answers requests until the component dies.
  void Helper() {
    for (;;) {
      DAXOEvent* events[2] = {&requests[1], &DieEvent()};
      if (DAXOEvent::Wait(2, events, -1) != 0) return;
      requests[1].Reset();
      Answer(1);
    }
  }

  void Answer(int which) {
    Where here;
    here.cpu = sched_getcpu();
    pthread_getaffinity_np(pthread_self(), sizeof here.mask, &here.mask);
    here.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    {
      std::lock_guard<std::mutex> guard(g_lock);
      where[which] = here;
      ++answers[which];
    }
    g_changed.notify_all();
  }
};

DAXOComponentDefinition spinner = Threaded("ThreadStatsSpinner", &New<Spinner>);
DAXOComponentDefinition sleeper = Threaded("ThreadStatsSleeper", &New<Sleeper>);

long Get(DAXOComponent* component, const char* name) {
  try {
    long value = 0;
    component->Get(*component->Property(name), value);
    return value;
  } catch (...) {
    return velquor::test::kReadFailed;
  }
}

bool Set(DAXOComponent* component, const char* name, long value) {
  try {
    component->Set(*component->Property(name), value);
    return true;
  } catch (...) {
    return false;
  }
}

bool WaitSpinnerBurned(DAXOComponent* component, long ns) {
  auto* s = static_cast<Spinner*>(component);
  return WaitUntil([&] { return s->burned >= ns; });
}

long SleeperCores(DAXOComponent* component) {
  std::lock_guard<std::mutex> guard(g_lock);
  return static_cast<Sleeper*>(component)->cores;
}

bool WaitSleeperCores(DAXOComponent* component, long n) {
  auto* s = static_cast<Sleeper*>(component);
  return WaitUntil([&] { return s->cores >= n; });
}

bool AskWhere(DAXOComponent* component, int which, int* cpu, cpu_set_t* mask, int* nice) {
  auto* s = static_cast<Sleeper*>(component);
  long before = 0;
  {
    std::lock_guard<std::mutex> guard(g_lock);
    before = s->answers[which];
  }
  s->requests[which].Set();
  if (!WaitUntil([&] { return s->answers[which] > before; })) return false;
  std::lock_guard<std::mutex> guard(g_lock);
  *cpu = s->where[which].cpu;
  *mask = s->where[which].mask;
  *nice = s->where[which].nice;
  return true;
}

VelquorThreadStatsProbe probe{&Get,     &Set, &WaitSpinnerBurned, &SleeperCores, &WaitSleeperCores,
                              &AskWhere};

}  // namespace

DAXO_DECLARE_MODULE(velquor_thread_stats_spinner, "DAXOComponent", "ThreadStatsSpinner", "1.0.0",
                    &spinner);
DAXO_DECLARE_MODULE(velquor_thread_stats_sleeper, "DAXOComponent", "ThreadStatsSleeper", "1.0.0",
                    &sleeper);
DAXO_DECLARE_MODULE(velquor_thread_stats_probe, "VelquorThreadStatsProbe", "probe", "1.0.0",
                    &probe);

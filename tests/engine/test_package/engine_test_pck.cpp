// A package for the engine's tests: component models in "DAXOComponent" (two
// bare records as the loader reads them, and "EngineTestTicker", a threaded
// component the diagram tests run) and a probe in a group of its own through
// which the tests see inside the package.
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "daxo_component.h"
#include "daxo_definitions.h"
#include "daxo_kernel.h"
#include "daxo_package.h"
#include "engine_test_pck_probe.h"
#include "test_pck_support.h"

namespace {

DAXOComponentDefinition modelA{"EngineTestModelA", "1.2.0"};
DAXOComponentDefinition modelB{"EngineTestModelB", "0.9.1"};

long g_cores = 0;   // guarded by g_lock
long g_deaths = 0;  // guarded by g_lock
int g_stuck = 0;    // Cores held by mode 4 now; guarded by g_lock
std::atomic<int> g_mode{0};

class Ticker : public DAXOComponent {
 public:
  Ticker(const char* name, DAXOComponentDefinition& definition) : DAXOComponent(name, definition) {}

  void Core() override {
    {
      std::lock_guard<std::mutex> guard(g_lock);
      ++g_cores;
    }
    g_changed.notify_all();
    switch (g_mode.load()) {
      case 2:
        g_mode = 0;
        DAXOPrivate::kernel->Shutdown();
        break;
      case 4: {
        std::unique_lock<std::mutex> guard(g_lock);
        ++g_stuck;
        g_changed.notify_all();
        g_changed.wait(guard, [] { return g_mode.load() != 4; });
        --g_stuck;
        return;
      }
      default:
        break;
    }
    DieEvent().Wait(1000);
  }
  void Death() override {
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_deaths;
  }
};

DAXOComponent* NewTicker(const char* name, DAXOComponentDefinition& definition) {
  return new Ticker(name, definition);
}

DAXOComponentDefinition ticker = [] {
  DAXOComponentDefinition d{"EngineTestTicker", "1.0.0", &NewTicker};
  d.kind = DAXO::Threaded;
  d.threaded = true;
  d.priority = 128;
  return d;
}();

long Locked(const long& value) {
  std::lock_guard<std::mutex> guard(g_lock);
  return value;
}

VelquorEngineTestProbe probe{[] { return static_cast<void*>(DAXOPrivate::kernel); },
                             [] { return Locked(g_cores); },
                             [](long n) { return WaitUntil([n] { return g_cores >= n; }); },
                             [] { return Locked(g_deaths); },
                             [](int mode) {
                               {
                                 std::lock_guard<std::mutex> guard(g_lock);
                                 g_mode = mode;
                               }
                               g_changed.notify_all();
                             },
                             [] { return WaitUntil([] { return g_stuck > 0; }); }};

}  // namespace

DAXO_DECLARE_MODULE(velquor_engine_test_model_a, "DAXOComponent", "EngineTestModelA", "1.2.0",
                    &modelA);
DAXO_DECLARE_MODULE(velquor_engine_test_model_b, "DAXOComponent", "EngineTestModelB", "0.9.1",
                    &modelB);
DAXO_DECLARE_MODULE(velquor_engine_test_ticker, "DAXOComponent", "EngineTestTicker", "1.0.0",
                    &ticker);
DAXO_DECLARE_MODULE(velquor_engine_test_probe, "VelquorEngineTestProbe", "probe", "1.0.0", &probe);

// A package for the engine's listener and clock tests: "ListenerProbe", a
// threaded component holding a time-state and run/shutdown listener that
// logs every callback and sets an event; "ClockProbe", a component that is
// also a DAXOBaseClock; and a probe (listener_test_pck_probe.h) through
// which the tests see inside.
//
// The recorder derives from both listener classes, so the run/shutdown one
// sits at a non-zero offset: the engine must call it through the base
// address the SDK registered, not the recorder's. It registers its time
// listener at the end of its constructor and unregisters both first thing
// in its destructor (daxo_services.h); the run/shutdown base registers at
// once, so the tests build recorders while no run or shutdown notice flows.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "daxo_definitions.h"
#include "daxo_event.h"
#include "daxo_kernel.h"
#include "daxo_package.h"
#include "daxo_services.h"
#include "listener_test_pck_probe.h"
#include "test_pck_support.h"

namespace {

constexpr DAXODelay kGenerous = 10 * 1000000L;

/// One probe's callback log; outlives its component, so that the tests can
/// see that nothing came after "destroyed".
struct Log {
  std::vector<std::string> entries;  // guarded by g_lock
  DAXOEvent changed;                 // set after each entry
};

// g_lock (test_pck_support.h) guards the logs, the recorders and the clock probes below.
std::map<std::string, std::unique_ptr<Log>> g_logs;

Log& LogOf(const std::string& name) {
  std::lock_guard<std::mutex> guard(g_lock);
  std::unique_ptr<Log>& log = g_logs[name];
  if (!log) log = std::make_unique<Log>();
  return *log;
}

class Recorder;
std::map<std::string, Recorder*> g_recorders;  // guarded by g_lock

class Recorder final : public DAXOTimeStateListener, public DAXORunShutdownListener {
 public:
  explicit Recorder(const std::string& name)
      : DAXOTimeStateListener(0), m_name(name), m_log(LogOf(name)) {
    {
      std::lock_guard<std::mutex> guard(g_lock);
      g_recorders[m_name] = this;
    }
    DAXOTimeStateListener::Register();
  }
  ~Recorder() override {
    DAXOTimeStateListener::Unregister();
    DAXORunShutdownListener::Unregister();
    {
      std::lock_guard<std::mutex> guard(g_lock);
      g_recorders.erase(m_name);
    }
    Add("destroyed");
  }

  void SetBehaviour(int behaviour, const std::string& peer) {
    std::lock_guard<std::mutex> guard(g_lock);
    m_behaviour = behaviour;
    m_peer = peer;
  }

  void CallbackTimeJumped(DAXOTimestamp t) override {
    AddTime("jumped " + std::to_string(t));
    int behaviour = 0;
    Recorder* peer = nullptr;
    {
      std::lock_guard<std::mutex> guard(g_lock);
      behaviour = m_behaviour;
      auto it = g_recorders.find(m_peer);
      if (it != g_recorders.end()) peer = it->second;
    }
    // The peer is not destroyed while notices flow in the tests that use it.
    if ((behaviour & kUnregisterSelfOnJump) != 0) DAXOTimeStateListener::Unregister();
    if (peer != nullptr && (behaviour & kUnregisterPeerOnJump) != 0) {
      peer->DAXOTimeStateListener::Unregister();
    }
    if (peer != nullptr && (behaviour & kRegisterPeerOnJump) != 0) {
      peer->DAXOTimeStateListener::Register();
    }
  }
  void CallbackTimeSpeedChanged(int speed) override { AddTime("speed " + std::to_string(speed)); }
  void CallbackTimePaused(bool paused) override { AddTime(paused ? "paused 1" : "paused 0"); }
  void EngineRunning() override { Add("running"); }
  void EngineShuttingDown() override { Add("shutting down"); }

 private:
  void AddTime(std::string entry) {
    bool readClock = false;
    {
      std::lock_guard<std::mutex> guard(g_lock);
      readClock = (m_behaviour & kReadClock) != 0;
    }
    if (readClock) {
      entry += " / now " + std::to_string(DAXO::CurrentTime()) + " speed " +
               std::to_string(DAXO::TimeSpeed());
    }
    Add(std::move(entry));
  }
  void Add(std::string entry) {
    {
      std::lock_guard<std::mutex> guard(g_lock);
      m_log.entries.push_back(std::move(entry));
    }
    m_log.changed.Set();
  }

  const std::string m_name;
  Log& m_log;
  int m_behaviour = 0;  // guarded by g_lock
  std::string m_peer;   // guarded by g_lock
};

class ListenerProbe : public DAXOComponent {
 public:
  ListenerProbe(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition), m_recorder(name) {}
  void Core() override { DieEvent().Wait(-1); }

 private:
  Recorder m_recorder;
};

class ClockProbe;
std::vector<ClockProbe*> g_clockProbes;  // guarded by g_lock

class ClockProbe : public DAXOComponent, public DAXOBaseClock {
 public:
  ClockProbe(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition), DAXOBaseClock(name) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_clockProbes.push_back(this);
  }
  ~ClockProbe() override {
    std::lock_guard<std::mutex> guard(g_lock);
    std::erase(g_clockProbes, this);
  }
  void Unregister() override {
    {
      std::lock_guard<std::mutex> guard(g_lock);
      ++m_unregisters;
    }
    DAXOBaseClock::Unregister();
  }
  void Core() override { DieEvent().Wait(-1); }

  int Unregisters() const { return m_unregisters; }  // under g_lock

 private:
  int m_unregisters = 0;  // guarded by g_lock
};

DAXOComponentDefinition listenerModel = Threaded("ListenerProbe", &New<ListenerProbe>);
DAXOComponentDefinition clockModel = Threaded("ClockProbe", &New<ClockProbe>);

/// The clock probe whose clock is named `name` (it follows renames);
/// under g_lock.
ClockProbe* FindClockProbe(const char* name) {
  for (ClockProbe* clock : g_clockProbes) {
    if (std::string(clock->GetClockName()) == name) return clock;
  }
  return nullptr;
}

Recorder* FindRecorder(const char* name) {
  std::lock_guard<std::mutex> guard(g_lock);
  auto it = g_recorders.find(name);
  return it != g_recorders.end() ? it->second : nullptr;
}

bool WaitLog(const char* name, std::size_t n) {
  Log& log = LogOf(name);
  const DAXOTimestamp giveUp = DAXO::GetSystemAccurateTiming() + kGenerous;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(g_lock);
      if (log.entries.size() >= n) return true;
      // Reset under the lock: an entry added after this check sets it again.
      log.changed.Reset();
    }
    const DAXODelay left = giveUp - DAXO::GetSystemAccurateTiming();
    if (left <= 0 || log.changed.Wait(left) != 0) return false;
  }
}

struct PlainClock : DAXOBaseClock {
  explicit PlainClock(const char* name) : DAXOBaseClock(name) {}
};

VelquorListenerTestProbe probe{
    [](const char* name) {
      Log& log = LogOf(name);
      std::lock_guard<std::mutex> guard(g_lock);
      return log.entries;
    },
    &WaitLog,
    [](const char* name, int behaviour, const char* peer) {
      if (Recorder* recorder = FindRecorder(name)) {
        recorder->SetBehaviour(behaviour, peer != nullptr ? peer : "");
      }
    },
    [](const char* name, bool registered) {
      Recorder* recorder = FindRecorder(name);
      if (recorder == nullptr) return;
      if (registered) {
        recorder->DAXOTimeStateListener::Register();
      } else {
        recorder->DAXOTimeStateListener::Unregister();
      }
    },
    [](long t) { DAXO::SetCurrentTime(t); },
    [](int speed) { DAXO::SetTimeSpeed(speed); },
    [] { DAXO::Pause(); },
    [] { DAXO::Play(); },
    [] { return DAXO::Run(); },
    [] { return DAXO::Shutdown(); },
    [](const char* name) {
      std::lock_guard<std::mutex> guard(g_lock);
      ClockProbe* clock = FindClockProbe(name);
      return clock != nullptr ? static_cast<int>(clock->GetClockID()) : -1;
    },
    [](const char* name) {
      std::lock_guard<std::mutex> guard(g_lock);
      ClockProbe* clock = FindClockProbe(name);
      return clock != nullptr ? clock->Unregisters() : -1;
    },
    [](const char* name) -> void* { return new PlainClock(name); },
    [](void* clock) { delete static_cast<PlainClock*>(clock); },
    [](void* clock) { return static_cast<int>(static_cast<PlainClock*>(clock)->GetClockID()); },
    [](void* clock, const char* name) { static_cast<PlainClock*>(clock)->RenameClock(name); },
};

}  // namespace

DAXO_DECLARE_MODULE(velquor_listener_test_probe_model, "DAXOComponent", "ListenerProbe", "1.0.0",
                    &listenerModel);
DAXO_DECLARE_MODULE(velquor_listener_test_clock_model, "DAXOComponent", "ClockProbe", "1.0.0",
                    &clockModel);
DAXO_DECLARE_MODULE(velquor_listener_test_probe, "VelquorListenerTestProbe", "probe", "1.0.0",
                    &probe);

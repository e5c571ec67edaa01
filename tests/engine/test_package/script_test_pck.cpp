// A package for the script and engine-function tests: a component that runs
// a script from its Core ("ScriptBuilder", with an output "out"), a reader
// to connect to it ("ScriptSink", input "in"), an engine-function model
// ("ScriptTestCounter": hands out a counter that starts at its property
// "start"), and a probe through which the tests drive and watch them.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "daxo_component.h"
#include "daxo_core_function.h"
#include "daxo_package.h"
#include "daxo_services.h"
#include "script_test_pck_probe.h"
#include "test_pck_support.h"

namespace {

std::string g_script;      // guarded by g_lock
bool g_asynch = false;     // guarded by g_lock
int g_result = -1;         // guarded by g_lock
long g_reads = 0;          // guarded by g_lock
bool g_holdSinks = false;  // guarded by g_lock
int g_sinksHeld = 0;       // constructors waiting now; guarded by g_lock

DAXOOutputDefinition g_builderOutputs[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Integer32), 1, 4, 1, 0},
    {},
};
DAXOInputDefinition g_sinkInputs[] = {
    {"in", 0, &DAXO::FilterInteger32, DAXO::FifoReader, 1},
    {},
};

class Builder : public DAXOComponent {
 public:
  Builder(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}

  void Core() override {
    if (!m_ran) {
      m_ran = true;
      std::string script;
      bool asynch = false;
      {
        std::lock_guard<std::mutex> guard(g_lock);
        script = g_script;
        asynch = g_asynch;
      }
      const bool ok = asynch ? DAXO::AsynchParse(script.c_str()) : DAXO::Parse(script.c_str());
      {
        std::lock_guard<std::mutex> guard(g_lock);
        g_result = ok ? 1 : 0;
      }
      g_changed.notify_all();
    }
    if (DAXOIOElt* element = StartWriting(Output(0))) StopWriting(element);
    DieEvent().Wait(1000);
  }

 private:
  bool m_ran = false;
};

class Sink : public DAXOComponent {
 public:
  Sink(const char* name, DAXOComponentDefinition& definition) : DAXOComponent(name, definition) {
    std::unique_lock<std::mutex> guard(g_lock);
    if (!g_holdSinks) return;
    ++g_sinksHeld;
    g_changed.notify_all();
    g_changed.wait(guard, [] { return !g_holdSinks; });
    --g_sinksHeld;
  }

  void Core() override {
    if (StartReading(Input(0)) == nullptr) return;
    {
      std::lock_guard<std::mutex> guard(g_lock);
      ++g_reads;
    }
    g_changed.notify_all();
  }
};

DAXOComponentDefinition builder = [] {
  DAXOComponentDefinition d{"ScriptBuilder", "1.0.0", &New<Builder>};
  d.nbOutputs = DAXOComponentDefinition::CountUntilZeroRow;
  d.outputs = g_builderOutputs;
  return Threaded(d);
}();

DAXOComponentDefinition sink = [] {
  DAXOComponentDefinition d{"ScriptSink", "1.0.0", &New<Sink>};
  d.nbInputs = DAXOComponentDefinition::CountUntilZeroRow;
  d.inputs = g_sinkInputs;
  return Threaded(d);
}();

// --- the engine function -------------------------------------------------------

DAXOPropertyDefinition g_counterProperties[] = {
    {"start", new DAXOPropertyValue(0L), nullptr, false, false, false, false},
    {},
};

/// Hands out the address of a counter that starts at "start" when the
/// engine starts the function; each GetInterface counts one user.
class Counter : public DAXOCoreFunction {
 public:
  Counter(const char* name, DAXOCoreFunctionDefinition& definition)
      : DAXOCoreFunction(name, definition) {}

  void EngineStart() override {
    DAXOCoreFunction::EngineStart();
    m_value = Property("start")->IntegerValue();
  }
  void* GetInterface() override {
    DAXOCoreFunction::GetInterface();
    return &m_value;
  }

  long m_value = 0;
};

DAXOCoreFunction* NewCounter(const char* name, DAXOCoreFunctionDefinition& definition) {
  return new Counter(name, definition);
}

DAXOCoreFunctionDefinition counter{
    "ScriptTestCounter", "1.0.0",
    &NewCounter,         DAXOCoreFunctionDefinition::CountUntilZeroRow,
    g_counterProperties, "A counter shared by the components that take it, starting at \"start\"."};

VelquorScriptTestProbe probe{[](const char* text, bool asynch) {
                               std::lock_guard<std::mutex> guard(g_lock);
                               g_script = text;
                               g_asynch = asynch;
                               g_result = -1;
                             },
                             [] {
                               WaitUntil([] { return g_result >= 0; });
                               std::lock_guard<std::mutex> guard(g_lock);
                               return g_result;
                             },
                             [](long n) { return WaitUntil([n] { return g_reads >= n; }); },
                             [](bool hold) {
                               // Notified under the lock: once the held
                               // constructor goes on, the engine may unload
                               // this library (and g_changed) at any time.
                               std::lock_guard<std::mutex> guard(g_lock);
                               g_holdSinks = hold;
                               g_changed.notify_all();
                             },
                             [] { return WaitUntil([] { return g_sinksHeld > 0; }); }};

}  // namespace

DAXO_DECLARE_MODULE(velquor_script_test_builder, "DAXOComponent", "ScriptBuilder", "1.0.0",
                    &builder);
DAXO_DECLARE_MODULE(velquor_script_test_sink, "DAXOComponent", "ScriptSink", "1.0.0", &sink);
DAXO_DECLARE_MODULE(velquor_script_test_counter, "DAXOCoreFunction", "ScriptTestCounter", "1.0.0",
                    &counter);
DAXO_DECLARE_MODULE(velquor_script_test_probe, "VelquorScriptTestProbe", "probe", "1.0.0", &probe);

// Test support for the SDK suites: a real engine bound as this executable's
// kernel with helpers that look for the exact report texts, a module whose
// state a test may change, component models built from row tables, and
// waits for what other threads do (hand-shakes, never sleeps).
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "daxo_component.h"
#include "daxo_module.h"
#include "daxo_thread.h"
#include "engine_test_support.h"
// Shared with the runtime tests: Thrown, ThreadGroup.
#include "../runtime/runtime_test_support.h"

namespace velquor::test {

using daxo_test::ThreadGroup;
using daxo_test::Thrown;

/// Polls `done` until it holds, for 10 s at most.
template <class F>
bool Eventually(F done) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::yield();
  }
  return true;
}

/// Whether `text` matches `pattern`, in which '*' stands for any run of
/// characters.
inline bool Matches(const char* pattern, const char* text) {
  if (*pattern == '*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  return *pattern == *text && (*text == '\0' || Matches(pattern + 1, text + 1));
}

/// A property row that may change at any time, `value` its default.
inline DAXOPropertyDefinition AnyTimeProperty(const char* name, DAXOPropertyValue* value,
                                              bool locked = false, int subtype = 0) {
  return DAXOPropertyDefinition(name, value, nullptr, false, true, false, locked, subtype);
}

/// A module whose state word a test may change (to stop it, for instance).
class TestModule : public DAXOModule {
 public:
  explicit TestModule(const char* name, bool perf = false, bool processor = false)
      : DAXOModule(name, perf, processor) {}
  void Stop() { ChangeState(0, DAXO::LivingState); }
};

/// A model of component `C` (threaded or sequential, priority 128) with the
/// given tables, each ending with an all-zero row.
template <class C>
DAXOComponentDefinition Model(const char* name, bool threaded,
                              DAXOInputDefinition* inputs = nullptr,
                              DAXOOutputDefinition* outputs = nullptr,
                              DAXOUInt32 kind = DAXO::Threaded | DAXO::Sequential) {
  DAXOComponentDefinition d{name, "1.0", [](const char* n, DAXOComponentDefinition& model) {
                              return static_cast<DAXOComponent*>(new C(n, model));
                            }};
  d.nbInputs = d.nbOutputs = DAXOComponentDefinition::CountUntilZeroRow;
  d.inputs = inputs;
  d.outputs = outputs;
  d.kind = kind;
  d.threaded = threaded;
  d.priority = 128;
  return d;
}

/// A model of `C`, derived from a component template, declaring the
/// template's own tables (inputs, outputs, properties, actions).
template <class C>
DAXOComponentDefinition TemplateModel(const char* name) {
  DAXOComponentDefinition d = Model<C>(name, true, C::InputDefinitions, C::OutputDefinitions);
  d.properties = C::PropertyDefinitions;
  d.nbProperties = DAXOComponentDefinition::CountUntilZeroRow;
  d.actions = C::ActionDefinitions;
  d.nbActions = DAXOComponentDefinition::CountUntilZeroRow;
  return d;
}

class PropertyTest : public EngineTest {
 protected:
  /// How many reports at `level` (and of `code`, unless -1) match `pattern`
  /// ('*' for any run of characters).
  int Count(const std::string& pattern, int level = DAXO::Error, int code = -1) {
    int n = 0;
    for (const ReportRecord& r : reports->Reports()) {
      n += r.level == level && (code == -1 || r.code == code) &&
           Matches(pattern.c_str(), r.text.c_str());
    }
    return n;
  }
  bool Reported(const std::string& pattern, int level = DAXO::Error, int code = -1) {
    return Count(pattern, level, code) > 0;
  }
  bool ErrorReported() { return Reported("*"); }

  /// Runs `call`, expects it to throw DAXO::ErrorException and to report
  /// `pattern` at error level (with `code`, unless -1).
  template <class F>
  void ExpectError(F call, const std::string& pattern, int code = -1) {
    reports->Clear();
    EXPECT_EQ(Thrown(call), DAXO::ErrorException) << pattern;
    EXPECT_TRUE(Reported(pattern, DAXO::Error, code)) << pattern;
  }

  /// Creates a component of `model` in the engine.
  template <class C>
  C* Make(const std::string& model, const std::string& name) {
    EXPECT_TRUE(engine.CreateComponent(model, name));
    return static_cast<C*>(engine.Component(name));
  }
};

/// An engine thread stand-in that answers fixed measures and records the
/// processor and priority it was given.
class FakeThread : public DAXOThread {
 public:
  FakeThread(long switches, int load) : m_switches(switches), m_load(load) {}
  long GetContextSwitches() override { return m_switches; }
  int GetCPULoad() override { return m_load; }
  void SetProcessor(int processor) override { this->processor = processor; }
  void SetPriority(int priority) override { this->priority = priority; }
  int processor = -100;
  int priority = -100;

 private:
  long m_switches;
  int m_load;
};

}  // namespace velquor::test

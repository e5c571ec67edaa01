// Test support for the module and property suites: a real engine bound as
// this executable's kernel, a module whose state a test may change, and
// helpers that look for the exact report texts.
#pragma once

#include <string>

#include "daxo_module.h"
#include "daxo_thread.h"
#include "engine_test_support.h"

namespace velquor::test {

/// A module whose state word a test may change (to stop it, for instance).
class TestModule : public DAXOModule {
 public:
  explicit TestModule(const char* name, bool perf = false, bool processor = false)
      : DAXOModule(name, perf, processor) {}
  void Stop() { ChangeState(0, DAXO::LivingState); }
};

class PropertyTest : public EngineTest {
 protected:
  bool Reported(const std::string& text, int level = DAXO::Error) {
    return reports->Contains(
        [&](const ReportRecord& r) { return r.text == text && r.level == level; });
  }

  bool ErrorReported() {
    return reports->Contains([](const ReportRecord& r) { return r.level == DAXO::Error; });
  }

  /// Runs `call`, expects it to throw DAXO::ErrorException and to report
  /// `text` at error level.
  template <class F>
  void ExpectError(F call, const std::string& text) {
    reports->Clear();
    try {
      call();
      ADD_FAILURE() << "no error for: " << text;
    } catch (int code) {
      EXPECT_EQ(code, DAXO::ErrorException);
    }
    EXPECT_TRUE(Reported(text)) << text;
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

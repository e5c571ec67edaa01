// The lifecycle of components without inputs or outputs, in the real engine:
// threaded lives run by the engine's main-thread operation, sequential
// starts, deaths, lives and shutdowns.
#include <pthread.h>
#include <sys/resource.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>

#include "daxo_component.h"
#include "property_test_support.h"

namespace velquor::test {
namespace {

enum class Throw { Nothing, Integer, CString, Standard, Other };

/// A component whose Core counts its calls and may throw once.
class Worker : public DAXOComponent {
 public:
  Worker(const char* name, DAXOComponentDefinition& definition) : DAXOComponent(name, definition) {}
  void Birth() override { births.Raise(); }
  void Core() override {
    coreThread = DAXO::CurrentTID();
    coreNice = getpriority(PRIO_PROCESS, static_cast<id_t>(coreThread.load()));
    char threadName[16] = {};
    pthread_getname_np(pthread_self(), threadName, sizeof threadName);
    {
      std::lock_guard<std::mutex> guard(nameLock);
      coreThreadName = threadName;
    }
    cores.Raise();
    switch (toThrow) {
      case Throw::Nothing:
        break;
      case Throw::Integer:
        throw 42;
      case Throw::CString:
        throw "bad sample";
      case Throw::Standard:
        throw std::runtime_error("out of range");
      case Throw::Other:
        throw 2.5;
    }
    // A step of work that also ends on the die event.
    DieEvent().Wait(kSecond / 100);
  }
  void Death() override { deaths.Raise(); }

  Counter births;
  Counter cores;
  Counter deaths;
  std::atomic<int> coreThread{0};
  std::atomic<int> coreNice{-100};
  std::mutex nameLock;
  std::string coreThreadName;
  Throw toThrow = Throw::Nothing;
};

DAXOPropertyDefinition g_needsInit[] = {
    {"path", new DAXOPropertyValue("none"), nullptr, true, false, false, false},
    {},
};

DAXOComponentDefinition Model(DAXOUInt32 kind, bool threaded) {
  DAXOComponentDefinition d;
  d.name = "Worker";
  d.version = "1";
  d.nbProperties = 0;
  d.kind = kind;
  d.threaded = threaded;
  d.priority = 128;
  return d;
}

class ComponentLifecycle : public PropertyTest {
 protected:
  bool ReportedExactly(const std::string& text, int level, int code) {
    return reports->Contains([&](const ReportRecord& r) {
      return r.text == text && r.level == level && r.code == code;
    });
  }
};

TEST_F(ComponentLifecycle, ThreadedComponentRunsShutsDownAndRestarts) {
  DAXOComponentDefinition model = Model(DAXO::Threaded | DAXO::Sequential, true);
  Worker c("w", model);
  for (int round = 1; round <= 2; ++round) {
    c.Start();
    EXPECT_EQ(c.State() & (DAXO::LivingState | DAXO::DeadState), DAXO::LivingState);
    ASSERT_TRUE(c.births.WaitAtLeast(round));
    const int before = c.cores.Value();
    ASSERT_TRUE(c.cores.WaitAtLeast(before + 3)) << "Core runs repeatedly";
    EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), c.coreThread.load());

    reports->Clear();
    c.Shutdown();
    EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), -1);
    EXPECT_EQ(c.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState);
    EXPECT_EQ(c.deaths.Value(), round);
    EXPECT_EQ(c.Lives(), 0);
    EXPECT_TRUE(ReportedExactly("Component w is dead.", DAXO::Info, 0));
    EXPECT_FALSE(c.BirthSignalled());
  }
  EXPECT_EQ(c.births.Value(), 2);
}

TEST_F(ComponentLifecycle, TheMainThreadCarriesTheNameAndThePriority) {
  if (getpriority(PRIO_PROCESS, static_cast<id_t>(DAXO::CurrentTID())) != 0) {
    GTEST_SKIP() << "the tests run with a nice value already";
  }
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  Worker c("lowly", model);
  c.Set(*c.Property("priority"), 64L);
  c.Start();
  ASSERT_TRUE(c.cores.WaitAtLeast(1));
  c.Shutdown();
  EXPECT_EQ(c.coreNice.load(), 10) << "priority 64 of 255 under time-sharing";
  std::lock_guard<std::mutex> guard(c.nameLock);
  EXPECT_EQ(c.coreThreadName, "lowly");
}

TEST_F(ComponentLifecycle, StartOnALivingComponentOnlyRepeatsTheNotice) {
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  Worker c("w", model);
  c.Start();
  ASSERT_TRUE(c.births.WaitAtLeast(1));
  c.Start();
  EXPECT_TRUE(c.cores.WaitAtLeast(2));
  c.Shutdown();
  EXPECT_EQ(c.births.Value(), 1) << "no second main thread";
  EXPECT_EQ(c.deaths.Value(), 1);
}

TEST_F(ComponentLifecycle, SequentialStartRunsBirthAndClearsDeadState) {
  DAXOComponentDefinition model = Model(DAXO::Sequential, false);
  Worker c("s", model);
  c.Start();
  EXPECT_EQ(c.births.Value(), 1);
  EXPECT_EQ(c.cores.Value(), 0) << "Core runs on the writers' threads";
  EXPECT_EQ(c.State() & (DAXO::LivingState | DAXO::DeadState), DAXO::LivingState);
  EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), 0);

  c.Shutdown();
  EXPECT_EQ(c.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState);
  EXPECT_EQ(c.deaths.Value(), 1);
  EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), -1);
  c.SequentialDeath();
  EXPECT_EQ(c.deaths.Value(), 1) << "a component dies once";
}

TEST_F(ComponentLifecycle, ExceptionsFromCoreAreReportedAndEndTheComponent) {
  const struct {
    Throw kind;
    std::string text;
  } cases[] = {
      {Throw::Integer,
       "component x : Fatal error : Unhandled integer exception thrown (42). Trying to catch up "
       "but the component might crash later."},
      {Throw::CString,
       "component x : Fatal error : Unhandled string thrown: bad sample Trying to catch up but "
       "the component might crash later."},
      {Throw::Standard,
       "component x : Fatal error : Unhandled std::exception thrown: out of range Trying to "
       "catch up but the component might crash later."},
      {Throw::Other,
       "component x : Fatal error : Unhandled exception thrown. Trying to catch up but the "
       "component might crash later."},
  };
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  for (const auto& c : cases) {
    reports->Clear();
    Worker w("x", model);
    w.toThrow = c.kind;
    w.Start();
    ASSERT_TRUE(w.deaths.WaitAtLeast(1)) << c.text;
    w.Shutdown();  // waits until the main thread has made it dead
    EXPECT_TRUE(ReportedExactly(c.text, DAXO::Error, 0)) << c.text;
    EXPECT_TRUE(ReportedExactly("Component x is dead.", DAXO::Info, 0));
    EXPECT_EQ(w.cores.Value(), 1);
    EXPECT_EQ(w.deaths.Value(), 1);
    EXPECT_EQ(w.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState);
  }
}

TEST_F(ComponentLifecycle, DeathExceptionsAreContainedWithFixedTexts) {
  class FailingDeath : public Worker {
   public:
    using Worker::Worker;
    void Death() override {
      switch (toThrow) {
        case Throw::Integer:
          throw DAXO::ErrorException;
        case Throw::CString:
          throw 7;
        case Throw::Standard:
          throw std::logic_error("broken");
        default:
          throw 1.0;
      }
    }
  };
  const struct {
    Throw kind;
    std::string text;
    int code;
  } cases[] = {
      {Throw::Integer, ": DAXO::ErrorException thrown from Death().", 0},
      {Throw::CString, ": unhandled integer exception thrown from Death().", 2},
      {Throw::Standard, ": unhandled std::exception thrown from Death() (broken).", 2},
      {Throw::Other, ": unhandled exception thrown from Death().", 2},
  };
  DAXOComponentDefinition model = Model(DAXO::Sequential, false);
  for (const auto& c : cases) {
    reports->Clear();
    FailingDeath d("d", model);
    d.toThrow = c.kind;
    d.Start();
    d.Shutdown();
    EXPECT_TRUE(
        ReportedExactly("d" + c.text + " Trying to catch up. The component might crash later.",
                        DAXO::Error, c.code))
        << c.text;
    EXPECT_EQ(d.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState);
  }
}

TEST_F(ComponentLifecycle, AFailingBanzaiDoesNotKeepTheComponentAlive) {
  class BadBanzai : public Worker {
   public:
    using Worker::Worker;
    void Banzai() override { throw 3; }
  };
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  BadBanzai b("b", model);
  b.Start();
  ASSERT_TRUE(b.cores.WaitAtLeast(1));
  b.Shutdown();
  EXPECT_TRUE(ReportedExactly(
      "b: unhandled exception thrown from Banzai(). Trying to catch up. The component might crash "
      "later.",
      DAXO::Error, 2));
  EXPECT_EQ(b.deaths.Value(), 1);
  EXPECT_EQ(b.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState);
}

TEST_F(ComponentLifecycle, AThreadedStartWithoutEngineFailsAndStaysDead) {
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  Worker c("c", model);
  DAXOKernel* bound = DAXOPrivate::kernel;
  DAXOPrivate::kernel = nullptr;  // nobody to run the main thread
  int thrown = 0;
  try {
    c.Start();
  } catch (int code) {
    thrown = code;
  }
  DAXOPrivate::kernel = bound;
  EXPECT_EQ(thrown, DAXO::ErrorException);
  EXPECT_EQ(c.LastErrorMessage(), "Failed to start component main thread");
  EXPECT_EQ(c.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState | DAXO::ErrorState);
  EXPECT_EQ(c.Lives(), 0);
  c.Shutdown();  // nothing to wait for
  EXPECT_EQ(c.births.Value(), 0);
}

TEST_F(ComponentLifecycle, CommitSuicideEndsBothModels) {
  class Suicidal : public Worker {
   public:
    using Worker::Worker;
    void Birth() override {
      Worker::Birth();
      if (!IsThreaded()) CommitSuicide();
    }
    void Core() override {
      cores.Raise();
      CommitSuicide();
    }
  };
  DAXOComponentDefinition threaded = Model(DAXO::Threaded, true);
  Suicidal t("t", threaded);
  t.Start();
  ASSERT_TRUE(t.deaths.WaitAtLeast(1));
  t.Shutdown();
  EXPECT_EQ(t.cores.Value(), 1);
  EXPECT_FALSE(ErrorReported()) << "ModuleDied is the normal end";

  DAXOComponentDefinition sequential = Model(DAXO::Sequential, false);
  Suicidal s("s", sequential);
  s.Start();
  EXPECT_EQ(s.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState)
      << "a Birth that ended its life leaves the component dead";
  EXPECT_EQ(s.deaths.Value(), 1);
  s.Shutdown();
  EXPECT_EQ(s.deaths.Value(), 1);
}

TEST_F(ComponentLifecycle, SequentialBirthFailuresRunTheDeathSequence) {
  class BadBirth : public Worker {
   public:
    using Worker::Worker;
    void Birth() override {
      if (toThrow == Throw::Integer) throw DAXO::ErrorException;
      throw std::runtime_error("no device");
    }
  };
  DAXOComponentDefinition model = Model(DAXO::Sequential, false);
  BadBirth b("b", model);
  b.toThrow = Throw::Integer;
  b.Start();
  EXPECT_TRUE(ReportedExactly("External : component b (sequential) died due to an error.",
                              DAXO::Warning, 1));
  EXPECT_EQ(b.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState);
  EXPECT_EQ(b.deaths.Value(), 1);

  reports->Clear();
  b.toThrow = Throw::Standard;
  b.Start();
  EXPECT_TRUE(ReportedExactly(
      "External : component b : Fatal error : Unhandled std::exception thrown: no device Trying "
      "to catch up but the component might crash later.",
      DAXO::Error, 0));
  EXPECT_EQ(b.State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState);
  EXPECT_EQ(b.deaths.Value(), 2);
}

TEST_F(ComponentLifecycle, SequentialStartWaitsForBirthWhenAsked) {
  engine.SetBoolProperty("Engine.sequentialStart", true);
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  Worker c("w", model);
  c.Start();
  EXPECT_TRUE(c.BirthSignalled() || (c.State() & DAXO::DeadState) != 0)
      << "Start returns once Birth has run";
  EXPECT_EQ(c.births.Value(), 1);
  c.Shutdown();

  class DiesAtBirth : public Worker {
   public:
    using Worker::Worker;
    void Birth() override { throw DAXO::ErrorException; }
  };
  reports->Clear();
  DiesAtBirth d("d", model);
  d.Start();
  EXPECT_TRUE(ReportedExactly(
      "component d: Couldn't start. Birth didn't occur correctly (died at birth).", DAXO::Info, 0));
  EXPECT_TRUE(ReportedExactly("component d (threaded) died due to an error.", DAXO::Warning, 1));
  d.Shutdown();
}

TEST_F(ComponentLifecycle, UninitialisedPropertyBlocksStart) {
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  model.nbProperties = DAXOComponentDefinition::CountUntilZeroRow;
  model.properties = g_needsInit;
  Worker c("c", model);
  reports->Clear();
  try {
    c.Start();
    ADD_FAILURE() << "started";
  } catch (int code) {
    EXPECT_EQ(code, DAXO::ErrorException);
  }
  EXPECT_TRUE(ReportedExactly(
      "Unable to start component c. Its property c.path needs to be initialized.", DAXO::Error, 1));
  EXPECT_NE(c.State() & DAXO::ErrorState, 0u);
  EXPECT_EQ(c.State() & DAXO::LivingState, 0u);
  EXPECT_EQ(c.births.Value(), 0);

  c.Property("path")->Set("/tmp");
  c.Start();
  EXPECT_EQ(c.State() & DAXO::ErrorState, 0u);
  ASSERT_TRUE(c.births.WaitAtLeast(1));
  c.Shutdown();
}

TEST_F(ComponentLifecycle, ThreadingModelFollowsTheDefinition) {
  DAXOComponentDefinition threadedOnly = Model(DAXO::Threaded, false);
  Worker t("t", threadedOnly);
  t.Start();
  EXPECT_TRUE(ReportedExactly(
      "component t: Sequential behaviour is not allowed anymore for this component (its "
      "threading model may have changed since last save operation).",
      DAXO::Warning, 0));
  EXPECT_TRUE(t.IsThreaded());
  EXPECT_TRUE(t.Property("threaded")->BoolValue());
  ASSERT_TRUE(t.cores.WaitAtLeast(1)) << "runs on its main thread";
  t.Shutdown();

  DAXOComponentDefinition sequentialOnly = Model(DAXO::Sequential, true);
  Worker s("s", sequentialOnly);
  s.Start();
  EXPECT_TRUE(ReportedExactly(
      "component s: Threaded behaviour is not allowed anymore for this component (its threading "
      "model may have changed since last save operation).",
      DAXO::Warning, 0));
  EXPECT_FALSE(s.IsThreaded());
  EXPECT_EQ(s.births.Value(), 1);
  s.Shutdown();
}

TEST_F(ComponentLifecycle, Wait4DeathReportsTheTimeOutInItsUnit) {
  TestModule m("m");
  EXPECT_EQ(m.Lives(), 0);
  m.OneMoreLife();
  m.OneMoreLife();
  m.LoseOneLife();
  EXPECT_FALSE(m.AllLivesLostEvent().State());

  engine.SetIntegerProperty("Engine.shutdownTimeout", 500000);
  EXPECT_FALSE(m.Wait4Death());
  const std::string tail =
      ". The model must be bugged. If this is considered as normal however, consider increase "
      "the value of the Engine.shutdownTimeout property. I destroy the component anyway. This "
      "might result in a system crash.";
  EXPECT_TRUE(
      ReportedExactly("module m: Some threads are still running after 500000 microsecond(s)" + tail,
                      DAXO::Warning, 2));
  engine.SetIntegerProperty("Engine.shutdownTimeout", 2000000);
  EXPECT_FALSE(m.Wait4Death());
  EXPECT_TRUE(ReportedExactly("module m: Some threads are still running after 2 second(s)" + tail,
                              DAXO::Warning, 2));

  m.LoseOneLife();
  EXPECT_TRUE(m.AllLivesLostEvent().State());
  EXPECT_TRUE(m.Wait4Death());
}

}  // namespace
}  // namespace velquor::test

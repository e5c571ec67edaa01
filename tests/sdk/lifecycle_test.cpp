// The lifecycle of components without inputs or outputs, in the real engine:
// threaded lives run by the engine's main-thread operation, sequential
// starts, deaths, lives and shutdowns.
#include <pthread.h>
#include <sys/resource.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "sdk_test_support.h"

namespace velquor::test {
namespace {

enum class Throw { Nothing, Error, Integer, CString, Standard, Other, Suicide };

/// Throws what `kind` names; Suicide ends the life the normal way.
void Raise(DAXOComponent& c, Throw kind) {
  switch (kind) {
    case Throw::Nothing:
      return;
    case Throw::Error:
      throw DAXO::ErrorException;
    case Throw::Integer:
      throw 42;
    case Throw::CString:
      throw "bad sample";
    case Throw::Standard:
      throw std::runtime_error("out of range");
    case Throw::Other:
      throw 2.5;
    case Throw::Suicide:
      c.CommitSuicide();
  }
}

/// A component that counts its Births, Cores and Deaths, notes where its
/// Core runs, and throws from the steps a test chooses.
class Worker : public DAXOComponent {
 public:
  Worker(const char* name, DAXOComponentDefinition& definition) : DAXOComponent(name, definition) {}
  void Birth() override {
    births.Raise();
    Raise(*this, inBirth);
  }
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
    Raise(*this, inCore);
    // A step of work that also ends on the die event.
    DieEvent().Wait(kSecond / 100);
  }
  void Death() override {
    deaths.Raise();
    Raise(*this, inDeath);
  }
  void Banzai() override { Raise(*this, inBanzai); }

  Counter births;
  Counter cores;
  Counter deaths;
  std::atomic<int> coreThread{0};
  std::atomic<int> coreNice{-100};
  std::mutex nameLock;
  std::string coreThreadName;
  Throw inBirth = Throw::Nothing, inCore = Throw::Nothing, inDeath = Throw::Nothing,
        inBanzai = Throw::Nothing;
};

DAXOPropertyDefinition g_needsInit[] = {
    {"path", new DAXOPropertyValue("none"), nullptr, true, false, false, false},
    {},
};

DAXOComponentDefinition Model(DAXOUInt32 kind, bool threaded) {
  return velquor::test::Model<Worker>("Worker", threaded, nullptr, nullptr, kind);
}

class ComponentLifecycle : public PropertyTest {
 protected:
  static bool Dead(const DAXOModule& c, DAXOUInt32 more = 0) {
    return (c.State() & ~DAXO::StartAutomaticallyState) == (DAXO::DeadState | more);
  }
};

TEST_F(ComponentLifecycle, ThreadedComponentRunsShutsDownAndRestarts) {
  DAXOComponentDefinition model = Model(DAXO::Threaded | DAXO::Sequential, true);
  Worker c("w", model);
  for (int round = 1; round <= 2; ++round) {
    c.Start();
    EXPECT_EQ(c.State() & (DAXO::LivingState | DAXO::DeadState), DAXO::LivingState);
    ASSERT_TRUE(c.births.WaitAtLeast(round));
    c.Start();  // on a living component: only the notice again, no second main thread
    const int before = c.cores.Value();
    ASSERT_TRUE(c.cores.WaitAtLeast(before + 3)) << "Core runs repeatedly";
    EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), c.coreThread.load());

    reports->Clear();
    c.Shutdown();
    EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), -1);
    EXPECT_TRUE(Dead(c));
    EXPECT_EQ(c.deaths.Value(), round);
    EXPECT_EQ(c.Lives(), 0);
    EXPECT_TRUE(Reported("Component w is dead.", DAXO::Info, 0));
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

TEST_F(ComponentLifecycle, SequentialStartRunsBirthAndClearsDeadState) {
  DAXOComponentDefinition model = Model(DAXO::Sequential, false);
  Worker c("s", model);
  c.Start();
  EXPECT_EQ(c.births.Value(), 1);
  EXPECT_EQ(c.cores.Value(), 0) << "Core runs on the writers' threads";
  EXPECT_EQ(c.State() & (DAXO::LivingState | DAXO::DeadState), DAXO::LivingState);
  EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), 0);

  c.Shutdown();
  EXPECT_TRUE(Dead(c));
  EXPECT_EQ(c.deaths.Value(), 1);
  EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), -1);
  c.SequentialDeath();
  EXPECT_EQ(c.deaths.Value(), 1) << "a component dies once";
}

TEST_F(ComponentLifecycle, ExceptionsFromCoreAreReportedAndEndTheComponent) {
  const std::pair<Throw, std::string> cases[] = {
      {Throw::Integer, "integer exception thrown (42)."},
      {Throw::CString, "string thrown: bad sample"},
      {Throw::Standard, "std::exception thrown: out of range"},
      {Throw::Other, "exception thrown."},
  };
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  for (const auto& [kind, text] : cases) {
    reports->Clear();
    Worker w("x", model);
    w.inCore = kind;
    w.Start();
    ASSERT_TRUE(w.deaths.WaitAtLeast(1)) << text;
    w.Shutdown();  // waits until the main thread has made it dead
    EXPECT_TRUE(Reported("component x : Fatal error : Unhandled " + text +
                             " Trying to catch up but the component might crash later.",
                         DAXO::Error, 0))
        << text;
    EXPECT_TRUE(Reported("Component x is dead.", DAXO::Info, 0));
    EXPECT_EQ(w.cores.Value(), 1);
    EXPECT_EQ(w.deaths.Value(), 1);
    EXPECT_TRUE(Dead(w));
  }
}

TEST_F(ComponentLifecycle, DeathAndBanzaiExceptionsAreContainedWithFixedTexts) {
  const struct {
    bool banzai;  // else Death
    Throw kind;
    std::string text;  // after the component's name
    int code;
  } cases[] = {
      {false, Throw::Error, ": DAXO::ErrorException thrown from Death().", 0},
      {false, Throw::Integer, ": unhandled integer exception thrown from Death().", 2},
      {false, Throw::Standard, ": unhandled std::exception thrown from Death() (out of range).", 2},
      {false, Throw::Other, ": unhandled exception thrown from Death().", 2},
      {true, Throw::Integer, ": unhandled exception thrown from Banzai().", 2},
  };
  DAXOComponentDefinition sequential = Model(DAXO::Sequential, false);
  DAXOComponentDefinition threaded = Model(DAXO::Threaded, true);
  for (const auto& c : cases) {
    reports->Clear();
    Worker d("d", c.banzai ? threaded : sequential);
    (c.banzai ? d.inBanzai : d.inDeath) = c.kind;
    d.Start();
    ASSERT_TRUE(!c.banzai || d.cores.WaitAtLeast(1));
    d.Shutdown();
    EXPECT_TRUE(Reported("d" + c.text + " Trying to catch up. The component might crash later.",
                         DAXO::Error, c.code))
        << c.text;
    EXPECT_EQ(d.deaths.Value(), 1) << c.text;
    EXPECT_TRUE(Dead(d)) << "a failing step does not keep the component alive";
  }
}

TEST_F(ComponentLifecycle, AThreadedStartWithoutEngineFailsAndStaysDead) {
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  Worker c("c", model);
  DAXOKernel* bound = DAXOPrivate::kernel;
  DAXOPrivate::kernel = nullptr;  // nobody to run the main thread
  const int thrown = Thrown([&] { c.Start(); });
  DAXOPrivate::kernel = bound;
  EXPECT_EQ(thrown, DAXO::ErrorException);
  EXPECT_EQ(c.LastErrorMessage(), "Failed to start component main thread");
  EXPECT_TRUE(Dead(c, DAXO::ErrorState));
  EXPECT_EQ(c.Lives(), 0);
  c.Shutdown();  // nothing to wait for
  EXPECT_EQ(c.births.Value(), 0);
}

TEST_F(ComponentLifecycle, CommitSuicideEndsBothModels) {
  DAXOComponentDefinition threaded = Model(DAXO::Threaded, true);
  Worker t("t", threaded);
  t.inCore = Throw::Suicide;
  t.Start();
  ASSERT_TRUE(t.deaths.WaitAtLeast(1));
  t.Shutdown();
  EXPECT_EQ(t.cores.Value(), 1);
  EXPECT_FALSE(ErrorReported()) << "ModuleDied is the normal end";

  DAXOComponentDefinition sequential = Model(DAXO::Sequential, false);
  Worker s("s", sequential);
  s.inBirth = Throw::Suicide;
  s.Start();
  EXPECT_TRUE(Dead(s)) << "a Birth that ended its life leaves the component dead";
  EXPECT_EQ(s.deaths.Value(), 1);
  s.Shutdown();
  EXPECT_EQ(s.deaths.Value(), 1);
}

TEST_F(ComponentLifecycle, SequentialBirthFailuresRunTheDeathSequence) {
  const std::tuple<Throw, std::string, int, int> cases[] = {
      {Throw::Error, "External : component b (sequential) died due to an error.", DAXO::Warning, 1},
      {Throw::Standard,
       "External : component b : Fatal error : Unhandled std::exception thrown: out of range "
       "Trying to catch up but the component might crash later.",
       DAXO::Error, 0},
  };
  DAXOComponentDefinition model = Model(DAXO::Sequential, false);
  Worker b("b", model);
  int deaths = 0;
  for (const auto& [kind, text, level, code] : cases) {
    reports->Clear();
    b.inBirth = kind;
    b.Start();
    EXPECT_TRUE(Reported(text, level, code)) << text;
    EXPECT_TRUE(Dead(b));
    EXPECT_EQ(b.deaths.Value(), ++deaths) << "each failed Birth runs Death once";
  }
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

  reports->Clear();
  Worker d("d", model);
  d.inBirth = Throw::Error;
  d.Start();
  EXPECT_TRUE(Reported("component d: Couldn't start. Birth didn't occur correctly (died at birth).",
                       DAXO::Info, 0));
  EXPECT_TRUE(Reported("component d (threaded) died due to an error.", DAXO::Warning, 1));
  d.Shutdown();
}

TEST_F(ComponentLifecycle, UninitialisedPropertyBlocksStart) {
  DAXOComponentDefinition model = Model(DAXO::Threaded, true);
  model.nbProperties = DAXOComponentDefinition::CountUntilZeroRow;
  model.properties = g_needsInit;
  Worker c("c", model);
  ExpectError([&] { c.Start(); },
              "Unable to start component c. Its property c.path needs to be initialized.", 1);
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
  // A model that allows one behaviour only overrides the other as default.
  for (const bool threadedOnly : {true, false}) {
    DAXOComponentDefinition model =
        Model(threadedOnly ? DAXO::Threaded : DAXO::Sequential, !threadedOnly);
    Worker c("c", model);
    reports->Clear();
    c.Start();
    EXPECT_TRUE(Reported(std::string("component c: ") + (threadedOnly ? "Sequential" : "Threaded") +
                             " behaviour is not allowed anymore for this component (its threading "
                             "model may have changed since last save operation).",
                         DAXO::Warning, 0));
    EXPECT_EQ(c.IsThreaded(), threadedOnly);
    EXPECT_EQ(c.Property("threaded")->BoolValue(), threadedOnly);
    if (threadedOnly) {
      EXPECT_TRUE(c.cores.WaitAtLeast(1)) << "runs on its main thread";
    } else {
      EXPECT_EQ(c.births.Value(), 1);
    }
    c.Shutdown();
  }
}

TEST_F(ComponentLifecycle, Wait4DeathReportsTheTimeOutInItsUnit) {
  TestModule m("m");
  EXPECT_EQ(m.Lives(), 0);
  m.OneMoreLife();
  m.OneMoreLife();
  m.LoseOneLife();
  EXPECT_FALSE(m.AllLivesLostEvent().State());

  const std::string tail =
      ". The model must be bugged. If this is considered as normal however, consider increase "
      "the value of the Engine.shutdownTimeout property. I destroy the component anyway. This "
      "might result in a system crash.";
  for (const auto& [timeout, text] :
       {std::pair{500000, "500000 microsecond(s)"}, {2000000, "2 second(s)"}}) {
    engine.SetIntegerProperty("Engine.shutdownTimeout", timeout);
    EXPECT_FALSE(m.Wait4Death());
    EXPECT_TRUE(
        Reported("module m: Some threads are still running after " + std::string(text) + tail,
                 DAXO::Warning, 2));
  }
  m.LoseOneLife();
  EXPECT_TRUE(m.AllLivesLostEvent().State());
  EXPECT_TRUE(m.Wait4Death());
}

}  // namespace
}  // namespace velquor::test

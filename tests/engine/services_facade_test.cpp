// The DAXO:: facade through the real engine: forwarders return the kernel's
// answers, reports carry their prefixes, levels, codes and engine flags,
// KernelError throws, and DAXO::Exit exits and releases the kernel once.
#include "daxo_package.h"
#include "daxo_services.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

class ServicesFacade : public EngineTest {
 protected:
  bool Received(const std::string& text, int level, int code, bool engineFlag) {
    return reports->Contains([&](const ReportRecord& r) {
      return r.text == text && r.level == level && r.code == code && r.engineFlag == engineFlag;
    });
  }
};

TEST_F(ServicesFacade, ReportsCarryTheirPrefixLevelCodeAndFlag) {
  DAXO::ReportWarning("disk almost full", 7);
  EXPECT_TRUE(Received("External : disk almost full", DAXO::Warning, 7, false));
  DAXO::ReportInfo("hello", 1);
  EXPECT_TRUE(Received("External : hello", DAXO::Info, 1, false));
  DAXO::ReportError("broken", 2);
  EXPECT_TRUE(Received("External : broken", DAXO::Error, 2, false));
  DAXO::Report("free form", DAXO::ParserEcho, 3);
  EXPECT_TRUE(Received("External report : free form", DAXO::ParserEcho, 3, false));

  try {
    DAXOPrivate::KernelError("kernel says no", 9);
    ADD_FAILURE() << "KernelError returned";
  } catch (int code) {
    EXPECT_EQ(code, DAXO::ErrorException);
  }
  EXPECT_TRUE(Received("kernel says no", DAXO::Error, 9, true));
}

TEST_F(ServicesFacade, ForwardersAnswerWhatTheEngineKnows) {
  bool found = false;
  EXPECT_EQ(DAXO::GetIntegerProperty("Engine.shutdownTimeout", &found), 10000000);
  EXPECT_TRUE(found);
  EXPECT_FALSE(DAXO::GetBoolProperty("Engine.sequentialStart", &found));
  EXPECT_TRUE(found);
  DAXO::GetFloatProperty("Engine.noSuchThing", &found);
  EXPECT_FALSE(found);
  EXPECT_STREQ(DAXOPrivate::EngineStringProperty("Engine.version"), EngineVersion());

  engine.StartClock();
  engine.SetClockSpeed(0);  // time holds still, so readings compare exactly
  engine.JumpClock(5000);
  EXPECT_EQ(DAXO::CurrentTime(), 5000);
  EXPECT_EQ(DAXO::TimeSpeed(), 0);
  EXPECT_TRUE(DAXO::SetTimeSpeed(-2000));
  EXPECT_EQ(DAXO::TimeSpeed(), -2000);
  EXPECT_TRUE(DAXO::Pause());
  EXPECT_TRUE(DAXO::IsPaused());
  EXPECT_EQ(DAXOPrivate::GetAbsoluteTimeSpeed(), 0) << "a paused clock does not move";
  EXPECT_TRUE(DAXO::Play());
  EXPECT_FALSE(DAXO::IsPaused());

  engine.SetCheckLevel(2);
  EXPECT_EQ(DAXO::CheckLevel(), 2);
  const long overflows = DAXO::GetNbFifoOverflows();
  DAXOPrivate::SignalFifoOverflow(nullptr);
  EXPECT_EQ(DAXO::GetNbFifoOverflows(), overflows + 1);
  EXPECT_NE(DAXO::GlobalOSMutex(), nullptr);
  EXPECT_NE(DAXO::GetShutdownEvent(), nullptr);

  // Services with no use here answer their neutral values.
  EXPECT_FALSE(DAXO::IsRecording());
  EXPECT_FALSE(DAXO::StartRecording());
  EXPECT_EQ(DAXO::GetKeysState(), DAXO::DefaultKeysState);
  DAXOSynchronizer* synchronizer = reinterpret_cast<DAXOSynchronizer*>(0x1);
  EXPECT_FALSE(DAXO::GetSynchronizer(nullptr, &synchronizer));
  EXPECT_EQ(synchronizer, nullptr);
}

TEST_F(ServicesFacade, ExitExitsAndReleasesTheKernelOnce) {
  DAXO::Exit();
  EXPECT_EQ(DAXOPrivate::kernel, nullptr);
  EXPECT_TRUE(engine.IsExiting());
  EXPECT_EQ(engine.ReleaseCount(), 1);
  DAXO::Exit();
  EXPECT_EQ(engine.ReleaseCount(), 1) << "a second Exit does nothing";
}

}  // namespace
}  // namespace velquor::test

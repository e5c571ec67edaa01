// Engine properties, the element registry and its removal notices, the
// diagram lock, module state notices and the engine's small state services,
// through the kernel that packages receive and the SDK's forwarders to it.
#include <string>
#include <thread>
#include <vector>

#include "daxo_package.h"
#include "daxo_services.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

using EngineProperties = EngineTest;

// Read through the SDK's forwarders, as packages read them.
TEST_F(EngineProperties, HaveDefaultsReadBackConvertAndMissingOnesReadEmpty) {
  bool found = false;
  EXPECT_EQ(DAXO::GetIntegerProperty("Engine.shutdownTimeout", &found), 10000000);
  EXPECT_TRUE(found);
  EXPECT_STREQ(DAXOPrivate::EngineStringProperty("Engine.version", &found), EngineVersion());
  EXPECT_TRUE(found);
  EXPECT_FALSE(DAXO::GetBoolProperty("Engine.sequentialStart"));

  engine.SetBoolProperty("Engine.sequentialStart", true);
  engine.SetIntegerProperty("Test.count", 12);
  engine.SetFloatProperty("Test.ratio", 2.5);
  EXPECT_TRUE(DAXO::GetBoolProperty("Engine.sequentialStart"));
  EXPECT_EQ(DAXO::GetIntegerProperty("Test.count"), 12);
  EXPECT_EQ(DAXO::GetFloatProperty("Test.count"), 12.0);
  EXPECT_EQ(DAXO::GetFloatProperty("Test.ratio"), 2.5);
  EXPECT_EQ(engine.GetIntegerProperty("Test.ratio"), 2);
  EXPECT_TRUE(engine.GetBoolProperty("Test.count"));

  bool missing[4] = {true, true, true, true};
  EXPECT_FALSE(DAXO::GetBoolProperty("Engine.none", &missing[0]));
  EXPECT_EQ(DAXO::GetIntegerProperty("Engine.none", &missing[1]), 0);
  EXPECT_EQ(DAXO::GetFloatProperty("Engine.none", &missing[2]), 0.0);
  EXPECT_STREQ(DAXOPrivate::EngineStringProperty("Engine.none", &missing[3]), "");
  for (bool f : missing) EXPECT_FALSE(f);
  EXPECT_STREQ(kernel()->GetStringProperty(nullptr, nullptr), "");
}

TEST_F(EngineProperties, AStringReadStaysValidWhenThePropertyIsSetAgain) {
  engine.SetStringProperty("Test.name", "first");
  const char* first = kernel()->GetStringProperty("Test.name", nullptr);
  std::thread writer([&] {
    for (int i = 0; i < 100; ++i) engine.SetStringProperty("Test.name", "n" + std::to_string(i));
  });
  writer.join();
  EXPECT_STREQ(first, "first");  // ASan would see a freed text here
  EXPECT_STREQ(kernel()->GetStringProperty("Test.name", nullptr), "n99");
  EXPECT_EQ(engine.GetStringProperty("Test.name"), "n99");
}

using SymbolRegistry = EngineTest;

TEST_F(SymbolRegistry, RefusesATakenNameAndFindsByNameAndKind) {
  int component = 0, input = 0;
  EXPECT_TRUE(kernel()->RegisterSymbol("mux", DAXOSymbolKind::Component, &component));
  EXPECT_TRUE(kernel()->RegisterSymbol("mux.in1", DAXOSymbolKind::Input, &input));
  EXPECT_FALSE(kernel()->RegisterSymbol("mux", DAXOSymbolKind::Component, &input));
  EXPECT_FALSE(kernel()->RegisterSymbol("mux", DAXOSymbolKind::Property, &input));
  EXPECT_FALSE(kernel()->RegisterSymbol("", DAXOSymbolKind::Object, &input));
  EXPECT_EQ(kernel()->FindSymbol("mux", DAXOSymbolKind::Component), &component);
  EXPECT_EQ(engine.FindSymbol("mux.in1", DAXOSymbolKind::Input), &input);
  EXPECT_EQ(kernel()->FindSymbol("mux.in1", DAXOSymbolKind::Output), nullptr);
  EXPECT_EQ(kernel()->FindSymbol("nothing", DAXOSymbolKind::Component), nullptr);
}

TEST_F(SymbolRegistry, UnregisteringFreesTheNameAndRecordsANotice) {
  std::vector<std::string> heard;
  engine.AddRemovalListener([&](const std::string& name) {
    heard.push_back(name);
    // Listeners run without the registry's lock.
    EXPECT_EQ(kernel()->FindSymbol(name.c_str(), DAXOSymbolKind::Output), nullptr);
  });
  int output = 0;
  ASSERT_TRUE(kernel()->RegisterSymbol("src.out", DAXOSymbolKind::Output, &output));
  kernel()->UnregisterSymbol("src.out");
  EXPECT_EQ(kernel()->FindSymbol("src.out", DAXOSymbolKind::Output), nullptr);
  EXPECT_TRUE(kernel()->RegisterSymbol("src.out", DAXOSymbolKind::Output, &output));
  EXPECT_EQ(engine.RemovalNotices(), std::vector<std::string>{"src.out"});
  EXPECT_EQ(heard, std::vector<std::string>{"src.out"});
}

using DiagramLock = EngineTest;

TEST_F(DiagramLock, IsRecursiveAndKeepsTheOutermostReason) {
  EXPECT_EQ(engine.DiagramLockHolder(), "");
  kernel()->LockDiagram("connect");
  kernel()->LockDiagram("nested");
  EXPECT_EQ(engine.DiagramLockHolder(), "connect");
  EXPECT_TRUE(engine.TryLockDiagram("again"));
  kernel()->UnlockDiagram();
  kernel()->UnlockDiagram();
  EXPECT_EQ(engine.DiagramLockHolder(), "connect");
  kernel()->UnlockDiagram();
  EXPECT_EQ(engine.DiagramLockHolder(), "");
  kernel()->UnlockDiagram();  // not held: ignored
  EXPECT_EQ(engine.DiagramLockHolder(), "");
}

TEST_F(DiagramLock, ASecondThreadBlocksUntilTheHolderReleases) {
  kernel()->LockDiagram("holder");
  kernel()->LockDiagram("holder again");
  DAXOEvent refused, acquired, release;
  bool tried = true;
  std::thread other([&] {
    tried = engine.TryLockDiagram("other try");
    refused.Set();
    kernel()->LockDiagram("other");
    acquired.Set();
    release.Wait(kGenerous);
    kernel()->UnlockDiagram();
  });
  ASSERT_EQ(refused.Wait(kGenerous), 0);
  EXPECT_FALSE(tried);
  kernel()->UnlockDiagram();
  EXPECT_EQ(acquired.Wait(0), DAXO::TimeOut) << "still held once";
  EXPECT_EQ(engine.DiagramLockHolder(), "holder");
  kernel()->UnlockDiagram();
  ASSERT_EQ(acquired.Wait(kGenerous), 0);
  EXPECT_EQ(engine.DiagramLockHolder(), "other");
  EXPECT_FALSE(engine.TryLockDiagram("main try"));
  release.Set();
  other.join();
  EXPECT_EQ(engine.DiagramLockHolder(), "");
}

using EngineState = EngineTest;

TEST_F(EngineState, KeepsTheLastStateOfEachModuleAndEveryNotice) {
  kernel()->NotifyModuleState("mux", 1);
  kernel()->NotifyModuleState("src", 2);
  kernel()->NotifyModuleState("mux", 4);
  bool found = false;
  EXPECT_EQ(engine.ModuleState("mux", &found), 4);
  EXPECT_TRUE(found);
  EXPECT_EQ(engine.ModuleState("src"), 2);
  engine.ModuleState("none", &found);
  EXPECT_FALSE(found);
  const auto log = engine.ModuleStateNotices();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2].module, "mux");
  EXPECT_EQ(log[2].state, 4);
  EXPECT_TRUE(reports->Contains([](const ReportRecord& r) { return r.level == 3; }));
}

TEST_F(EngineState, ExitSetsTheShutdownEventAndReleasesTheKernelOnce) {
  DAXOEvent* shutdown = DAXO::GetShutdownEvent();
  ASSERT_NE(shutdown, nullptr);
  EXPECT_EQ(shutdown->Wait(0), DAXO::TimeOut);
  EXPECT_EQ(kernel()->GetState() & 0x4, 0);
  DAXO::Exit();
  EXPECT_EQ(DAXOPrivate::kernel, nullptr);
  EXPECT_EQ(shutdown->Wait(0), 0);
  EXPECT_TRUE(engine.IsExiting());
  EXPECT_EQ(kernel()->GetState() & 0x4, 0x4);
  EXPECT_EQ(engine.ReleaseCount(), 1);
  DAXO::Exit();
  EXPECT_EQ(engine.ReleaseCount(), 1) << "a second Exit does nothing";
}

TEST_F(EngineState, CountsOverflowsFromEveryThreadAndOffersAGlobalMutexAndCheckLevel) {
  std::thread a([&] {
    for (int i = 0; i < 100; ++i) DAXOPrivate::SignalFifoOverflow(nullptr);
  });
  for (int i = 0; i < 100; ++i) DAXOPrivate::SignalFifoOverflow(nullptr);
  a.join();
  EXPECT_EQ(DAXO::GetNbFifoOverflows(), 200);
  EXPECT_NE(DAXO::GlobalOSMutex(), nullptr);
  EXPECT_EQ(DAXO::GlobalOSMutex(), kernel()->GlobalOSMutex()) << "one mutex for all";
  EXPECT_EQ(DAXO::CheckLevel(), 0);
  engine.SetCheckLevel(2);
  EXPECT_EQ(DAXO::CheckLevel(), 2);
}

}  // namespace
}  // namespace velquor::test

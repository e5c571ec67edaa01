// Samples flowing between components in the real engine: outputs connected
// to inputs by the engine, threaded and sequential readers, input
// subsampling, reads on several inputs, blocked reads and writes ended by a
// shutdown, detaching while a reader waits, and the special properties.
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "daxo_io.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

/// Writes `count` samples (value = sequence number from 1, timestamp = 10 x
/// value), one per Core, then ends itself. `release` gates each write when
/// `gated`.
class Source : public DAXOComponent {
 public:
  Source(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    if (gated) {
      DAXOEvent* events[2] = {&release, &DieEvent()};
      if (DAXOEvent::Wait(2, events, -1) != 0) throw DAXO::ModuleDied;
      release.Reset();
    }
    if (written >= count) {
      CommitSuicide();
      return;
    }
    DAXOIOElt* e = StartWriting(Output(0), 10L * (written + 1));
    if (e == nullptr) {
      CommitSuicide();
      return;
    }
    *e->Integer32(0) = written + 1;
    StopWriting(e);
    ++written;
    writes.Raise();
  }
  int count = 0;
  bool gated = false;
  DAXOEvent release;
  std::atomic<int> written{0};
  Counter writes;
};

/// Reads its inputs (one, or all of them at once) and records what it got:
/// the value, the input index and the timestamp.
class Sink : public DAXOComponent {
 public:
  Sink(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOIOElt* e = nullptr;
    int which = 0;
    if (NbInputs() == 1) {
      e = StartReading(Input(0));
    } else {
      DAXOInput* inputs[4];
      for (int i = 0; i < NbInputs(); ++i) inputs[i] = &Input(i);
      e = StartReading(NbInputs(), inputs, &which, cancel != nullptr ? 1 : 0, &cancel);
    }
    if (e == nullptr) {
      lastWhich = which;
      cancelled.Raise();
      return;
    }
    {
      std::lock_guard<std::mutex> guard(lock);
      values.push_back(*e->Integer32(0));
      inputsSeen.push_back(which);
      timestamps.push_back(e->Timestamp());
    }
    received.Raise();
    if (stopAfter > 0 && received.Value() >= stopAfter) CommitSuicide();
  }
  std::vector<int> Values() {
    std::lock_guard<std::mutex> guard(lock);
    return values;
  }
  std::mutex lock;
  std::vector<int> values;
  std::vector<int> inputsSeen;
  std::vector<DAXOTimestamp> timestamps;
  Counter received;
  Counter cancelled;
  int stopAfter = 0;
  std::atomic<int> lastWhich{-100};
  DAXOEvent* cancel = nullptr;
};

DAXOOutputDefinition g_sourceOutputs[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Integer32), 1, 4, 1, 0},
    {},
};
DAXOInputDefinition g_fifoInputs[] = {
    {"in", 0, &DAXO::FilterInteger32, DAXO::NeverSkippingReader, 1},
    {},
};
DAXOInputDefinition g_twoInputs[] = {
    {"a", 0, &DAXO::FilterInteger32, DAXO::NeverSkippingReader, 1},
    {"b", 0, &DAXO::FilterInteger32, DAXO::NeverSkippingReader, 1},
    {},
};
DAXOInputDefinition g_textInput[] = {
    {"in", 0, &DAXO::FilterTextAscii, DAXO::FifoReader, 1},
    {},
};

class IOFlow : public PropertyTest {
 protected:
  IOFlow() {
    for (DAXOComponentDefinition& d : models) EXPECT_TRUE(engine.AddModel(d));
  }

  Source* MakeSource(const std::string& name, int count) {
    auto* s = Make<Source>("Source", name);
    s->count = count;
    return s;
  }
  static std::vector<int> Sequence(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
  }

  DAXOComponentDefinition models[5] = {
      Model<Source>("Source", true, nullptr, g_sourceOutputs),
      Model<Sink>("Sink", true, g_fifoInputs),
      Model<Sink>("SequentialSink", false, g_fifoInputs),
      Model<Sink>("TwoInputSink", true, g_twoInputs),
      Model<Sink>("TextSink", true, g_textInput),
  };
};

TEST_F(IOFlow, AThreadedReaderGetsEverySampleInOrderWithItsTimestamp) {
  Source* src = MakeSource("src", 2000);
  Sink* dst = Make<Sink>("Sink", "dst");
  dst->stopAfter = 2000;
  ASSERT_TRUE(engine.Connect("src.out", "dst.in"));
  EXPECT_TRUE(dst->Input(0).IsConnected());
  EXPECT_EQ(dst->Input(0).ConnectedOutput(), &src->Output(0));
  ASSERT_TRUE(engine.StartDiagram());
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  EXPECT_EQ(dst->Values(), Sequence(1, 2000)) << "never-skipping: each sample once, in order";
  EXPECT_EQ(dst->timestamps.front(), 10);
  EXPECT_EQ(dst->timestamps.back(), 20000);
  EXPECT_FALSE(ErrorReported());

  // The diagram runs again from the start.
  src->written = 0;
  {
    std::lock_guard<std::mutex> guard(dst->lock);
    dst->values.clear();
  }
  dst->stopAfter = 4000;
  ASSERT_TRUE(engine.StartDiagram());
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  EXPECT_EQ(dst->Values(), Sequence(1, 2000));
}

TEST_F(IOFlow, ASequentialReaderRunsOnTheWritersThreadWithItsSubsampling) {
  Source* src = MakeSource("src", 30);
  Sink* dst = Make<Sink>("SequentialSink", "dst");
  dst->Set(*dst->Property("in.subsampling"), 3L);
  ASSERT_TRUE(engine.Connect("src.out", "dst.in"));
  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_TRUE(src->writes.WaitAtLeast(30));
  EXPECT_EQ(engine.RunDiagram(kSecond / 20), RunEnd::TimeLimit)
      << "the sequential reader lives until it is shut down";
  engine.ShutdownDiagram();
  // Every third sample reaches Core: the two before it are taken and given
  // back without it.
  EXPECT_EQ(dst->Values(), (std::vector<int>{3, 6, 9, 12, 15, 18, 21, 24, 27, 30}));
}

TEST_F(IOFlow, SeveralInputsFavourTheLowestIndexAndCancelEventsAnswerTheirNumber) {
  Source* a = MakeSource("a", 3);
  Source* b = MakeSource("b", 3);
  a->gated = b->gated = true;
  Sink* dst = Make<Sink>("TwoInputSink", "dst");
  DAXOEvent cancel;
  DAXOEvent* cancels[1] = {&cancel};
  dst->cancel = cancels[0];
  ASSERT_TRUE(engine.Connect("a.out", "dst.a"));
  ASSERT_TRUE(engine.Connect("b.out", "dst.b"));
  ASSERT_TRUE(engine.StartComponent("a"));
  ASSERT_TRUE(engine.StartComponent("b"));
  // Both inputs hold a sample before the reader looks.
  b->release.Set();
  ASSERT_TRUE(b->writes.WaitAtLeast(1));
  a->release.Set();
  ASSERT_TRUE(a->writes.WaitAtLeast(1));
  ASSERT_TRUE(engine.StartComponent("dst"));
  ASSERT_TRUE(dst->received.WaitAtLeast(2));
  EXPECT_EQ(dst->inputsSeen, (std::vector<int>{0, 1}));

  cancel.Set();
  ASSERT_TRUE(dst->cancelled.WaitAtLeast(1));
  EXPECT_EQ(dst->lastWhich.load(), 2) << "two inputs, first cancel event";
  engine.ShutdownDiagram();
}

TEST_F(IOFlow, ShutdownEndsAReaderBlockedOnAnEmptyFifoAndAWriterBlockedOnAFullOne) {
  Source* src = MakeSource("src", 1000);
  Make<Sink>("Sink", "dst");
  ASSERT_TRUE(engine.Connect("src.out", "dst.in"));
  // The reader waits on an empty FIFO.
  ASSERT_TRUE(engine.StartComponent("dst"));
  ASSERT_TRUE(engine.ShutdownComponent("dst"));
  EXPECT_NE(engine.ModuleState("dst") & DAXO::DeadState, 0);

  // The writer fills the 4 slots, then waits for the never-skipping reader
  // that is not running.
  ASSERT_TRUE(engine.StartComponent("src"));
  ASSERT_TRUE(src->writes.WaitAtLeast(4));
  EXPECT_TRUE(src->IsFIFOFull(src->Output(0)));
  ASSERT_TRUE(engine.ShutdownComponent("src"));
  EXPECT_EQ(src->written.load(), 4);
  EXPECT_FALSE(ErrorReported());
}

TEST_F(IOFlow, ADetachedReaderWaitsForItsNextConnection) {
  Source* first = MakeSource("first", 1000000);
  Source* second = MakeSource("second", 1000000);
  first->gated = second->gated = true;
  Sink* dst = Make<Sink>("Sink", "dst");
  ASSERT_TRUE(engine.Connect("first.out", "dst.in"));
  ASSERT_TRUE(engine.StartDiagram());
  first->release.Set();
  ASSERT_TRUE(dst->received.WaitAtLeast(1));

  // The reader is blocked on an empty FIFO: it acknowledges and lets go.
  ASSERT_TRUE(engine.Disconnect("dst.in"));
  EXPECT_FALSE(dst->Input(0).IsConnected());
  ASSERT_TRUE(engine.Connect("second.out", "dst.in"));
  second->release.Set();
  ASSERT_TRUE(dst->received.WaitAtLeast(2));
  EXPECT_EQ(dst->Values(), (std::vector<int>{1, 1}));
  engine.ShutdownDiagram();
}

TEST_F(IOFlow, ConnectionsCheckTypesAndNames) {
  MakeSource("src", 1);
  Sink* text = Make<Sink>("TextSink", "text");
  EXPECT_FALSE(engine.Connect("src.out", "text.in"));
  EXPECT_FALSE(text->Input(0).IsConnected());
  EXPECT_FALSE(engine.Connect("src.nothing", "text.in"));
  EXPECT_FALSE(engine.Connect("src.out", "nobody.in"));
  ExpectError([&] { text->Output("missing"); },
              "Trying to access unknown output missing of component text");
  ExpectError([&] { text->Input(3); }, "Trying to access unknown input #3 of component text");
}

std::vector<std::string> g_refreshed;  // written under the time object's lock
void Refresh(DAXOModule*, int, const char* input) {
  g_refreshed.emplace_back(input);
}

TEST_F(IOFlow, SpecialPropertiesFollowTheRulesOfARunningComponent) {
  // An engine time object that shows input properties is told of each
  // reader type change, taken or refused.
  TestModule time("Engine.time");
  time.NewAction(DAXOActionDefinition("refreshInputProperties",
                                      new DAXOActionFunction{nullptr, &Refresh}, true));
  ASSERT_TRUE(kernel()->RegisterSymbol("Engine.time", DAXOSymbolKind::Object,
                                       static_cast<DAXOModule*>(&time)));
  g_refreshed.clear();
  Source* src = MakeSource("src", 1000000);
  src->gated = true;
  Sink* dst = Make<Sink>("Sink", "dst");
  EXPECT_EQ(src->Property("out.fifosize")->IntegerValue(), 4);
  ASSERT_TRUE(engine.Connect("src.out", "dst.in"));
  ASSERT_TRUE(engine.StartDiagram());

  reports->Clear();
  src->Set(*src->Property("out.fifosize"), 8L);
  EXPECT_TRUE(Reported("*Cannot change the output fifo sizes while module is running.*"));
  EXPECT_EQ(src->Output(0).NbFreeSlotsInFIFO(), 4);

  DAXOProperty& readerType = *dst->Property("in.readerType");
  reports->Clear();
  dst->Set(readerType, static_cast<long>(DAXO::SamplingReader));
  EXPECT_TRUE(
      Reported("*Bad parameter: The input dst.in cannot be switched to SamplingReader or "
               "Wait4NextReader.*"));
  EXPECT_EQ(readerType.IntegerValue(), DAXO::NeverSkippingReader) << "shows the old type again";
  dst->Set(readerType, static_cast<long>(DAXO::LastOrNextReader));
  EXPECT_EQ(static_cast<DAXOInputImplementation&>(dst->Input(0)).readerType,
            DAXO::LastOrNextReader);
  EXPECT_EQ(g_refreshed, (std::vector<std::string>{"dst.in", "dst.in"}));
  engine.ShutdownDiagram();
  kernel()->UnregisterSymbol("Engine.time");

  // Stopped, the FIFO may be resized: new empty slots, a new buffer at start.
  src->Set(*src->Property("out.fifosize"), 8L);
  EXPECT_EQ(src->Output(0).NbFreeSlotsInFIFO(), 8);
}

}  // namespace
}  // namespace velquor::test

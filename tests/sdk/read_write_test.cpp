// Reading and writing primitives beyond the plain flow of samples: time
// stamps and the smoothing of periodic outputs, overfull vectors, readers
// that never block, input subsampling, sliding windows, synchronised reads,
// the limits of the several-input reads and the writer's hand-shake.
// Writers are driven from the test thread (writing needs no component
// thread); threaded readers run in the engine and hand-shake through
// counters and events, never through sleeps.
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "daxo_component.h"
#include "daxo_io.h"
#include "property_test_support.h"

namespace velquor::test {
namespace {

/// Runs the test's body as its Core; without one it waits for its death.
class Probe : public DAXOComponent {
 public:
  Probe(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    if (body) {
      body(*this);
    } else {
      Wait4Event(idle, -1);
    }
  }
  /// Waits for `gate` (or death) and closes it again.
  void Pass(DAXOEvent& gate) {
    Wait4Event(gate, -1);
    gate.Reset();
  }
  void Record(std::vector<int> values) {
    std::lock_guard<std::mutex> guard(lock);
    records.push_back(std::move(values));
  }
  std::vector<std::vector<int>> Records() {
    std::lock_guard<std::mutex> guard(lock);
    return records;
  }

  std::function<void(Probe&)> body;
  DAXOEvent idle;
  DAXOEvent step;
  DAXOEvent release;
  Counter got;
  std::mutex lock;
  std::vector<std::vector<int>> records;
  std::atomic<int> releasedUpTo{0};
};

DAXOComponent* NewProbe(const char* name, DAXOComponentDefinition& d) {
  return new Probe(name, d);
}

DAXOOutputDefinition g_outputs[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Integer32), 1, 8, 1, 0},
    {},
};
DAXOInputDefinition g_oneInput[] = {
    {"in", 0, &DAXO::FilterInteger32, DAXO::FifoReader, 1},
    {},
};
DAXOInputDefinition g_twoInputs[] = {
    {"a", 0, &DAXO::FilterInteger32, DAXO::FifoReader, 1},
    {"b", 0, &DAXO::FilterInteger32, DAXO::FifoReader, 1},
    {},
};

DAXOComponentDefinition Model(const char* name, bool threaded) {
  DAXOComponentDefinition d{name, "1.0", &NewProbe};
  d.kind = DAXO::Threaded | DAXO::Sequential;
  d.threaded = threaded;
  d.priority = 128;
  return d;
}

/// Least-squares line through `y` (x = 0, 1, ...) taken at the last x.
double FittedAtNewest(const std::vector<DAXOTimestamp>& y) {
  const double n = static_cast<double>(y.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    const double x = static_cast<double>(i);
    sx += x;
    sy += static_cast<double>(y[i]);
    sxx += x * x;
    sxy += x * static_cast<double>(y[i]);
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  return (sy - slope * sx) / n + slope * (n - 1);
}

class ReadWrite : public PropertyTest {
 protected:
  ReadWrite()
      : writer(Model("Writer", true)),
        reader(Model("Reader", true)),
        pair(Model("Pair", true)),
        sequential(Model("SequentialReader", false)) {
    writer.nbOutputs = DAXOComponentDefinition::CountUntilZeroRow;
    writer.outputs = g_outputs;
    for (DAXOComponentDefinition* d : {&reader, &sequential}) {
      d->nbInputs = DAXOComponentDefinition::CountUntilZeroRow;
      d->inputs = g_oneInput;
    }
    pair.nbInputs = DAXOComponentDefinition::CountUntilZeroRow;
    pair.inputs = g_twoInputs;
    for (DAXOComponentDefinition* d : {&writer, &reader, &pair, &sequential}) {
      EXPECT_TRUE(engine.AddModel(*d));
    }
  }
  ~ReadWrite() override { engine.ShutdownDiagram(); }

  Probe* Make(const std::string& model, const std::string& name) {
    EXPECT_TRUE(engine.CreateComponent(model, name));
    return static_cast<Probe*>(engine.Component(name));
  }

  /// Writes `value` with timestamp `t` (0: stamped on publication) and
  /// answers the published element.
  static DAXOIOElt* Write(Probe& w, int value, DAXOTimestamp t = 0) {
    DAXOIOElt* e = w.StartWriting(w.Output(0), t);
    EXPECT_NE(e, nullptr);
    if (e == nullptr) return nullptr;
    *e->Integer32(0) = value;
    w.StopWriting(e);
    return e;
  }

  bool ReportedContaining(const std::string& text, int level = DAXO::Error) {
    return reports->Contains([&](const ReportRecord& r) {
      return r.level == level && r.text.find(text) != std::string::npos;
    });
  }

  /// Polls `done` until it holds, at most 10 s.
  template <class F>
  static bool Eventually(F done) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::yield();
    }
    return true;
  }

  DAXOComponentDefinition writer, reader, pair, sequential;
};

TEST_F(ReadWrite, PublicationStampsWhatTheWriterLeftAtZeroWithEngineTime) {
  engine.StartClock();
  engine.JumpClock(5 * kSecond);
  Probe* w = Make("Writer", "w");
  DAXOOutput& out = w->Output(0);

  const DAXOTimestamp before = engine.Now();
  DAXOIOElt* e = w->StartWriting(out);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Timestamp(), 0);
  EXPECT_EQ(e->TimeOfIssue(), 0);
  w->StopWriting(e);
  const DAXOTimestamp after = engine.Now();
  EXPECT_GE(e->TimeOfIssue(), before);
  EXPECT_LE(e->TimeOfIssue(), after);
  EXPECT_EQ(e->Timestamp(), e->TimeOfIssue());

  // A timestamp of the writer's is kept; only the time of issue is stamped.
  e = Write(*w, 2, 1234);
  EXPECT_EQ(e->Timestamp(), 1234);
  EXPECT_GE(e->TimeOfIssue(), before);

  // A time of issue of the writer's is kept and serves as the timestamp.
  e = w->StartWriting(out);
  e->TimeOfIssue() = 777;
  w->StopWriting(e);
  EXPECT_EQ(e->TimeOfIssue(), 777);
  EXPECT_EQ(e->Timestamp(), 777);
  EXPECT_FALSE(ErrorReported());
}

TEST_F(ReadWrite, AnOverfullVectorIsReportedAndPublishedAllTheSame) {
  Probe* w = Make("Writer", "w");
  Probe* r = Make("Reader", "r");
  ASSERT_TRUE(engine.Connect("w.out", "r.in"));
  DAXOIOElt* e = w->StartWriting(w->Output(0), 10);
  ASSERT_NE(e, nullptr);
  e->VectorSize() = 3;
  reports->Clear();
  w->StopWriting(e);
  EXPECT_TRUE(ReportedContaining("Buffer overflow detected: VectorSize(3) > BufferSize(1)"));
  EXPECT_NE(w->State() & DAXO::ErrorState, 0u);
  EXPECT_EQ(r->Input(0).NbDataAvailableInFIFO(), 1) << "published all the same";
}

TEST_F(ReadWrite, APeriodicOutputSmoothsItsTimestampsOnceThirtyAreKnown) {
  Probe* w = Make("Writer", "w");
  w->Set(*w->Property("out.periodic"), true);
  std::vector<DAXOTimestamp> raw;
  bool smoothed = false;
  for (int i = 1; i <= 40; ++i) {
    const DAXOTimestamp t = 1000000 + 1000L * i + ((i * 37) % 11 - 5) * 20;
    raw.push_back(t);
    DAXOIOElt* e = Write(*w, i, t);
    if (i < 30) {
      EXPECT_EQ(e->Timestamp(), t) << "write " << i;
      continue;
    }
    const std::vector<DAXOTimestamp> window(raw.end() - 30, raw.end());
    EXPECT_NEAR(static_cast<double>(e->Timestamp()), FittedAtNewest(window), 1.0) << "write " << i;
    smoothed = smoothed || e->Timestamp() != t;
  }
  EXPECT_TRUE(smoothed) << "the jitter must show in the raw timestamps only";

  // A fitted value below the last published one gives way to the time of
  // issue.
  DAXOIOElt* e = w->StartWriting(w->Output(0), 500);
  e->TimeOfIssue() = 2000000;
  w->StopWriting(e);
  EXPECT_EQ(e->Timestamp(), 2000000);

  // Freeing the buffer forgets the history: no guard against the old
  // timestamps, no smoothing until 30 new ones.
  auto& out = static_cast<DAXOOutputImplementation&>(w->Output(0));
  out.FreeBuffer();
  out.AllocOutputBuffer(1);
  EXPECT_EQ(Write(*w, 1, 10)->Timestamp(), 10);

  // The guard holds before the window is full as well.
  e = w->StartWriting(out, 5);
  e->TimeOfIssue() = 9000;
  w->StopWriting(e);
  EXPECT_EQ(e->Timestamp(), 9000);

  // An output that is not periodic passes every timestamp unchanged.
  Probe* plain = Make("Writer", "plain");
  EXPECT_EQ(Write(*plain, 1, 5000)->Timestamp(), 5000);
  EXPECT_EQ(Write(*plain, 2, 4000)->Timestamp(), 4000);
}

TEST_F(ReadWrite, ASequentialComponentNeverBlocksInItsReads) {
  Probe* w = Make("Writer", "w");
  Probe* s = Make("SequentialReader", "s");
  ASSERT_TRUE(engine.Connect("w.out", "s.in"));
  s->body = [](Probe& self) {
    DAXOIOElt* first = self.StartReading(self.Input(0));
    DAXOIOElt* second = self.StartReading(self.Input(0));
    self.Record({first != nullptr ? *first->Integer32(0) : -1, second != nullptr ? 1 : 0,
                 self.CurrentInput() == &self.Input(0) ? 1 : 0});
    self.got.Raise();
  };
  ASSERT_TRUE(engine.StartComponent("s"));

  // Outside a sequential call, with nothing written: null at once.
  DAXOInput* inputs[1] = {&s->Input(0)};
  DAXOIOElt* window[2] = {};
  int which = 5;
  EXPECT_EQ(s->StartReading(s->Input(0)), nullptr);
  EXPECT_EQ(s->StartReading(1, inputs, &which), nullptr);
  EXPECT_FALSE(s->NLastStartReading(s->Input(0), 2, window));

  // A publication calls the reader on this thread: the first read takes
  // the sample, the second finds nothing new.
  Write(*w, 42, 100);
  ASSERT_EQ(s->got.Value(), 1);
  EXPECT_EQ(s->Records(), (std::vector<std::vector<int>>{{42, 0, 1}}));
  EXPECT_FALSE(ErrorReported());
}

TEST_F(ReadWrite, AThreadedReaderWithSubsamplingThreeGetsEveryThirdSample) {
  Probe* w = Make("Writer", "w");
  Probe* r = Make("Reader", "r");
  r->Set(*r->Property("in.subsampling"), 3L);
  ASSERT_TRUE(engine.Connect("w.out", "r.in"));
  r->body = [](Probe& self) {
    self.Pass(self.step);
    DAXOIOElt* e = self.StartReading(self.Input(0));
    self.Record({e != nullptr ? *e->Integer32(0) : -1});
    self.got.Raise();
  };
  for (int i = 1; i <= 6; ++i) Write(*w, i, 10L * i);
  ASSERT_TRUE(engine.StartComponent("r"));

  r->step.Set();
  ASSERT_TRUE(r->got.WaitAtLeast(1));
  EXPECT_EQ(r->Records(), (std::vector<std::vector<int>>{{3}}));
  // Samples 1 and 2 went back at once; 3 is held; 4 to 6 wait.
  EXPECT_EQ(w->Output(0).NbFreeSlotsInFIFO(), 8 - 6 + 2);

  r->step.Set();
  ASSERT_TRUE(r->got.WaitAtLeast(2));
  EXPECT_EQ(r->Records(), (std::vector<std::vector<int>>{{3}, {6}}));
  EXPECT_EQ(w->Output(0).NbFreeSlotsInFIFO(), 8 - 1);
  EXPECT_FALSE(ErrorReported());
}

TEST_F(ReadWrite, ASlidingWindowWaitsUntilItIsFullThenMovesByOneSample) {
  Probe* w = Make("Writer", "w");
  Probe* r = Make("Reader", "r");
  ASSERT_TRUE(engine.Connect("w.out", "r.in"));
  r->body = [](Probe& self) {
    DAXOIOElt* window[3] = {};
    std::vector<int> values;
    if (self.NLastStartReading(self.Input(0), 3, window)) {
      for (DAXOIOElt* e : window) values.push_back(*e->Integer32(0));
    }
    self.Record(values);
    self.got.Raise();
  };
  ASSERT_TRUE(engine.StartComponent("r"));
  Write(*w, 1, 10);
  Write(*w, 2, 20);
  // Both taken and held: the reader is waiting for a third.
  ASSERT_TRUE(Eventually([&] { return !r->Input(0).DataAvailableInFIFO(); }));
  EXPECT_EQ(r->got.Value(), 0);

  Write(*w, 3, 30);
  ASSERT_TRUE(r->got.WaitAtLeast(1));
  Write(*w, 4, 40);
  ASSERT_TRUE(r->got.WaitAtLeast(2));
  EXPECT_EQ(r->Records(), (std::vector<std::vector<int>>{{1, 2, 3}, {2, 3, 4}}));
  // The oldest sample left the window and its slot.
  ASSERT_TRUE(Eventually([&] { return !r->Input(0).DataAvailableInFIFO(); }));
  EXPECT_EQ(w->Output(0).NbFreeSlotsInFIFO(), 8 - 3);
  EXPECT_FALSE(ErrorReported());
}

TEST_F(ReadWrite, AWindowIsGivenBackWhenItsWriterShutsDown) {
  Probe* w = Make("Writer", "w");
  Probe* r = Make("Reader", "r");
  ASSERT_TRUE(engine.Connect("w.out", "r.in"));
  r->body = [](Probe& self) {
    DAXOIOElt* window[3] = {};
    std::vector<int> values;
    if (self.NLastStartReading(self.Input(0), 3, window)) {
      for (DAXOIOElt* e : window) values.push_back(*e->Integer32(0));
    }
    self.Record(values);
    self.got.Raise();
  };
  ASSERT_TRUE(engine.StartComponent("w"));
  ASSERT_TRUE(engine.StartComponent("r"));
  Write(*w, 1, 10);
  Write(*w, 2, 20);
  ASSERT_TRUE(Eventually([&] { return !r->Input(0).DataAvailableInFIFO(); }));

  // The writer's buffer goes while the reader waits holding two of its
  // samples: the reader must let them go, not show them (or what the next
  // buffer puts in their place) in a later window.
  ASSERT_TRUE(engine.ShutdownComponent("w"));
  EXPECT_EQ(w->Output(0).NbFreeSlotsInFIFO(), 8);
  ASSERT_TRUE(engine.StartComponent("w"));
  for (int i = 3; i <= 5; ++i) Write(*w, i, 10L * i);
  ASSERT_TRUE(Eventually([&] {
    const auto records = r->Records();
    return !records.empty() && !records.back().empty();
  }));
  const auto records = r->Records();
  EXPECT_EQ(records.back(), (std::vector<int>{3, 4, 5}));
  for (size_t i = 0; i + 1 < records.size(); ++i) {
    EXPECT_TRUE(records[i].empty()) << "the interrupted window is no window";
  }
}

TEST_F(ReadWrite, SynchronisedReadsMatchTimestampsAndFollowTheNewestReference) {
  Probe* w0 = Make("Writer", "w0");
  Probe* w1 = Make("Writer", "w1");
  Probe* p = Make("Pair", "p");
  ASSERT_TRUE(engine.Connect("w0.out", "p.a"));
  ASSERT_TRUE(engine.Connect("w1.out", "p.b"));
  p->body = [](Probe& self) {
    DAXOInput* inputs[2] = {&self.Input(0), &self.Input(1)};
    DAXOIOElt* out[2] = {};
    const DAXOTimestamp t = self.SynchroStartReading(2, inputs, out, 0);
    self.Record({static_cast<int>(t), out[0] != nullptr ? *out[0]->Integer32(0) : -1,
                 out[1] != nullptr ? *out[1]->Integer32(0) : -1});
    self.got.Raise();
  };
  Write(*w0, 1, 50);
  Write(*w1, 2, 50);
  ASSERT_TRUE(engine.StartComponent("p"));
  ASSERT_TRUE(p->got.WaitAtLeast(1));

  // 100 on a, then 200 on b: 200 is the new reference and a is read again.
  Write(*w0, 3, 100);
  Write(*w1, 4, 200);
  Write(*w0, 5, 200);
  ASSERT_TRUE(p->got.WaitAtLeast(2));
  EXPECT_EQ(p->Records(), (std::vector<std::vector<int>>{{50, 1, 2}, {200, 5, 4}}));
  EXPECT_FALSE(ErrorReported());
}

TEST_F(ReadWrite, ReadsBeyondTheirLimitsAreReportedAsErrorsOfTheComponent) {
  Probe* r = Make("Reader", "r");
  DAXOEvent cancel;
  DAXOInput* inputs[257];
  DAXOEvent* cancels[33];
  for (DAXOInput*& input : inputs) input = &r->Input(0);
  for (DAXOEvent*& event : cancels) event = &cancel;
  int which = 0;

  reports->Clear();
  EXPECT_EQ(r->StartReading(33, inputs, &which), nullptr);
  EXPECT_TRUE(
      ReportedContaining("StartReading can't wait for more than 32 inputs simultaneously."));
  EXPECT_TRUE(ReportedContaining("Failed to start reading on multiple inputs"));
  EXPECT_NE(r->State() & DAXO::ErrorState, 0u);

  reports->Clear();
  EXPECT_EQ(r->StartReading(1, inputs, &which, 33, cancels), nullptr);
  EXPECT_TRUE(ReportedContaining("StartReading can't wait on more than 32 events simultaneously."));
  EXPECT_TRUE(ReportedContaining("Failed to start reading on multiple inputs"));

  reports->Clear();
  EXPECT_EQ(r->MsgStartReading(1, inputs, &which, 33, cancels), nullptr);
  EXPECT_TRUE(
      ReportedContaining("MsgStartReading can't wait on more than 32 events simultaneously."));

  // Synchronised reads check their arguments and clear what they answer.
  DAXOIOElt* out[257];
  for (DAXOIOElt*& e : out) e = reinterpret_cast<DAXOIOElt*>(&cancel);
  reports->Clear();
  EXPECT_EQ(r->SynchroStartReading(0, inputs, out, 0), -1);
  EXPECT_TRUE(ReportedContaining("The number of inputs cannot be negative."));
  EXPECT_EQ(r->SynchroStartReading(257, inputs, out, 0), -1);
  EXPECT_TRUE(
      ReportedContaining("Can't SynchroStartRead on more than 256 inputs simultaneously. Sorry."));
  EXPECT_EQ(r->SynchroStartReading(1, inputs, out, -1), -1);
  EXPECT_TRUE(ReportedContaining("synchroTolerance cannot be negative"));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(out[i], nullptr) << i;
  EXPECT_NE(out[256], nullptr) << "nothing beyond 256 inputs is touched";
}

TEST_F(ReadWrite, AHandshakeWaitsUntilEveryReaderGaveTheNewSampleBack) {
  Probe* w = Make("Writer", "w");
  Probe* r = Make("Reader", "r");
  ASSERT_TRUE(engine.Connect("w.out", "r.in"));
  r->body = [](Probe& self) {
    self.Pass(self.step);
    DAXOIOElt* e = self.StartReading(self.Input(0));
    self.got.Raise();
    self.Pass(self.release);
    self.releasedUpTo = e != nullptr ? *e->Integer32(0) : -1;
    self.StopReading(self.Input(0));
  };
  ASSERT_TRUE(engine.StartComponent("r"));

  for (int k = 1; k <= 3; ++k) {
    Write(*w, k, 10L * k);
    r->step.Set();
    ASSERT_TRUE(r->got.WaitAtLeast(k));
    Counter calling;
    std::atomic<int> seen{-1};
    std::thread waiter([&] {
      calling.Raise();
      w->Wait4Handshake(w->Output(0));
      seen = r->releasedUpTo.load();
    });
    ASSERT_TRUE(calling.WaitAtLeast(1));
    r->release.Set();
    waiter.join();
    EXPECT_EQ(seen.load(), k) << "the hand-shake of sample " << k << " ended early";
  }

  // A dying writer does not wait.
  w->Die();
  try {
    w->Wait4Handshake(w->Output(0));
    ADD_FAILURE() << "no ModuleDied";
  } catch (int code) {
    EXPECT_EQ(code, DAXO::ModuleDied);
  }
}

}  // namespace
}  // namespace velquor::test

// Reading and writing primitives beyond the plain flow of samples: time
// stamps and the smoothing of periodic outputs, overfull vectors, readers
// that never block, input subsampling, sliding windows, synchronised reads,
// the limits of the several-input reads, the writer's hand-shake, and the
// end of a life after a failed primitive (but not after a detachment).
// Writers are driven from the test thread (writing needs no component
// thread); threaded readers run in the engine and hand-shake through
// counters and events, never through sleeps.
#include <atomic>
#include <functional>
#include <mutex>
#include <tuple>
#include <vector>

#include "daxo_io.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

/// Runs the test's body as its Core (and `birth` as its Birth); without a
/// body it waits for its death. Counts its Cores and deaths.
class Probe : public DAXOComponent {
 public:
  Probe(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Birth() override {
    if (birth) birth(*this);
  }
  void Death() override { deaths.Raise(); }
  void Core() override {
    cores.Raise();
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
  std::function<void(Probe&)> birth;
  Counter cores;
  Counter deaths;
  Counter nulls;  // primitives that answered null
  DAXOEvent idle;
  DAXOEvent step;
  DAXOEvent release;
  Counter got;
  std::mutex lock;
  std::vector<std::vector<int>> records;
  std::atomic<int> releasedUpTo{0};
};

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
// A FIFO of one slot: a second sample cannot start while the first is held,
// nor while a never-skipping reader has not had it.
DAXOOutputDefinition g_oneSlotOutput[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Integer32), 1, 1, 1, 0},
    {},
};
DAXOInputDefinition g_neverSkippingInput[] = {
    {"in", 0, &DAXO::FilterInteger32, DAXO::NeverSkippingReader, 1},
    {},
};

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

/// Records the window of the last three samples, or nothing when there is none.
void ReadWindowOfThree(Probe& self) {
  DAXOIOElt* window[3] = {};
  std::vector<int> values;
  if (self.NLastStartReading(self.Input(0), 3, window)) {
    for (DAXOIOElt* e : window) values.push_back(*e->Integer32(0));
  }
  self.Record(values);
  self.got.Raise();
}

/// Records a synchronised read of both inputs: its time and the values (-1
/// for none).
void ReadSynchronisedPair(Probe& self) {
  DAXOInput* inputs[2] = {&self.Input(0), &self.Input(1)};
  DAXOIOElt* out[2] = {};
  const DAXOTimestamp t = self.SynchroStartReading(2, inputs, out, 0);
  self.Record({static_cast<int>(t), out[0] != nullptr ? *out[0]->Integer32(0) : -1,
               out[1] != nullptr ? *out[1]->Integer32(0) : -1});
  self.got.Raise();
}

class ReadWrite : public PropertyTest {
 protected:
  ReadWrite() {
    for (DAXOComponentDefinition& d : models) EXPECT_TRUE(engine.AddModel(d));
  }
  ~ReadWrite() override { engine.ShutdownDiagram(); }

  Probe* Make(const std::string& model, const std::string& name) {
    return PropertyTest::Make<Probe>(model, name);
  }
  /// Writer "w" feeding the input of reader "r" of `model`.
  std::pair<Probe*, Probe*> WriterInto(const std::string& model) {
    Probe* w = Make("Writer", "w");
    Probe* r = Make(model, "r");
    EXPECT_TRUE(engine.Connect("w.out", "r.in"));
    return {w, r};
  }
  /// Reader "p" of `model` fed by writers "w0" and "w1" on its inputs a and b.
  std::tuple<Probe*, Probe*, Probe*> TwoWritersInto(const std::string& model) {
    Probe* w0 = Make("Writer", "w0");
    Probe* w1 = Make("Writer", "w1");
    Probe* p = Make(model, "p");
    EXPECT_TRUE(engine.Connect("w0.out", "p.a"));
    EXPECT_TRUE(engine.Connect("w1.out", "p.b"));
    return {p, w0, w1};
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

  DAXOComponentDefinition models[8] = {
      Model<Probe>("Writer", true, nullptr, g_outputs),
      Model<Probe>("Reader", true, g_oneInput),
      Model<Probe>("Pair", true, g_twoInputs),
      Model<Probe>("SequentialReader", false, g_oneInput),
      Model<Probe>("SequentialPair", false, g_twoInputs),
      Model<Probe>("Relay", true, g_oneInput, g_oneSlotOutput),
      Model<Probe>("SequentialRelay", false, g_oneInput, g_oneSlotOutput),
      Model<Probe>("Holder", true, g_neverSkippingInput),
  };
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
  auto [w, r] = WriterInto("Reader");
  DAXOIOElt* e = w->StartWriting(w->Output(0), 10);
  ASSERT_NE(e, nullptr);
  e->VectorSize() = 3;
  reports->Clear();
  w->StopWriting(e);
  EXPECT_TRUE(Reported("*Buffer overflow detected: VectorSize(3) > BufferSize(1)*"));
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
  auto [w, s] = WriterInto("SequentialReader");
  s->body = [](Probe& self) {
    DAXOIOElt* first = self.StartReading(self.Input(0));
    DAXOIOElt* second = self.StartReading(self.Input(0));
    self.Record({first != nullptr ? *first->Integer32(0) : -1, second != nullptr ? 1 : 0,
                 self.CurrentInput() == &self.Input(0) ? 1 : 0});
    self.got.Raise();
  };
  ASSERT_TRUE(engine.StartComponent("r"));

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
  auto [w, r] = WriterInto("Reader");
  r->Set(*r->Property("in.subsampling"), 3L);
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
  auto [w, r] = WriterInto("Reader");
  r->body = ReadWindowOfThree;
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
  auto [w, r] = WriterInto("Reader");
  r->body = ReadWindowOfThree;
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
  auto [p, w0, w1] = TwoWritersInto("Pair");
  p->body = ReadSynchronisedPair;
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
  EXPECT_TRUE(Reported("*StartReading can't wait for more than 32 inputs simultaneously.*"));
  EXPECT_TRUE(Reported("*Failed to start reading on multiple inputs*"));
  EXPECT_NE(r->State() & DAXO::ErrorState, 0u);

  reports->Clear();
  EXPECT_EQ(r->StartReading(1, inputs, &which, 33, cancels), nullptr);
  EXPECT_TRUE(Reported("*StartReading can't wait on more than 32 events simultaneously.*"));
  EXPECT_TRUE(Reported("*Failed to start reading on multiple inputs*"));

  reports->Clear();
  EXPECT_EQ(r->MsgStartReading(1, inputs, &which, 33, cancels), nullptr);
  EXPECT_TRUE(Reported("*MsgStartReading can't wait on more than 32 events simultaneously.*"));

  // Synchronised reads check their arguments and clear what they answer.
  DAXOIOElt* out[257];
  for (DAXOIOElt*& e : out) e = reinterpret_cast<DAXOIOElt*>(&cancel);
  reports->Clear();
  EXPECT_EQ(r->SynchroStartReading(0, inputs, out, 0), -1);
  EXPECT_TRUE(Reported("*The number of inputs cannot be negative.*"));
  EXPECT_EQ(r->SynchroStartReading(257, inputs, out, 0), -1);
  EXPECT_TRUE(Reported("*Can't SynchroStartRead on more than 256 inputs simultaneously. Sorry.*"));
  EXPECT_EQ(r->SynchroStartReading(1, inputs, out, -1), -1);
  EXPECT_TRUE(Reported("*synchroTolerance cannot be negative*"));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(out[i], nullptr) << i;
  EXPECT_NE(out[256], nullptr) << "nothing beyond 256 inputs is touched";
}

TEST_F(ReadWrite, AHandshakeWaitsUntilEveryReaderGaveTheNewSampleBack) {
  auto [w, r] = WriterInto("Reader");
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

  w->Die();
  EXPECT_EQ(Thrown([&] { w->Wait4Handshake(w->Output(0)); }), DAXO::ModuleDied)
      << "a dying writer does not wait";
}

TEST_F(ReadWrite, ASequentialSynchronisedReadAnswersMinusOneWhenAnInputHasNothingYet) {
  // Fault caught: the read of the input not being served answers null, and
  // the synchronised read retried it for ever on the writer's thread.
  auto [p, w0, w1] = TwoWritersInto("SequentialPair");
  p->body = ReadSynchronisedPair;
  ASSERT_TRUE(engine.StartComponent("p"));
  Write(*w0, 1, 50);
  EXPECT_EQ(p->Records(), (std::vector<std::vector<int>>{{-1, -1, -1}}));
  EXPECT_EQ(p->State() & (DAXO::ErrorState | DAXO::LivingState), DAXO::LivingState);
  EXPECT_FALSE(ErrorReported());
}

// --- a failed primitive ends the life ------------------------------------------

enum class Failure {
  NoFreeSlot,   // the one slot is still held by the writer itself
  AbortedWait,  // the wait for a never-skipping reader is aborted
};
enum class Step { Birth, Core };

using FailureCase = std::tuple<bool /*threaded*/, Failure, Step>;

class FailedPrimitive : public ReadWrite, public ::testing::WithParamInterface<FailureCase> {
 protected:
  /// Starts a sample on the relay's output the way `failure` makes fail:
  /// null (and the failure counted) or the sample. AbortedWait: the one
  /// slot must already hold a sample that the holder has not had.
  static DAXOIOElt* StartFailingWrite(Probe& self, Failure failure) {
    // NoFreeSlot: this sample is never stopped, its slot stays held.
    if (failure == Failure::NoFreeSlot) self.StartWriting(self.Output(0));
    DAXOIOElt* e = self.StartWriting(self.Output(0));
    if (e == nullptr) self.nulls.Raise();
    return e;
  }
};

// The relay passes each sample of its input on; its Birth, or its Core for
// the second sample, fails to start writing. Faults caught: a lifecycle that
// keeps calling Core (or goes from Birth to Core) after the failure, a death
// not reported as an error or run twice, a failure reported more than once,
// an aborted writer's wait answered with null but taken for no failure.
TEST_P(FailedPrimitive, EndsTheLifeOnceAfterTheStepDuringWhichItFailed) {
  const auto [threaded, failure, step] = GetParam();
  Probe* w = Make("Writer", "w");
  Probe* f = Make(threaded ? "Relay" : "SequentialRelay", "f");
  ASSERT_TRUE(engine.Connect("w.out", "f.in"));
  if (failure == Failure::AbortedWait) {
    Make("Holder", "h");  // never started: never reads
    ASSERT_TRUE(engine.Connect("f.out", "h.in"));
  }
  const int failingCore = step == Step::Core ? 2 : 0;
  if (step == Step::Birth) {
    f->birth = [failure](Probe& self) {
      if (failure == Failure::AbortedWait) {  // the slot goes to the holder, which never reads
        DAXOIOElt* e = self.StartWriting(self.Output(0));
        if (e == nullptr) return;
        self.StopWriting(e);
      }
      if (StartFailingWrite(self, failure) != nullptr) ADD_FAILURE() << "the write did not fail";
    };
  }
  f->body = [failure](Probe& self) {
    DAXOIOElt* in = self.StartReading(self.Input(0));
    if (in == nullptr) return;
    const int value = *in->Integer32(0);
    DAXOIOElt* out =
        value == 2 ? StartFailingWrite(self, failure) : self.StartWriting(self.Output(0));
    if (out == nullptr) return;
    *out->Integer32(0) = value;
    self.StopWriting(out);
  };
  reports->Clear();
  if (step == Step::Core) {
    ASSERT_TRUE(engine.StartComponent("f"));
    Write(*w, 1, 10);
  }
  // The failing step runs here, or on the relay's thread: a sequential
  // relay's Birth runs in its start and its Core in the write of its input.
  std::thread failing([&] {
    if (step == Step::Birth) {
      engine.StartComponent("f");
    } else {
      Write(*w, 2, 20);
    }
  });
  if (failure == Failure::AbortedWait) {
    // An abort counts only while the writer waits: repeated until it gave up.
    DAXOIOMonitorImplementation* fifo = static_cast<DAXOOutputImplementation&>(f->Output(0)).Fifo();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!f->nulls.WaitAtLeast(1, std::chrono::milliseconds(1)) &&
           std::chrono::steady_clock::now() < giveUp) {
      fifo->AbortWriter();
    }
  }
  failing.join();
  ASSERT_TRUE(f->nulls.WaitAtLeast(1));
  ASSERT_TRUE(f->deaths.WaitAtLeast(1)) << "the life goes on after the failure";
  Write(*w, 3, 30);  // served by nobody now
  ASSERT_TRUE(engine.ShutdownComponent("f"));

  EXPECT_EQ(f->cores.Value(), failingCore);
  EXPECT_EQ(f->nulls.Value(), 1);
  EXPECT_EQ(f->deaths.Value(), 1);
  EXPECT_EQ(f->State() & ~DAXO::StartAutomaticallyState, DAXO::DeadState | DAXO::ErrorState);
  EXPECT_EQ(Count("*component f: Failed to start writing on f.out*", DAXO::Error), 1);
  const std::string death = threaded ? "component f (threaded) died due to an error."
                                     : "External : component f (sequential) died due to an error.";
  EXPECT_EQ(Count("*" + death + "*", DAXO::Warning), 1);
  EXPECT_EQ(Count("*died due to an error*", DAXO::Warning), 1);
}

std::string FailureCaseName(const ::testing::TestParamInfo<FailureCase>& info) {
  return std::string(std::get<0>(info.param) ? "Threaded" : "Sequential") +
         (std::get<2>(info.param) == Step::Birth ? "Birth" : "Core") +
         (std::get<1>(info.param) == Failure::NoFreeSlot ? "NoFreeSlot" : "AbortedWait");
}

INSTANTIATE_TEST_SUITE_P(EveryModel, FailedPrimitive,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(Failure::NoFreeSlot,
                                                              Failure::AbortedWait),
                                            ::testing::Values(Step::Birth, Step::Core)),
                         FailureCaseName);

TEST_F(ReadWrite, ANullReadAfterADetachmentLeavesTheLifeGoingOn) {
  // Fault caught: the null of a detached input taken for a failure (error
  // state, the life ended), as the recorders' two-input reads would see it.
  auto [p, w0, w1] = TwoWritersInto("Pair");
  p->body = [](Probe& self) {
    DAXOInput* inputs[2] = {&self.Input(0), &self.Input(1)};
    int which = -1;
    DAXOIOElt* e = self.StartReading(2, inputs, &which);
    self.Record({e != nullptr ? *e->Integer32(0) : -1, which});
    self.got.Raise();
  };
  ASSERT_TRUE(engine.StartComponent("p"));
  Write(*w0, 1, 10);
  ASSERT_TRUE(p->got.WaitAtLeast(1));
  // The reader holds sample 1 of "a": the detachment takes it back and the
  // read gives up with null, naming "a".
  ASSERT_TRUE(engine.Disconnect("p.a"));
  ASSERT_TRUE(p->got.WaitAtLeast(2));
  Write(*w1, 2, 20);
  ASSERT_TRUE(p->got.WaitAtLeast(3));
  Probe* w2 = Make("Writer", "w2");
  ASSERT_TRUE(engine.Connect("w2.out", "p.a"));
  Write(*w2, 3, 30);
  ASSERT_TRUE(p->got.WaitAtLeast(4));
  EXPECT_EQ(p->Records(), (std::vector<std::vector<int>>{{1, 0}, {-1, 0}, {2, 1}, {3, 0}}));
  EXPECT_EQ(p->State() & (DAXO::ErrorState | DAXO::LivingState), DAXO::LivingState);
  EXPECT_EQ(p->deaths.Value(), 0);
  EXPECT_FALSE(ErrorReported());
}

}  // namespace
}  // namespace velquor::test

// The sorted start-reading template in the real engine: a feeder writes
// Integer32 samples with chosen timestamps on several outputs, each wired to
// one input of a derived DAXOSortedStartReadingComponent that records what
// ProcessSortedIOElt receives; a reader records "late_samples_count". The
// engine clock is held (speed 0) at a fixed time once the component is born.
#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "daxo_io.h"
#include "daxo_services.h"
#include "daxo_sorted_start_reading_component.h"
#include "daxo_time.h"
#include "daxo_type_filter.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

constexpr DAXOTimestamp kNow = 1000000000;  // engine time while held (µs)
constexpr DAXOTimestamp kSecond = 1000000;

/// Writes each queued (output index, timestamp) request.
class Feeder : public DAXOComponent {
 public:
  Feeder(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOEvent* events[2] = {&release, &DieEvent()};
    if (DAXOEvent::Wait(2, events, -1) != 0) throw DAXO::ModuleDied;
    std::deque<std::pair<int, DAXOTimestamp>> todo;
    {
      std::lock_guard<std::mutex> guard(lock);
      release.Reset();
      todo.swap(requests);
    }
    for (auto [output, t] : todo) {
      DAXOIOElt* e = StartWriting(Output(output), t);
      if (e == nullptr) return;
      *e->Integer32(0) = output;
      e->Timestamp() = t;
      StopWriting(e);
      written.Raise();
    }
  }
  void Send(int output, DAXOTimestamp t) {
    std::lock_guard<std::mutex> guard(lock);
    requests.emplace_back(output, t);
    release.Set();
  }
  std::mutex lock;
  std::deque<std::pair<int, DAXOTimestamp>> requests;
  DAXOEvent release;
  Counter written;
};

struct Handed {
  int input;
  DAXOTimestamp t;
  bool unsorted;
  bool late;
  bool operator==(const Handed&) const = default;
};

class Sorter : public DAXOSortedStartReadingComponent {
 public:
  using DAXOSortedStartReadingComponent::DAXOSortedStartReadingComponent;
  void ProcessSortedIOElt(DAXOIOElt* element, int inputIndex, bool unsorted, bool late) override {
    {
      std::lock_guard<std::mutex> guard(lock);
      handed.push_back({inputIndex, element->Timestamp(), unsorted, late});
    }
    calls.Raise();
  }
  std::vector<Handed> Handled() {
    std::lock_guard<std::mutex> guard(lock);
    return handed;
  }
  std::mutex lock;
  std::vector<Handed> handed;
  Counter calls;
};

/// Records (count, timestamp) of every sample read.
class CountReader : public DAXOComponent {
 public:
  CountReader(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    DAXOIOElt* e = StartReading(Input(0));
    if (e == nullptr) return;
    {
      std::lock_guard<std::mutex> guard(lock);
      counts.emplace_back(*e->Integer32(0), e->Timestamp());
    }
    received.Raise();
  }
  std::vector<std::pair<DAXOInt32, DAXOTimestamp>> Counts() {
    std::lock_guard<std::mutex> guard(lock);
    return counts;
  }
  std::mutex lock;
  std::vector<std::pair<DAXOInt32, DAXOTimestamp>> counts;
  Counter received;
};

DAXOInputDefinition g_countInputs[] = {
    {"in", 0, &DAXO::FilterInteger32, DAXO::NeverSkippingReader, 1},
    {},
};

class SortedStartReading : public PropertyTest {
 protected:
  // The models below die before the engine (a base): the components, which
  // read their model as they go, must go first.
  ~SortedStartReading() override {
    for (const std::string& name : engine.Components()) engine.DestroyComponent(name);
  }

  /// A feeder with `n` outputs wired to a sorter with `n` inputs, born with
  /// the clock at real time, then held at kNow; "late_samples_count" read.
  void Wire(int n, long maxLatency, bool connect = true) { Wire(n, maxLatency, connect, 1000); }
  /// As above, with the clock's speed at Birth `speed` (0: the latency timer
  /// never runs, so only arrivals hand samples over).
  void Wire(int n, long maxLatency, bool connect, int speed) {
    for (int i = 0; i < n; ++i) names.push_back(std::to_string(i));
    for (int i = 0; i < n; ++i) {
      outputNames.push_back("out" + names[static_cast<size_t>(i)]);
      inputNames.push_back("in" + names[static_cast<size_t>(i)]);
    }
    for (int i = 0; i < n; ++i) {
      outputs.push_back({outputNames[static_cast<size_t>(i)].c_str(), 0,
                         DAXOTypeInfo(DAXO::Integer32), 1, 16, 1, 0});
      inputs.push_back({inputNames[static_cast<size_t>(i)].c_str(), 0, &DAXO::FilterInteger32,
                        DAXO::FifoReader, 1});
    }
    outputs.emplace_back();
    inputs.emplace_back();
    // The sorter's definition leaves the template's rows out: Dynamic() declares them.
    models = {Model<Feeder>("Feeder", true, nullptr, outputs.data()),
              Model<Sorter>("Sorter", true, inputs.data()),
              Model<CountReader>("CountReader", true, g_countInputs)};
    for (DAXOComponentDefinition& d : models) ASSERT_TRUE(engine.AddModel(d));
    src = Make<Feeder>("Feeder", "src");
    dst = Make<Sorter>("Sorter", "dst");
    lateReader = Make<CountReader>("CountReader", "late");
    dst->Set(*dst->Property("max_latency"), maxLatency);
    dst->Set(*dst->Property("verbose"), true);
    ASSERT_TRUE(engine.Connect("dst.late_samples_count", "late.in"));
    for (int i = 0; connect && i < n; ++i) {
      ASSERT_TRUE(engine.Connect("src." + outputNames[static_cast<size_t>(i)],
                                 "dst." + inputNames[static_cast<size_t>(i)]));
    }
    engine.StartClock();
    engine.SetClockSpeed(speed);
    engine.FlushListenerNotices();  // the clock's start reaches dst before its Birth
  }
  /// Starts the diagram and holds engine time at kNow; the hold's flush is
  /// over when this returns.
  void StartHeld() {
    ASSERT_TRUE(engine.StartDiagram());
    ASSERT_TRUE(Eventually([&] { return dst->BirthSignalled(); }));
    engine.SetClockSpeed(0);
    engine.JumpClock(kNow);  // forwards: no flush
    engine.FlushListenerNotices();
    ASSERT_TRUE(Eventually([&] { return Flushes() >= 1; }));
    ASSERT_EQ(engine.Now(), kNow);
  }
  int Flushes() { return Count("*: Time changed event. Flushing.", DAXO::Warning); }
  /// Sends `t` on input `i` and waits until dst has taken it.
  void Queue(int i, DAXOTimestamp t) {
    const int written = src->written.Value();
    src->Send(i, t);
    ASSERT_TRUE(src->written.WaitAtLeast(written + 1));
    DAXOInput& in = dst->Input(i);
    ASSERT_TRUE(Eventually([&] { return in.NbDataAvailableInFIFO() == 0; }));
  }

  std::vector<std::string> names, outputNames, inputNames;
  std::vector<DAXOOutputDefinition> outputs;
  std::vector<DAXOInputDefinition> inputs;
  std::vector<DAXOComponentDefinition> models;
  Feeder* src = nullptr;
  Sorter* dst = nullptr;
  CountReader* lateReader = nullptr;
};

/// Per input, how long before engine time its one sample is stamped (µs).
using Offsets = std::vector<DAXOTimestamp>;

class WithinLatency : public SortedStartReading, public ::testing::WithParamInterface<Offsets> {};

TEST_P(WithinLatency, SamplesAreHandedOverInTimestampOrderNeitherUnsortedNorLate) {
  const Offsets& offsets = GetParam();
  const int n = static_cast<int>(offsets.size());
  // The latency timer hands over the oldest one at most 2 s of real time
  // later; the others have 1.6 s to arrive before it is due (room for a
  // slow, sanitised build).
  Wire(n, 3 * kSecond);
  StartHeld();
  std::vector<Handed> expected;
  for (int i = 0; i < n; ++i) {
    expected.push_back({i, kNow - offsets[static_cast<size_t>(i)], false, false});
    src->Send(i, expected.back().t);
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const Handed& a, const Handed& b) { return a.t < b.t; });
  ASSERT_TRUE(dst->calls.WaitAtLeast(n));
  EXPECT_EQ(dst->Handled(), expected);
  EXPECT_TRUE(lateReader->Counts().empty());
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

INSTANTIATE_TEST_SUITE_P(Inputs, WithinLatency,
                         ::testing::Values(Offsets{1000000, 1100000}, Offsets{1100000, 1000000},
                                           Offsets{1400000, 1000000, 1200000, 1300000},
                                           Offsets{1000000, 1000001, 1000002}));

TEST_F(SortedStartReading, ALateSampleFollowsTheOlderQueuedOnesAtOnceAndIsCounted) {
  // Born with the clock held: no latency timer, whose next pass after a
  // sample is queued could otherwise come after the jump below and hand the
  // front over as on time.
  Wire(3, 60 * kSecond, true, 0);
  ASSERT_TRUE(engine.StartDiagram());
  ASSERT_TRUE(Eventually([&] { return dst->BirthSignalled(); }));
  engine.JumpClock(kNow);  // forwards: no flush
  engine.FlushListenerNotices();
  Queue(0, kNow - 50 * kSecond);  // both queued
  Queue(1, kNow - 40 * kSecond);
  engine.JumpClock(kNow + 100 * kSecond);  // forwards: no flush; now - latency = kNow + 40 s
  engine.FlushListenerNotices();
  src->Send(2, kNow - 30 * kSecond);  // late, newer than both queued
  ASSERT_TRUE(dst->calls.WaitAtLeast(3));
  src->Send(2, kNow - 45 * kSecond);  // late and older than the last handed over
  ASSERT_TRUE(dst->calls.WaitAtLeast(4));
  const std::vector<Handed> expected = {
      {0, kNow - 50 * kSecond, false, true},
      {1, kNow - 40 * kSecond, false, true},
      {2, kNow - 30 * kSecond, false, true},
      {2, kNow - 45 * kSecond, true, true},
  };
  EXPECT_EQ(dst->Handled(), expected);
  ASSERT_TRUE(lateReader->received.WaitAtLeast(4));
  using Count = std::pair<DAXOInt32, DAXOTimestamp>;
  const std::vector<Count> counts = {{1, kNow - 50 * kSecond},
                                     {2, kNow - 40 * kSecond},
                                     {3, kNow - 30 * kSecond},
                                     {4, kNow - 45 * kSecond}};
  EXPECT_EQ(lateReader->Counts(), counts);
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

// The engine's notices arrive after the clock moved on: a jump empties the
// queue only when it goes back before a sample already seen (the clock's
// start, seen as a jump, once dropped the first samples of every run).
TEST_F(SortedStartReading, OnlyAJumpBackBeforeTheNewestSampleEmptiesTheQueue) {
  Wire(4, 60 * kSecond);  // one input left watched: nothing is handed over
  StartHeld();
  Queue(0, kNow - 5 * kSecond);
  engine.JumpClock(kNow - kSecond);  // back, but after every sample seen
  engine.FlushListenerNotices();
  Queue(1, kNow - 4 * kSecond);
  Queue(2, kNow - 3 * kSecond);  // dst has looked at its events since the jump
  EXPECT_EQ(Flushes(), 1);
  engine.JumpClock(kNow - 3 * kSecond - 1);
  engine.FlushListenerNotices();
  ASSERT_TRUE(Eventually([&] { return Flushes() == 2; }));
  EXPECT_EQ(dst->calls.Value(), 0);
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(SortedStartReading, ASampleMoreThan1000MicrosecondsAheadIsDropped) {
  Wire(1, 100000);
  StartHeld();
  src->Send(0, kNow + 1001);
  src->Send(0, kNow + 1000);  // one input: queued, then handed over at once
  ASSERT_TRUE(dst->calls.WaitAtLeast(1));
  EXPECT_EQ(dst->Handled(), (std::vector<Handed>{{0, kNow + 1000, false, false}}));
  const std::string dropped =
      std::string(
          "*: Discarding ioElt on input 0: timestamp is in the "
          "future. Timestamp: ") +
      static_cast<const char*>(DAXO::Timestamp2String(kNow + 1001)) +
      "; CurrentTime: " + static_cast<const char*>(DAXO::Timestamp2String(kNow));
  EXPECT_EQ(Count(dropped, DAXO::Warning), 1) << dropped;
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(SortedStartReading, PausingEmptiesTheQueueWithoutHandingOverAndRestartsTheCounters) {
  Wire(3, 60 * kSecond);
  StartHeld();
  src->Send(2, kNow - 100 * kSecond);  // late: late count 1
  ASSERT_TRUE(dst->calls.WaitAtLeast(1));
  Queue(0, kNow - 5 * kSecond);
  Queue(1, kNow - 4 * kSecond);
  engine.PauseClock();
  engine.FlushListenerNotices();
  ASSERT_TRUE(Eventually([&] { return Flushes() >= 2; }));
  src->Send(2, kNow - 3 * kSecond);  // paused: dropped
  ASSERT_TRUE(Eventually(
      [&] { return Count("*: Discarding ioElt on input 2:  time paused.", DAXO::Warning) == 1; }));
  engine.ResumeClock();
  engine.FlushListenerNotices();
  // The queued inputs are read again and their slots were given back.
  src->Send(0, kNow - 99 * kSecond);  // late again: the count restarted
  ASSERT_TRUE(dst->calls.WaitAtLeast(2));
  const std::vector<Handed> expected = {
      {2, kNow - 100 * kSecond, false, true},
      {0, kNow - 99 * kSecond, false, true},
  };
  EXPECT_EQ(dst->Handled(), expected);
  ASSERT_TRUE(lateReader->received.WaitAtLeast(2));
  using Count = std::pair<DAXOInt32, DAXOTimestamp>;
  EXPECT_EQ(lateReader->Counts(),
            (std::vector<Count>{{1, kNow - 100 * kSecond}, {1, kNow - 99 * kSecond}}));
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(SortedStartReading, TwoHundredFiftySixInputsAreAllReadAndHandedOverInOrder) {
  constexpr int kInputs = 256;
  Wire(kInputs, 60 * kSecond);
  StartHeld();
  // A permutation of timestamps over the inputs (97 is prime to 256).
  std::vector<Handed> expected;
  for (int i = kInputs - 1; i >= 0; --i) {
    const DAXOTimestamp t = kNow - 50 * kSecond + (i * 97 % kInputs) * 1000;
    expected.push_back({i, t, false, false});
    if (i == kInputs - 1) {
      // Alone, while the read waits on a group of 32 that leaves it out.
      Queue(i, t);
    } else {
      src->Send(i, t);
    }
  }
  std::sort(expected.begin(), expected.end(),
            [](const Handed& a, const Handed& b) { return a.t < b.t; });
  // The last one queued leaves no input watched: the oldest is handed over.
  ASSERT_TRUE(dst->calls.WaitAtLeast(1));
  // Then a late sample, newer than all, on the input given back hands the
  // rest over before itself.
  engine.JumpClock(kNow + 100 * kSecond);
  engine.FlushListenerNotices();
  src->Send(expected.front().input, kNow);
  ASSERT_TRUE(dst->calls.WaitAtLeast(kInputs + 1));
  expected.push_back({expected.front().input, kNow, false, true});
  std::vector<Handed> handed = dst->Handled();
  ASSERT_EQ(handed.size(), expected.size());
  for (size_t i = 0; i < handed.size(); ++i) {
    EXPECT_EQ(handed[i].input, expected[i].input) << i;
    EXPECT_EQ(handed[i].t, expected[i].t) << i;
    EXPECT_FALSE(handed[i].unsorted) << i;
  }
  EXPECT_EQ(Count("*Sorting error.", DAXO::Warning), 0);
  engine.ShutdownDiagram();
  EXPECT_FALSE(ErrorReported());
}

TEST_F(SortedStartReading, MoreThan256InputsAreRefusedAtBirth) {
  Wire(257, 100000, false);
  engine.StartDiagram();
  EXPECT_TRUE(Eventually([&] {
    return Reported(
        "*Can't perform sorted StartReading on more than 256 inputs simultaneously. "
        "Sorry.");
  }));
  EXPECT_TRUE(Eventually([&] { return (engine.ModuleState("dst") & DAXO::DeadState) != 0; }));
  EXPECT_EQ(dst->calls.Value(), 0);
  engine.ShutdownDiagram();
}

}  // namespace
}  // namespace velquor::test

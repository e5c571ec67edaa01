// The output FIFO, one step at a time: what each reader policy takes, skips
// or waits for, overwriting and its accounting, output subsampling, the
// fatal errors, and the writer's and readers' blocking waits.
//
// Samples carry their sequence number in the element's timestamp. Threads
// that must block first are known to be blocked when the engine has counted
// their multi-event wait (the wait is entered after the FIFO mutex is
// released, so any later Set wakes it).
#include "daxo_fast_io.h"

#include <future>
#include <optional>

#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using Fifo = DAXOIOMonitorImplementation;
const std::string kFatal = "DAXOFastIO fatal error : ";

class DAXOFastIOTest : public PropertyTest {
 protected:
  std::unique_ptr<Fifo> MakeFifo(int size, int subsampling = 1) {
    return std::unique_ptr<Fifo>(Fifo::CreateMonitor(&die, nullptr, size, subsampling));
  }

  static DAXOFastIOHandle Publish(Fifo& fifo, DAXOTimestamp seq, bool discard = false) {
    DAXOFastIOHandle slot = fifo.StartWriting();
    fifo[slot]->Timestamp() = seq;
    fifo.StopWriting(slot, discard);
    return slot;
  }

  struct Taken {
    DAXOFastIOHandle slot;
    DAXOTimestamp seq;
  };
  /// Takes a slot without blocking (abandons the wait when there is none).
  static std::optional<Taken> TryTake(Fifo& fifo, int reader) {
    DAXOListIterator slot;
    DAXOEvent* event = nullptr;
    DAXOEvent* abort = nullptr;
    if (!fifo.StartReadingX(reader, &event, &abort, &slot)) {
      fifo.AbortStartReadingX(reader);
      return std::nullopt;
    }
    return Taken{slot, fifo[slot]->Timestamp()};
  }
  /// Takes and gives back at once; the sequence number, or -1.
  static DAXOTimestamp Read(Fifo& fifo, int reader) {
    std::optional<Taken> t = TryTake(fifo, reader);
    if (!t) return -1;
    fifo.StopReading(reader, t->slot);
    return t->seq;
  }

  long Overflows() { return kernel()->GetNbFifoOverflows(); }

  /// Blocks until some thread has entered a multi-event wait after `before`.
  bool WaitForAWaiter(long before) {
    return Eventually([&] { return engine.MultiEventWaits() > before; });
  }

  /// Runs `call`, expects it to throw the error exception after reporting
  /// the fatal error `message`.
  template <class Call>
  void ExpectFatal(Call call, const std::string& message) {
    ExpectError(call, "External : " + message, 1);
  }

  DAXOEvent die;
};

// What each reader policy takes from the samples 1..n published into a FIFO
// of `size` slots with no other reader, read one after the other.
struct PolicyCase {
  const char* name;
  int policy;
  int size;
  int published;
  std::vector<DAXOTimestamp> reads;  // -1: nothing to take
  long overflows;                    // samples overwritten before this reader had them
  int availableAfter;                // what NbDataAvailable still counts
};

class DAXOFastIOPolicy : public DAXOFastIOTest, public ::testing::WithParamInterface<PolicyCase> {};

TEST_P(DAXOFastIOPolicy, TakesWhatItsPolicyGives) {
  const PolicyCase& c = GetParam();
  auto fifo = MakeFifo(c.size);
  const int r = fifo->RegisterReader(c.policy, 1);
  EXPECT_FALSE(fifo->DataAvailable(r));
  EXPECT_EQ(Read(*fifo, r), -1) << "nothing published yet";
  for (int seq = 1; seq <= c.published; ++seq) Publish(*fifo, seq);
  EXPECT_EQ(Overflows(), c.overflows);
  for (DAXOTimestamp expected : c.reads) EXPECT_EQ(Read(*fifo, r), expected);
  EXPECT_EQ(fifo->NbDataAvailable(r), c.availableAfter);
  EXPECT_TRUE(fifo->IsEmpty()) << "nothing is pending for a FIFO reader any more";
}

INSTANTIATE_TEST_SUITE_P(
    EveryPolicy, DAXOFastIOPolicy,
    ::testing::Values(PolicyCase{"Fifo", DAXO::FifoReader, 4, 3, {1, 2, 3, -1}, 0, 0},
                      PolicyCase{
                          "NeverSkipping", DAXO::NeverSkippingReader, 4, 3, {1, 2, 3, -1}, 0, 0},
                      // Samples 1 and 2 were overwritten unread.
                      PolicyCase{"FifoFallenBehind", DAXO::FifoReader, 3, 5, {3, 4, 5, -1}, 2, 0},
                      // The newest; what it skipped counts as had.
                      PolicyCase{"LastOrNext", DAXO::LastOrNextReader, 6, 5, {5, -1}, 0, 0},
                      // The newest at once, and again.
                      PolicyCase{"Sampling", DAXO::SamplingReader, 3, 2, {2, 2}, 0, 2},
                      // Only a sample published after it asked.
                      PolicyCase{"Wait4Next", DAXO::Wait4NextReader, 3, 3, {-1}, 0, 3}),
    [](const ::testing::TestParamInfo<PolicyCase>& info) { return info.param.name; });

TEST_F(DAXOFastIOTest, TheMonitorWalksFromTheNewestPublicationToTheOldestSlot) {
  auto fifo = MakeFifo(4);
  for (int seq = 1; seq <= 3; ++seq) Publish(*fifo, seq);
  DAXOIOMonitor& monitor = *fifo;
  DAXOFastIOHandle walk = monitor.InitBegin();
  for (int seq : {3, 2, 1, 0}) {
    ASSERT_NE(walk.ptr, nullptr);
    EXPECT_EQ(monitor[walk]->Timestamp(), seq) << "0: the empty slot";
    monitor.InitNext(walk);
  }
  EXPECT_EQ(monitor[walk], nullptr);
}

TEST_F(DAXOFastIOTest, LastOrNextReaderSkipsWithoutOverflowAndSwitchesToFifoInOrder) {
  auto fifo = MakeFifo(6);
  const int lon = fifo->RegisterReader(DAXO::LastOrNextReader, 1);
  for (int seq = 1; seq <= 5; ++seq) Publish(*fifo, seq);
  EXPECT_EQ(Read(*fifo, lon), 5);
  EXPECT_EQ(fifo->NbDataAvailable(lon), 0);
  for (int seq = 6; seq <= 8; ++seq) Publish(*fifo, seq);
  EXPECT_EQ(Read(*fifo, lon), 8);
  // Everything it skipped is reusable without an overflow.
  for (int seq = 9; seq <= 14; ++seq) Publish(*fifo, seq);
  EXPECT_EQ(Overflows(), 0);

  // Switched to a plain FIFO reader it goes on in order from what it had.
  EXPECT_EQ(Read(*fifo, lon), 14);
  fifo->SetReaderType(lon, DAXO::FifoReader);
  Publish(*fifo, 15);
  Publish(*fifo, 16);
  EXPECT_EQ(Read(*fifo, lon), 15);
  fifo->SetReaderType(lon, DAXO::LastOrNextReader);
  Publish(*fifo, 17);
  EXPECT_EQ(Read(*fifo, lon), 17);
}

TEST_F(DAXOFastIOTest, Wait4NextReaderIsWokenByTheNextPublication) {
  auto fifo = MakeFifo(3);
  const int w = fifo->RegisterReader(DAXO::Wait4NextReader, 1);
  for (int seq = 1; seq <= 3; ++seq) Publish(*fifo, seq);
  EXPECT_TRUE(fifo->DataAvailable(w));

  DAXOListIterator slot;
  DAXOEvent* event = nullptr;
  DAXOEvent* abort = nullptr;
  ASSERT_FALSE(fifo->StartReadingX(w, &event, &abort, &slot));
  EXPECT_EQ(abort, &die);
  EXPECT_EQ(event->Wait(0), DAXO::TimeOut);
  Publish(*fifo, 4);
  ASSERT_EQ(event->Wait(kGenerous), 0);
  slot = fifo->AchieveStartReadingX(w, 0);
  ASSERT_NE(slot.ptr, nullptr);
  EXPECT_EQ((*fifo)[slot]->Timestamp(), 4);
  EXPECT_EQ(fifo->SlotState(slot), DAXO::SlotReading);
  fifo->StopReading(w);
  EXPECT_EQ(fifo->SlotState(slot), DAXO::SlotPublished);
}

TEST_F(DAXOFastIOTest, HeldSlotsAreNeverGivenToTheWriter) {
  auto fifo = MakeFifo(2);
  const int f = fifo->RegisterReader(DAXO::FifoReader, 1);
  const int s = fifo->RegisterReader(DAXO::SamplingReader, 1);
  Publish(*fifo, 1);
  Publish(*fifo, 2);
  std::optional<Taken> one = TryTake(*fifo, f);  // holds sample 1 (the tail)
  std::optional<Taken> two = TryTake(*fifo, s);  // holds sample 2 (the head)
  ASSERT_TRUE(one && two);

  const long before = Overflows();
  ExpectFatal([&] { fifo->StartWriting(); },
              "Output buffer fatal error : StartWriting has no space where to write. Check that "
              "each call to StartWriting has its corresponding call to StopWriting.");
  EXPECT_EQ(Overflows(), before + 1);
  EXPECT_EQ((*fifo)[one->slot]->Timestamp(), 1);
  EXPECT_EQ(fifo->SlotState(one->slot), DAXO::SlotReading);

  fifo->StopReading(s, two->slot);
  DAXOFastIOHandle slot = fifo->StartWriting();  // sample 2, unread by f: overwritten
  EXPECT_EQ(slot, two->slot);
  EXPECT_EQ(Overflows(), before + 2);
  EXPECT_EQ((*fifo)[one->slot]->Timestamp(), 1);
  fifo->StopWriting(slot, true);
  EXPECT_EQ(fifo->SlotState(slot), DAXO::SlotEmpty);
  fifo->StopReading(f);
}

TEST_F(DAXOFastIOTest, OutputSubsamplingPublishesEveryNthWrittenSample) {
  auto fifo = MakeFifo(4, 3);
  const int f = fifo->RegisterReader(DAXO::FifoReader, 1);
  for (int seq = 1; seq <= 6; ++seq) {
    DAXOFastIOHandle slot = Publish(*fifo, seq);
    EXPECT_EQ(fifo->SlotState(slot), seq % 3 == 0 ? DAXO::SlotPublished : DAXO::SlotEmpty);
  }
  Publish(*fifo, 7, true);  // a discard does not count
  EXPECT_EQ(Read(*fifo, f), 3);
  EXPECT_EQ(Read(*fifo, f), 6);
  EXPECT_EQ(Read(*fifo, f), -1);

  // The count in progress (3) is kept; the new rate applies after it.
  fifo->SetOutputSubsampling(1);
  Publish(*fifo, 8);
  Publish(*fifo, 9);
  EXPECT_EQ(Read(*fifo, f), -1);
  Publish(*fifo, 10);
  Publish(*fifo, 11);
  EXPECT_EQ(Read(*fifo, f), 10);
  EXPECT_EQ(Read(*fifo, f), 11);
}

TEST_F(DAXOFastIOTest, QueriesFollowWhatTheFifoReadersHaveHad) {
  auto fifo = MakeFifo(3);
  EXPECT_EQ(fifo->NbFreeSlots(), 3);
  EXPECT_TRUE(fifo->IsEmpty());
  EXPECT_FALSE(fifo->IsFull());
  const int f = fifo->RegisterReader(DAXO::FifoReader, 1);
  const int lon = fifo->RegisterReader(DAXO::LastOrNextReader, 1);
  Publish(*fifo, 1);
  Publish(*fifo, 2);
  EXPECT_EQ(fifo->NbFreeSlots(), 1);
  EXPECT_FALSE(fifo->IsFull()) << "the tail slot is still empty";
  Publish(*fifo, 3);
  EXPECT_TRUE(fifo->IsFull());
  EXPECT_EQ(Read(*fifo, lon), 3);
  EXPECT_EQ(fifo->NbDataAvailable(f), 3);
  EXPECT_FALSE(fifo->IsEmpty());
  std::optional<Taken> t = TryTake(*fifo, f);
  EXPECT_EQ(fifo->NbFreeSlots(), 0) << "held, or not had by f";
  fifo->StopReading(f, t->slot);
  EXPECT_EQ(fifo->NbFreeSlots(), 1);
  EXPECT_FALSE(fifo->IsFull());
  EXPECT_EQ(Read(*fifo, f), 2);
  EXPECT_EQ(Read(*fifo, f), 3);
  EXPECT_TRUE(fifo->IsEmpty());
}

TEST_F(DAXOFastIOTest, RegistrationAndReaderSettingsRefuseWhatTheyCannotDo) {
  auto fifo = MakeFifo(2);
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(fifo->RegisterReader(i % 5, 1), i);
  }
  ExpectFatal([&] { fifo->RegisterReader(DAXO::FifoReader, 1); },
              kFatal + "DAXOFastIO monitor has too many readers.");
  EXPECT_EQ(fifo->ReaderCount(), 32);
  fifo->UnregisterReader(7);
  ExpectFatal([&] { fifo->UnregisterReader(7); },
              kFatal + "trying to unregister a reader that has never been registered before.");
  EXPECT_EQ(fifo->RegisterReader(DAXO::FifoReader, 4), 7) << "the lowest free number";
  EXPECT_EQ(fifo->ReaderByte(7), 3);
  EXPECT_EQ(fifo->ReaderByte(4), DAXO::SamplingReader);

  fifo->SetSubsamplingRate(0, 256);
  EXPECT_EQ(fifo->ReaderByte(0), 255);
  for (int bad : {0, 257}) {
    ExpectFatal([&] { fifo->SetSubsamplingRate(0, bad); },
                "DAXOFastIO fatal error: Output subsampling rate must be an integer in the range "
                "between 1 and 256 included.");
  }
  EXPECT_EQ(fifo->ReaderByte(0), 255);
  ExpectFatal([&] { fifo->SetSubsamplingRate(3, 2); },
              kFatal + "SetSubsamplingRate works only with FIFO readers.");
  ExpectFatal([&] { fifo->SetReaderType(4, DAXO::FifoReader); },
              kFatal + "SetReaderType works only with FIFO readers.");
  fifo->UnregisterReader(9);
  const std::string unknown = " for a reader that has never been registered before.";
  ExpectFatal([&] { fifo->SetSubsamplingRate(9, 2); },
              kFatal + "trying to set the subsampling rate" + unknown);
  ExpectFatal([&] { fifo->SetReaderType(9, DAXO::FifoReader); },
              kFatal + "trying to set the reader type" + unknown);
}

TEST_F(DAXOFastIOTest, GivingBackASlotThatIsNotHeldIsAFatalError) {
  auto fifo = MakeFifo(2);
  fifo->RegisterReader(DAXO::FifoReader, 1);
  fifo->RegisterReader(DAXO::FifoReader, 1);
  const int r = fifo->RegisterReader(DAXO::FifoReader, 1);
  ASSERT_EQ(r, 2);
  ExpectFatal([&] { fifo->StopReading(r); }, kFatal + "Stop reading without starting (X4)");
  DAXOFastIOHandle slot = Publish(*fifo, 1);
  std::optional<Taken> t = TryTake(*fifo, 0);
  ExpectFatal([&] { fifo->StopReading(r, slot); }, kFatal + "Stop reading without starting (X4)");
  EXPECT_EQ(fifo->SlotState(t->slot), DAXO::SlotReading);
  fifo->StopReading(0, t->slot);
  ExpectFatal([&] { fifo->StopWriting(slot, false); }, kFatal + "Stop writing without starting.");
  EXPECT_EQ(fifo->SlotState(slot), DAXO::SlotPublished);
}

TEST_F(DAXOFastIOTest, ANewReaderOnAFreedNumberStartsAfresh) {
  auto fifo = MakeFifo(2);
  const int f = fifo->RegisterReader(DAXO::FifoReader, 1);
  Publish(*fifo, 1);
  std::optional<Taken> held = TryTake(*fifo, f);
  fifo->UnregisterReader(f);  // while still holding sample 1
  EXPECT_EQ(fifo->SlotState(held->slot), DAXO::SlotPublished);
  EXPECT_EQ(fifo->RegisterReader(DAXO::FifoReader, 1), f);
  EXPECT_EQ(fifo->NbDataAvailable(f), 1);

  // Taking slots back from readers that did not give them back.
  held = TryTake(*fifo, f);
  EXPECT_EQ(fifo->ReleaseReader(f), 1);
  EXPECT_EQ(fifo->ReleaseReader(f), 0);
  EXPECT_EQ(fifo->SlotState(held->slot), DAXO::SlotPublished);
  Publish(*fifo, 2);
  held = TryTake(*fifo, f);
  fifo->SlotReleasedEvent().Set();
  fifo->ReleaseAllReaders();
  EXPECT_EQ(fifo->SlotState(held->slot), DAXO::SlotPublished);
  EXPECT_FALSE(fifo->SlotReleasedEvent().State());
  EXPECT_EQ(fifo->NbDataAvailable(f), 0) << "what it had stays had";
  EXPECT_TRUE(fifo->IsEmpty());
}

// --- blocking ------------------------------------------------------------------------------

/// A FIFO of one slot holding sample 1, which the never-skipping reader has
/// not had: the next StartWriting must wait.
class DAXOFastIOWriterWait : public DAXOFastIOTest {
 protected:
  void SetUp() override {
    fifo = MakeFifo(1);
    ns = fifo->RegisterReader(DAXO::NeverSkippingReader, 1);
    Publish(*fifo, 1);
    fifo->SetWriterTimeout(static_cast<int>(kGenerous));
  }
  /// Starts StartWriting on another thread; returns once it waits.
  std::future<DAXOFastIOHandle> StartBlockedWriter() {
    const long before = engine.MultiEventWaits();
    auto writer = std::async(std::launch::async, [this] { return fifo->StartWriting(); });
    EXPECT_TRUE(WaitForAWaiter(before)) << "the writer never waited";
    return writer;
  }
  std::unique_ptr<Fifo> fifo;
  int ns = -1;
};

TEST_F(DAXOFastIOWriterWait, WakesWhenTheNeverSkippingReaderGivesTheSlotBack) {
  auto writer = StartBlockedWriter();
  std::optional<Taken> t = TryTake(*fifo, ns);
  ASSERT_TRUE(t);
  EXPECT_EQ(writer.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
      << "taking is not giving back";
  fifo->StopReading(ns, t->slot);
  EXPECT_EQ(writer.get(), t->slot);
  EXPECT_EQ(Overflows(), 0);
}

TEST_F(DAXOFastIOWriterWait, DoesNotWaitForPlainFifoReaders) {
  const int f = fifo->RegisterReader(DAXO::FifoReader, 1);
  auto writer = StartBlockedWriter();
  EXPECT_EQ(Read(*fifo, ns), 1);  // f has not had it: overwriting is its loss
  EXPECT_NE(writer.get().ptr, nullptr);
  EXPECT_EQ(Overflows(), 1);
  EXPECT_EQ(fifo->NbDataAvailable(f), 0);
}

TEST_F(DAXOFastIOWriterWait, ThrowsModuleDiedWhenTheDieEventIsSet) {
  auto writer = StartBlockedWriter();
  die.Set();
  EXPECT_EQ(Thrown([&] { writer.get(); }), DAXO::ModuleDied);
  EXPECT_EQ(fifo->SlotState(fifo->InitBegin()), DAXO::SlotPublished);
}

TEST_F(DAXOFastIOWriterWait, ReturnsNoSlotWhenAborted) {
  auto writer = StartBlockedWriter();
  fifo->AbortWriter();
  EXPECT_EQ(writer.get().ptr, nullptr);
  EXPECT_EQ(Read(*fifo, ns), 1) << "the sample is still there";
}

TEST_F(DAXOFastIOWriterWait, ThrowsTimeOutAfterTheWriterTimeout) {
  fifo->SetWriterTimeout(1000);
  EXPECT_EQ(Thrown([&] { fifo->StartWriting(); }), DAXO::TimeOut);
}

TEST_F(DAXOFastIOTest, BlockedReaderThrowsModuleDiedWhenTheDieEventIsSet) {
  auto fifo = MakeFifo(2);
  const int r = fifo->RegisterReader(DAXO::NeverSkippingReader, 1);
  const long before = engine.MultiEventWaits();
  auto reader = std::async(std::launch::async, [&] {
    DAXOListIterator slot;
    DAXOEvent* events[2] = {nullptr, nullptr};
    if (fifo->StartReadingX(r, &events[0], &events[1], &slot)) return 0;
    return DAXOEvent::Wait(2, events, kGenerous);
  });
  ASSERT_TRUE(WaitForAWaiter(before));
  die.Set();
  const int result = reader.get();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Thrown([&] { fifo->AchieveStartReadingX(r, result); }), DAXO::ModuleDied);
  EXPECT_THROW(fifo->AchieveStartReadingX(r, 7), int);
}

TEST_F(DAXOFastIOTest, WokenReaderWhoseSampleWasTakenBackGetsNoSlot) {
  auto fifo = MakeFifo(1);
  const int s = fifo->RegisterReader(DAXO::SamplingReader, 1);
  DAXOListIterator slot;
  DAXOEvent* event = nullptr;
  DAXOEvent* abort = nullptr;
  ASSERT_FALSE(fifo->StartReadingX(s, &event, &abort, &slot));
  Publish(*fifo, 1);
  ASSERT_EQ(event->Wait(kGenerous), 0);
  DAXOFastIOHandle writing = fifo->StartWriting();  // nothing keeps the writer off it
  EXPECT_EQ(fifo->AchieveStartReadingX(s, 0).ptr, nullptr);
  EXPECT_TRUE(reports->Reports().empty());
  fifo->StopWriting(writing, false);
  EXPECT_EQ(Read(*fifo, s), 0) << "the rewritten sample, timestamp reset to 0";
}

// A reader woken although nothing was published and nothing taken back: the
// FIFO cannot tell it a sample, so it says so (by reader type) instead of
// retrying for ever; the wait is over and the reader can read again.
struct NoDataCase {
  int type;
  const char* message;
};

class DAXOFastIOWokenForNothing : public DAXOFastIOTest,
                                  public ::testing::WithParamInterface<NoDataCase> {};

TEST_P(DAXOFastIOWokenForNothing, IsAFatalErrorNamingTheReaderType) {
  auto fifo = MakeFifo(2);
  fifo->RegisterReader(DAXO::FifoReader, 1);
  const int r = fifo->RegisterReader(GetParam().type, 1);
  ASSERT_EQ(r, 1);
  DAXOListIterator slot;
  DAXOEvent* event = nullptr;
  DAXOEvent* abort = nullptr;
  ASSERT_FALSE(fifo->StartReadingX(r, &event, &abort, &slot));
  event->Set();  // a wake-up with no publication behind it
  ExpectFatal([&] { fifo->AchieveStartReadingX(r, 0); }, kFatal + GetParam().message);

  ASSERT_FALSE(fifo->StartReadingX(r, &event, &abort, &slot));
  Publish(*fifo, 1);
  ASSERT_EQ(event->Wait(kGenerous), 0);
  slot = fifo->AchieveStartReadingX(r, 0);
  ASSERT_NE(slot.ptr, nullptr);
  EXPECT_EQ((*fifo)[slot]->Timestamp(), 1);
  fifo->StopReading(r, slot);
}

// Both reader types that follow the FIFO order share the message.
constexpr const char* kFifoReaderLost =
    "Trouble with a FIFO reader. Couldn't find its data (X2). Please contact the technical "
    "support team.";

INSTANTIATE_TEST_SUITE_P(
    ByType, DAXOFastIOWokenForNothing,
    ::testing::Values(
        NoDataCase{DAXO::FifoReader, kFifoReaderLost},
        NoDataCase{DAXO::LastOrNextReader, kFifoReaderLost},
        NoDataCase{DAXO::SamplingReader,
                   "Trouble with a sampling reader. Couldn't find its data (X2). Please "
                   "contact the technical support team."},
        NoDataCase{DAXO::Wait4NextReader,
                   "DAXOFastIO monitor has no space where to read (X2). Please contact the "
                   "technical support team."}));

}  // namespace
}  // namespace velquor::test

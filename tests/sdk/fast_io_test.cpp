// The output FIFO, one step at a time: what each reader policy takes, skips
// or waits for, overwriting and its accounting, output subsampling, the
// fatal errors, and the writer's and readers' blocking waits.
//
// Samples carry their sequence number in the element's timestamp. Threads
// that must block first are known to be blocked when the engine has counted
// their multi-event wait (the wait is entered after the FIFO mutex is
// released, so any later Set wakes it).
#include "daxo_fast_io.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>
#include <thread>

#include "engine_test_support.h"

namespace velquor::test {
namespace {

using Fifo = DAXOIOMonitorImplementation;

class DAXOFastIOTest : public EngineTest {
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
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (engine.MultiEventWaits() <= before) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::yield();
    }
    return true;
  }

  /// Runs `call`, expects it to throw -5 after reporting `message`.
  template <class Call>
  void ExpectFatal(Call call, const std::string& message) {
    try {
      call();
      ADD_FAILURE() << "expected a fatal error: " << message;
    } catch (int code) {
      EXPECT_EQ(code, DAXO::ErrorException);
    }
    EXPECT_TRUE(reports->Contains([&](const ReportRecord& r) {
      return r.text == "External : " + message && r.level == DAXO::Error && r.code == 1;
    })) << message;
  }

  DAXOEvent die;
};

TEST_F(DAXOFastIOTest, FifoAndNeverSkippingReadersTakeEverySampleInOrder) {
  auto fifo = MakeFifo(4);
  const int f = fifo->RegisterReader(DAXO::FifoReader, 1);
  const int ns = fifo->RegisterReader(DAXO::NeverSkippingReader, 1);
  EXPECT_FALSE(fifo->DataAvailable(f));
  EXPECT_EQ(Read(*fifo, f), -1);

  for (int seq = 1; seq <= 3; ++seq) Publish(*fifo, seq);
  EXPECT_EQ(fifo->NbDataAvailable(f), 3);
  // The monitor walks from the newest publication to the oldest slot.
  DAXOIOMonitor& monitor = *fifo;
  DAXOFastIOHandle walk = monitor.InitBegin();
  for (int seq : {3, 2, 1, 0}) {
    ASSERT_NE(walk.ptr, nullptr);
    EXPECT_EQ(monitor[walk]->Timestamp(), seq) << "0: the empty slot";
    monitor.InitNext(walk);
  }
  EXPECT_EQ(monitor[walk], nullptr);

  for (int reader : {f, ns}) {
    for (int seq = 1; seq <= 3; ++seq) {
      EXPECT_TRUE(fifo->DataAvailable(reader));
      EXPECT_EQ(Read(*fifo, reader), seq);
    }
    EXPECT_FALSE(fifo->DataAvailable(reader));
    EXPECT_EQ(Read(*fifo, reader), -1);
  }
  Publish(*fifo, 4);
  EXPECT_EQ(Read(*fifo, f), 4);
  EXPECT_EQ(Overflows(), 0);
}

TEST_F(DAXOFastIOTest, FifoReaderThatFallsBehindLosesTheOverwrittenSamples) {
  auto fifo = MakeFifo(3);
  const int f = fifo->RegisterReader(DAXO::FifoReader, 1);
  for (int seq = 1; seq <= 5; ++seq) Publish(*fifo, seq);
  EXPECT_EQ(Overflows(), 2) << "samples 1 and 2 were overwritten unread";
  EXPECT_TRUE(fifo->IsFull());
  EXPECT_EQ(fifo->NbFreeSlots(), 0);
  for (int seq = 3; seq <= 5; ++seq) EXPECT_EQ(Read(*fifo, f), seq);
  EXPECT_TRUE(fifo->IsEmpty());
  EXPECT_EQ(fifo->NbFreeSlots(), 3);
}

TEST_F(DAXOFastIOTest, LastOrNextReaderTakesTheNewestAndSkippedSamplesCountAsHad) {
  auto fifo = MakeFifo(6);
  const int lon = fifo->RegisterReader(DAXO::LastOrNextReader, 1);
  for (int seq = 1; seq <= 5; ++seq) Publish(*fifo, seq);
  EXPECT_EQ(Read(*fifo, lon), 5);
  EXPECT_EQ(fifo->NbDataAvailable(lon), 0);
  EXPECT_EQ(Read(*fifo, lon), -1);
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

TEST_F(DAXOFastIOTest, Wait4NextReaderOnlyGetsASamplePublishedAfterItAsked) {
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

TEST_F(DAXOFastIOTest, SamplingReaderTakesTheNewestAtOnceAndMayGetItTwice) {
  auto fifo = MakeFifo(3);
  const int s = fifo->RegisterReader(DAXO::SamplingReader, 1);
  EXPECT_EQ(Read(*fifo, s), -1) << "nothing published: it waits";
  Publish(*fifo, 1);
  Publish(*fifo, 2);
  EXPECT_EQ(Read(*fifo, s), 2);
  EXPECT_EQ(Read(*fifo, s), 2);
  EXPECT_EQ(fifo->NbDataAvailable(s), 2);
  EXPECT_TRUE(fifo->IsEmpty()) << "no FIFO reader: nothing is pending";
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
              "DAXOFastIO fatal error : DAXOFastIO monitor has too many readers.");
  EXPECT_EQ(fifo->ReaderCount(), 32);
  fifo->UnregisterReader(7);
  ExpectFatal([&] { fifo->UnregisterReader(7); },
              "DAXOFastIO fatal error : trying to unregister a reader that has never been "
              "registered before.");
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
              "DAXOFastIO fatal error : SetSubsamplingRate works only with FIFO readers.");
  ExpectFatal([&] { fifo->SetReaderType(4, DAXO::FifoReader); },
              "DAXOFastIO fatal error : SetReaderType works only with FIFO readers.");
  fifo->UnregisterReader(9);
  ExpectFatal([&] { fifo->SetSubsamplingRate(9, 2); },
              "DAXOFastIO fatal error : trying to set the subsampling rate for a reader that has "
              "never been registered before.");
  ExpectFatal([&] { fifo->SetReaderType(9, DAXO::FifoReader); },
              "DAXOFastIO fatal error : trying to set the reader type for a reader that has never "
              "been registered before.");
}

TEST_F(DAXOFastIOTest, GivingBackASlotThatIsNotHeldIsAFatalError) {
  auto fifo = MakeFifo(2);
  fifo->RegisterReader(DAXO::FifoReader, 1);
  fifo->RegisterReader(DAXO::FifoReader, 1);
  const int r = fifo->RegisterReader(DAXO::FifoReader, 1);
  ASSERT_EQ(r, 2);
  ExpectFatal([&] { fifo->StopReading(r); },
              "DAXOFastIO fatal error : Stop reading without starting (X4)");
  DAXOFastIOHandle slot = Publish(*fifo, 1);
  std::optional<Taken> t = TryTake(*fifo, 0);
  ExpectFatal([&] { fifo->StopReading(r, slot); },
              "DAXOFastIO fatal error : Stop reading without starting (X4)");
  EXPECT_EQ(fifo->SlotState(t->slot), DAXO::SlotReading);
  fifo->StopReading(0, t->slot);
  ExpectFatal([&] { fifo->StopWriting(slot, false); },
              "DAXOFastIO fatal error : Stop writing without starting.");
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
  try {
    writer.get();
    ADD_FAILURE() << "expected 0xDEAD";
  } catch (int code) {
    EXPECT_EQ(code, DAXO::ModuleDied);
  }
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
  try {
    fifo->StartWriting();
    ADD_FAILURE() << "expected a time-out";
  } catch (int code) {
    EXPECT_EQ(code, DAXO::TimeOut);
  }
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
  try {
    fifo->AchieveStartReadingX(r, result);
    ADD_FAILURE() << "expected 0xDEAD";
  } catch (int code) {
    EXPECT_EQ(code, DAXO::ModuleDied);
  }
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

}  // namespace
}  // namespace velquor::test

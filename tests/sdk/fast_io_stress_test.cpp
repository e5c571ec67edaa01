// The output FIFO under load: one writer, readers of mixed policies, each on
// its own thread, blocking the way components do (StartReadingX, a wait on
// the reader event and the die event, AchieveStartReadingX).
//
// Every sample carries its sequence number in the timestamp and in each item
// of its payload; a reader that sees the two disagree, or the payload change
// while it holds the slot, caught the writer rewriting a held slot. A
// watchdog sets the die event if the run hangs, which ends every wait.
#include <atomic>
#include <vector>

#include "daxo_fast_io.h"
#include "engine_test_support.h"
// Shared with the runtime tests: ThreadGroup.
#include "../runtime/runtime_test_support.h"

namespace velquor::test {
namespace {

constexpr int kSamples = 100000;
constexpr int kFifoSize = 16;
constexpr int kItems = 4;
constexpr DAXODelay kWatchdog = 90 * kSecond;

struct ReaderResult {
  int policy = 0;
  long received = 0;
  long outOfOrder = 0;  // not the next one (never-skipping) / not increasing (others)
  long torn = 0;        // payload disagreed with the timestamp or changed while held
  bool died = false;
};

using DAXOFastIOStress = EngineTest;

TEST_F(DAXOFastIOStress, OneWriterAndFourMixedReadersLoseNothingTheyMustSee) {
  DAXOEvent die;
  std::unique_ptr<DAXOIOMonitorImplementation> fifo(
      DAXOIOMonitorImplementation::CreateMonitor(&die, nullptr, kFifoSize, 1));
  std::vector<DAXOInt32> storage(kFifoSize * kItems, 0);
  int k = 0;
  for (DAXOFastIOHandle s = fifo->InitBegin(); s.ptr != nullptr; fifo->InitNext(s), ++k) {
    (*fifo)[s]->Data() = &storage[k * kItems];
    (*fifo)[s]->BufferSize() = kItems;
  }

  const int policies[] = {DAXO::NeverSkippingReader, DAXO::NeverSkippingReader, DAXO::FifoReader,
                          DAXO::LastOrNextReader};
  std::vector<ReaderResult> results;
  std::vector<int> numbers;
  for (int policy : policies) {
    numbers.push_back(fifo->RegisterReader(policy, 1));
    results.push_back(ReaderResult{policy});
  }

  // Started together; the watchdog below ends a hung run before the group's own.
  daxo_test::ThreadGroup group(2 * kWatchdog);
  for (std::size_t i = 0; i < results.size(); ++i) {
    group.Add([&, i] {
      ReaderResult& out = results[i];
      const int r = numbers[i];
      long last = 0;
      try {
        while (last < kSamples) {
          DAXOListIterator slot;
          DAXOEvent* events[2] = {nullptr, nullptr};
          if (!fifo->StartReadingX(r, &events[0], &events[1], &slot)) {
            const int woke = DAXOEvent::Wait(2, events, kWatchdog);
            slot = fifo->AchieveStartReadingX(r, woke);
            if (slot.ptr == nullptr) continue;  // taken back before we got there
          }
          DAXOIOElt& e = *(*fifo)[slot];
          const long seq = e.Timestamp();
          const DAXOInt32* items = static_cast<const DAXOInt32*>(e.Data());
          for (int j = 0; j < kItems; ++j) out.torn += items[j] != seq;
          const bool inOrder =
              out.policy == DAXO::NeverSkippingReader ? seq == last + 1 : seq > last;
          out.outOfOrder += !inOrder;
          ++out.received;
          last = seq;
          for (int j = 0; j < kItems; ++j) out.torn += items[j] != seq;
          fifo->StopReading(r, slot);
        }
      } catch (int code) {
        out.died = code == DAXO::ModuleDied;
      }
    });
  }

  bool writerDied = false;
  group.Add([&] {
    try {
      for (long seq = 1; seq <= kSamples; ++seq) {
        DAXOFastIOHandle slot = fifo->StartWriting();
        DAXOIOElt& e = *(*fifo)[slot];
        for (int j = 0; j < kItems; ++j) e.Integer32(j)[0] = static_cast<DAXOInt32>(seq);
        e.Timestamp() = seq;
        fifo->StopWriting(slot, false);
      }
    } catch (int code) {
      writerDied = code == DAXO::ModuleDied;
    }
  });

  DAXOEvent finished;
  std::thread watchdog([&] {
    if (finished.Wait(kWatchdog) != 0) die.Set();
  });
  group.Join();
  finished.Set();
  watchdog.join();

  EXPECT_FALSE(die.State()) << "the watchdog fired: the run hung";
  EXPECT_FALSE(writerDied);
  for (const ReaderResult& r : results) {
    SCOPED_TRACE(testing::Message() << "policy " << r.policy);
    EXPECT_FALSE(r.died);
    EXPECT_EQ(r.outOfOrder, 0);
    EXPECT_EQ(r.torn, 0);
    if (r.policy == DAXO::NeverSkippingReader) {
      EXPECT_EQ(r.received, kSamples);
    }
    EXPECT_GT(r.received, 0);
  }
  EXPECT_TRUE(reports->Reports().empty());
}

}  // namespace
}  // namespace velquor::test

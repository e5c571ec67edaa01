// The output FIFO against the plain alternative, a bounded queue guarded by a
// std::mutex and two std::condition_variables that copies every sample into
// one queue per reader.
//
// Throughput: one writer, 1, 2 or 4 readers that each must see every sample
// (NeverSkippingReader / one queue per reader), 16 slots, a payload of 16
// Integer32 items. items_per_second counts samples written (each reaches
// every reader). Latency: one sample there and back between two threads over
// two FIFOs (two queues); the time per iteration is one round trip, i.e. two
// hand-offs.
//
// No engine is bound: the FIFO's waits go straight to the runtime's
// multi-event wait, as they would in a package without engine services.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "daxo_fast_io.h"

namespace {

constexpr int kSlots = 16;
constexpr int kItems = 16;
constexpr int kBatch = 1000;  // samples per benchmark iteration (throughput)
constexpr long kStop = -1;    // sentinel sequence number that ends a reader

struct Payload {
  long seq;
  DAXOInt32 items[kItems];
};

// --- the FIFO -------------------------------------------------------------------------------

class FifoRig {
 public:
  explicit FifoRig(int readers)
      : fifo(DAXOIOMonitorImplementation::CreateMonitor(&die, nullptr, kSlots, 1)),
        storage(kSlots * kItems) {
    int k = 0;
    for (DAXOFastIOHandle s = fifo->InitBegin(); s.ptr != nullptr; fifo->InitNext(s), ++k) {
      (*fifo)[s]->Data() = &storage[k * kItems];
      (*fifo)[s]->BufferSize() = kItems;
      (*fifo)[s]->VectorSize() = kItems;
    }
    for (int i = 0; i < readers; ++i) numbers.push_back(fifo->RegisterReader(1, 1));
  }

  void Write(long seq) {
    DAXOFastIOHandle slot = fifo->StartWriting();
    DAXOIOElt& e = *(*fifo)[slot];
    DAXOInt32* items = e.Integer32(0);
    for (int j = 0; j < kItems; ++j) items[j] = static_cast<DAXOInt32>(seq + j);
    e.Timestamp() = seq;
    fifo->StopWriting(slot, false);
  }

  /// Blocks for the next sample of reader `r`; returns its sequence number.
  long Read(int r, long* sum) {
    for (;;) {
      DAXOListIterator slot;
      DAXOEvent* events[2] = {nullptr, nullptr};
      if (!fifo->StartReadingX(r, &events[0], &events[1], &slot)) {
        slot = fifo->AchieveStartReadingX(r, DAXOEvent::Wait(2, events, -1));
        if (slot.ptr == nullptr) continue;
      }
      DAXOIOElt& e = *(*fifo)[slot];
      const DAXOInt32* items = e.Integer32(0);
      for (int j = 0; j < kItems; ++j) *sum += items[j];
      const long seq = e.Timestamp();
      fifo->StopReading(r, slot);
      return seq;
    }
  }

  DAXOEvent die;
  std::unique_ptr<DAXOIOMonitorImplementation> fifo;
  std::vector<DAXOInt32> storage;
  std::vector<int> numbers;
};

void FifoThroughput(benchmark::State& state) {
  const int readers = static_cast<int>(state.range(0));
  FifoRig rig(readers);
  std::vector<std::thread> threads;
  for (int i = 0; i < readers; ++i) {
    threads.emplace_back([&rig, i] {
      long sum = 0;
      while (rig.Read(rig.numbers[i], &sum) != kStop) {
      }
      benchmark::DoNotOptimize(sum);
    });
  }
  long seq = 0;
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) rig.Write(++seq);
  }
  rig.Write(kStop);
  for (std::thread& t : threads) t.join();
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void FifoLatency(benchmark::State& state) {
  FifoRig there(1);
  FifoRig back(1);
  std::thread echo([&] {
    long sum = 0;
    for (;;) {
      const long seq = there.Read(there.numbers[0], &sum);
      back.Write(seq);
      if (seq == kStop) break;
    }
  });
  long seq = 0;
  long sum = 0;
  for (auto _ : state) {
    there.Write(++seq);
    if (back.Read(back.numbers[0], &sum) != seq) state.SkipWithError("out of order");
  }
  there.Write(kStop);
  back.Read(back.numbers[0], &sum);
  echo.join();
  benchmark::DoNotOptimize(sum);
}

// --- the bounded copying queue --------------------------------------------------------------

class BoundedQueue {
 public:
  void Push(const Payload& p) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_notFull.wait(lock, [&] { return m_count < kSlots; });
    m_ring[(m_head + m_count) % kSlots] = p;
    ++m_count;
    lock.unlock();
    m_notEmpty.notify_one();
  }
  void Pop(Payload& p) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_notEmpty.wait(lock, [&] { return m_count > 0; });
    p = m_ring[m_head];
    m_head = (m_head + 1) % kSlots;
    --m_count;
    lock.unlock();
    m_notFull.notify_one();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_notEmpty;
  std::condition_variable m_notFull;
  Payload m_ring[kSlots];
  int m_head = 0;
  int m_count = 0;
};

Payload MakePayload(long seq) {
  Payload p;
  p.seq = seq;
  for (int j = 0; j < kItems; ++j) p.items[j] = static_cast<DAXOInt32>(seq + j);
  return p;
}

long Consume(BoundedQueue& q, long* sum) {
  Payload p;
  q.Pop(p);
  for (int j = 0; j < kItems; ++j) *sum += p.items[j];
  return p.seq;
}

void QueueThroughput(benchmark::State& state) {
  const int readers = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<BoundedQueue>> queues;
  for (int i = 0; i < readers; ++i) queues.push_back(std::make_unique<BoundedQueue>());
  std::vector<std::thread> threads;
  for (int i = 0; i < readers; ++i) {
    threads.emplace_back([&queues, i] {
      long sum = 0;
      while (Consume(*queues[i], &sum) != kStop) {
      }
      benchmark::DoNotOptimize(sum);
    });
  }
  long seq = 0;
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) {
      const Payload p = MakePayload(++seq);
      for (auto& q : queues) q->Push(p);
    }
  }
  for (auto& q : queues) q->Push(MakePayload(kStop));
  for (std::thread& t : threads) t.join();
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void QueueLatency(benchmark::State& state) {
  BoundedQueue there;
  BoundedQueue back;
  std::thread echo([&] {
    long sum = 0;
    for (;;) {
      const long seq = Consume(there, &sum);
      back.Push(MakePayload(seq));
      if (seq == kStop) break;
    }
  });
  long seq = 0;
  long sum = 0;
  for (auto _ : state) {
    there.Push(MakePayload(++seq));
    if (Consume(back, &sum) != seq) state.SkipWithError("out of order");
  }
  there.Push(MakePayload(kStop));
  Consume(back, &sum);
  echo.join();
  benchmark::DoNotOptimize(sum);
}

}  // namespace

BENCHMARK(FifoThroughput)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();
BENCHMARK(QueueThroughput)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();
BENCHMARK(FifoLatency)->UseRealTime();
BENCHMARK(QueueLatency)->UseRealTime();

BENCHMARK_MAIN();

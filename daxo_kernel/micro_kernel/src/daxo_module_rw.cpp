// Reading and writing primitives of a module: StartWriting / StopWriting,
// the one-input and several-input reads, sliding windows, synchronised
// reads, StopReading and the FIFO queries.
//
// A reader waits on events only, never with a FIFO mutex held: StartReadingX
// either takes a slot or leaves the reader marked waiting with the mutex
// released; every path out of a wait ends it (AchieveStartReadingX or
// AbortStartReadingX), exceptions included.
//
// Failures: a call that cannot do its work goes through ReportFailure exactly
// once (the component error and the life's failure mark) and answers null;
// the inner steps signal it by throwing DAXO::ErrorException up to the
// call's own catch. DAXO::ModuleDied always passes through. A detachment is
// no failure: it answers null without a report.
#include <algorithm>

#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_module.h"
#include "daxo_services.h"
#include "daxo_thread.h"

namespace {

constexpr int kMaxInputs = 32;
constexpr int kMaxCancelEvents = 32;
constexpr int kMaxSynchroInputs = 256;

DAXOInputImplementation& In(DAXOInput& input) {
  return static_cast<DAXOInputImplementation&>(input);
}

DAXOOutputImplementation& Out(DAXOOutput& output) {
  return static_cast<DAXOOutputImplementation&>(output);
}

DAXOIOEltImplementation* ElementOf(DAXOIOMonitorImplementation* fifo, DAXOFastIOHandle slot) {
  return static_cast<DAXOIOEltImplementation*>((*fifo)[slot]);
}

/// A wait without time-out on `n` events that answered none of them: the
/// event service failed.
bool WaitFailed(int result, int n) {
  return result < 0 || result >= n;
}

/// Marks the input inside a reading call (waiting while the connecting side
/// detaches it) and ends the call on every way out, exceptions included.
class ReadingScope {
 public:
  explicit ReadingScope(DAXOInputImplementation& input) : m_input(input) {
    DAXOMutexGuard guard(input.mutex);
    while (input.detaching.load()) {
      guard.unlock();
      DAXO::Wait4AWhile();
      guard.relock();
    }
    input.insideStartReading = true;
  }
  ~ReadingScope() { m_input.ExitStartReading(); }
  ReadingScope(const ReadingScope&) = delete;
  ReadingScope& operator=(const ReadingScope&) = delete;

 private:
  DAXOInputImplementation& m_input;
};

}  // namespace

// --- writing -----------------------------------------------------------------------

DAXOIOElt* DAXOModule::StartWriting(DAXOOutput& output) {
  if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  DAXOOutputImplementation& out = Out(output);
  try {
    const DAXOFastIOHandle slot = out.monitor->StartWriting();
    if (slot.ptr != nullptr) {
      DAXOIOEltImplementation* element = ElementOf(out.monitor, slot);
      element->output = &output;
      element->slot = slot;
      element->timeOfIssue = 0;
      element->timestamp = 0;
      return element;
    }
    // The writer's wait was aborted: the normal end of a dying writer, a
    // failure otherwise (no slot to write into).
    if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  } catch (int code) {
    if (code == DAXO::ModuleDied) throw;
  }
  ReportFailure(DAXOStreamedString("Failed to start writing on ") << out.name);
  return nullptr;
}

DAXOIOElt* DAXOModule::StartWriting(DAXOOutput& output, DAXOTimestamp t) {
  DAXOIOElt* element = StartWriting(output);
  if (element != nullptr) element->Timestamp() = t;
  return element;
}

void DAXOModule::ReportFailure(const DAXOString& text) {
  try {
    Error(text, 1, 0);
  } catch (int) {
    // Error records the failure in the module's state and reports it; the
    // caller answers null instead of unwinding.
  }
  // After the report: whoever ends the life on this mark reports the death
  // after the failure itself.
  m_primitiveFailed = true;
}

namespace {

/// The smoothed timestamp of a periodic output: the least-squares line
/// through the last 30 raw timestamps, taken at the newest one.
DAXOTimestamp Regression(const DAXOTimestamp* ring, int index) {
  constexpr int n = DAXOOutputImplementation::HistorySize;
  double sumY = 0;
  for (int i = 0; i < n; ++i) sumY += static_cast<double>(ring[(index + 1 + i) % n]);
  const double meanX = (n - 1) / 2.0;
  const double meanY = sumY / n;
  double sxy = 0;
  double sxx = 0;
  for (int i = 0; i < n; ++i) {
    const double dx = i - meanX;
    sxy += (static_cast<double>(ring[(index + 1 + i) % n]) - meanY) * dx;
    sxx += dx * dx;
  }
  const double slope = sxy / sxx;
  return static_cast<DAXOTimestamp>(meanY - meanX * slope + (n - 1) * slope);
}

}  // namespace

void DAXOModule::StopWriting(DAXOIOElt* element, bool discard) {
  if (element == nullptr) return;
  auto* e = static_cast<DAXOIOEltImplementation*>(element);
  auto* out = static_cast<DAXOOutputImplementation*>(e->output);
  if (out == nullptr) return;
  if (e->vectorSize > e->bufferSize) {
    ReportFailure(DAXOStreamedString("Buffer overflow detected: VectorSize(")
                  << e->vectorSize << ") > BufferSize(" << e->bufferSize << ")");
  }
  if (e->timeOfIssue == 0) e->timeOfIssue = DAXO::CurrentTime(true, true);
  if (e->timestamp == 0) e->timestamp = e->timeOfIssue;

  constexpr int n = DAXOOutputImplementation::HistorySize;
  DAXOTimestamp* history = out->history;
  history[out->historyIndex] = e->timestamp;
  if (out->periodic) {
    bool full = true;
    for (int i = 0; i < n; ++i) full = full && history[i] != 0;
    if (full) e->timestamp = Regression(history, out->historyIndex);
    if (e->timestamp < history[n]) e->timestamp = e->timeOfIssue;
  }
  history[n] = e->timestamp;
  out->historyIndex = (out->historyIndex + 1) % n;

  out->monitor->StopWriting(e->slot, discard);
  if (discard) return;
  // Sequential readers run here, on the writer's thread, in connection order.
  DAXOMutexGuard connections(out->connectionMutex);
  for (DAXOListIterator it = out->connectedInputs.First(); it != nullptr; ++it) {
    DAXOInput* input = out->connectedInputs.Value(it);
    DAXOModule* reader = input->Owner();
    if (reader == nullptr || reader->m_threadedReads.load()) continue;
    const DAXOUInt32 before = reader->State();
    reader->SequentialCore(input);
    if (reader->State() != before && DAXOPrivate::kernel != nullptr) {
      DAXOPrivate::kernel->NotifyModuleState(reader->name, static_cast<int>(reader->State()));
    }
  }
}

// --- reading one input -------------------------------------------------------------

DAXOFastIOHandle DAXOModule::TakeOne(DAXOInputImplementation& in, bool msg) {
  // A detachment must find the input holding nothing: slots kept from
  // earlier calls (a sliding window) are given back and the call gives up
  // (null handle), leaving the acknowledgement to ExitStartReading.
  auto detached = [&] {
    if (in.heldCount == 0) {
      in.AcknowledgeDetachment();
      return false;
    }
    StopReading(in);
    return true;
  };
  for (;;) {
    DAXOIOMonitorImplementation* fifo = in.fifo;
    if (fifo == nullptr) {
      DAXOEvent* events[2] = {&m_dieEvent, &in.connectionEvent};
      const int n = &m_dieEvent == &in.connectionEvent ? 1 : 2;
      const int fired = msg ? DAXOEvent::MsgWait(n, events, -1) : DAXOEvent::Wait(n, events, -1);
      if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
      // Waiting again on a failing event service would spin.
      if (WaitFailed(fired, n)) throw DAXO::ErrorException;
      in.connectionEvent.Reset();
      continue;
    }
    if (in.detaching.load()) {
      if (detached()) return {};
      continue;
    }
    DAXOEvent* readerEvent = nullptr;
    DAXOEvent* abortEvent = nullptr;
    DAXOFastIOHandle slot;
    if (fifo->StartReadingX(in.readerNumber, &readerEvent, &abortEvent, &slot)) return slot;
    DAXOEvent* events[3] = {readerEvent, &m_dieEvent, &in.interruptEvent};
    const int fired = msg ? DAXOEvent::MsgWait(3, events, -1) : DAXOEvent::Wait(3, events, -1);
    if (fired == 0) {
      slot = fifo->AchieveStartReadingX(in.readerNumber, 0);
      if (slot.ptr != nullptr) return slot;
      continue;  // the sample went before we got to it
    }
    fifo->AbortStartReadingX(in.readerNumber);
    if (fired == 1 || (State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
    if (fired != 2) throw DAXO::ErrorException;  // the event service failed
    in.interruptEvent.Reset();
    if (in.detaching.load() && detached()) return {};
  }
}

DAXOIOElt* DAXOModule::ReadOne(DAXOInput& input, bool msg) {
  if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  DAXOInputImplementation& in = In(input);
  if (in.heldCount != 0) StopReading(input);
  ReadingScope scope(in);
  try {
    DAXOFastIOHandle slot;
    DAXOIOMonitorImplementation* fifo = in.fifo;
    if (!m_threadedReads.load()) {
      if (msg || fifo == nullptr) return nullptr;
      if (in.detaching.load()) {
        in.AcknowledgeDetachment();
        return nullptr;
      }
      DAXOEvent* readerEvent = nullptr;
      DAXOEvent* abortEvent = nullptr;
      if (!fifo->StartReadingX(in.readerNumber, &readerEvent, &abortEvent, &slot)) {
        fifo->AbortStartReadingX(in.readerNumber);
        return nullptr;
      }
    } else {
      if (msg && DAXOEvent::MsgInQueue()) return nullptr;
      const int last = in.subsampling - 1;
      for (int k = in.subsamplingCounter;; ++k) {
        slot = TakeOne(in, msg);
        if (slot.ptr == nullptr) return nullptr;  // detached
        if (k >= last) break;
        in.fifo.load()->StopReading(in.readerNumber, slot);
      }
      fifo = in.fifo;
      in.subsamplingCounter = 0;
    }
    // A sequential reader's subsampling is counted by its SequentialCore.
    in.held[0] = slot;
    {
      DAXOMutexGuard guard(in.mutex);
      in.heldCount = 1;
    }
    return ElementOf(fifo, slot);
  } catch (int code) {
    if (code != DAXO::ErrorException) throw;
  }
  ReportFailure(DAXOStreamedString("Failed to start reading on ") << in.name);
  return nullptr;
}

DAXOIOElt* DAXOModule::StartReading(DAXOInput& input) {
  return ReadOne(input, false);
}

DAXOIOElt* DAXOModule::MsgStartReading(DAXOInput& input) {
  return ReadOne(input, true);
}

void DAXOModule::StopReading(DAXOInput& input) {
  DAXOInputImplementation& in = In(input);
  DAXOIOMonitorImplementation* fifo = in.fifo;
  if (fifo != nullptr) {
    for (int i = 0; i < in.heldCount; ++i) {
      try {
        fifo->StopReading(in.readerNumber, in.held[i]);
      } catch (int) {
        // Reported by the FIFO: the detachment took the slot back already.
      }
    }
  }
  bool acknowledge = false;
  {
    DAXOMutexGuard guard(in.mutex);
    in.heldCount = 0;
    if (!in.insideStartReading && in.detaching.load()) {
      in.interruptEvent.Reset();
      acknowledge = true;
    }
  }
  if (acknowledge) in.AcknowledgeDetachment();
}

// --- reading several inputs ---------------------------------------------------------

DAXOIOElt* DAXOModule::ReadMany(int n, DAXOInput** inputs, int* which, int nCancel,
                                DAXOEvent** cancelEvents, bool msg) {
  int ignored = -1;
  if (which == nullptr) which = &ignored;
  if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  if (msg && (!m_threadedReads.load() || DAXOEvent::MsgInQueue())) {
    *which = -2;
    return nullptr;
  }
  try {
    if (nCancel > kMaxCancelEvents || nCancel < 0) {
      DAXOPrivate::KernelError(msg ? "MsgStartReading can't wait on more than 32 events "
                                     "simultaneously."
                                   : "StartReading can't wait on more than 32 events "
                                     "simultaneously.",
                               1);
    }
    if (n > kMaxInputs) {
      DAXOPrivate::KernelError(msg ? "MsgStartReading can't wait for more than 32 inputs "
                                     "simultaneously."
                                   : "StartReading can't wait for more than 32 inputs "
                                     "simultaneously.",
                               1);
    }
    if (!m_threadedReads.load()) return ReadManySequential(n, inputs, which);
    return ReadManyThreaded(n, inputs, which, nCancel, cancelEvents, msg);
  } catch (int code) {
    if (code != DAXO::ErrorException) throw;
  }
  ReportFailure("Failed to start reading on multiple inputs");
  return nullptr;
}

DAXOIOElt* DAXOModule::StartReading(int n, DAXOInput** inputs, int* which, int nCancel,
                                    DAXOEvent** cancelEvents) {
  return ReadMany(n, inputs, which, nCancel, cancelEvents, false);
}

DAXOIOElt* DAXOModule::MsgStartReading(int n, DAXOInput** inputs, int* which, int nCancel,
                                       DAXOEvent** cancelEvents) {
  return ReadMany(n, inputs, which, nCancel, cancelEvents, true);
}

DAXOIOElt* DAXOModule::ReadManySequential(int n, DAXOInput** inputs, int* which) {
  *which = -1;
  if (n < 1) return nullptr;
  for (int i = 0; i < n; ++i) {
    DAXOInputImplementation& in = In(*inputs[i]);
    if (in.detaching.load() && in.heldCount > 0) {
      StopReading(in);
      *which = i;
      return nullptr;
    }
    if (inputs[i] == m_currentInput) *which = i;
  }
  if (*which < 0) return nullptr;
  return ReadOne(*inputs[*which], false);
}

DAXOIOElt* DAXOModule::ReadManyThreaded(int n, DAXOInput** inputs, int* which, int nCancel,
                                        DAXOEvent** cancelEvents, bool msg) {
  // Wait list: [die event, per input 1 or 2 entries, cancel events]. Lives
  // on the stack: at most 1 + 2 x 32 + 32 entries.
  DAXOEvent* events[1 + 2 * kMaxInputs + kMaxCancelEvents];
  int first[kMaxInputs];
  bool waiting[kMaxInputs];
  bool inside[kMaxInputs];
  for (int i = 0; i < n; ++i) inside[i] = false;
  // Ends the reading call of every input this call entered.
  struct Exit {
    DAXOInput** inputs;
    bool* inside;
    int n;
    ~Exit() {
      for (int i = 0; i < n; ++i) {
        if (inside[i]) In(*inputs[i]).ExitStartReading();
      }
    }
  } exit{inputs, inside, n};
  auto abortWaits = [&](int except) {
    for (int i = 0; i < n; ++i) {
      if (!waiting[i] || i == except) continue;
      DAXOInputImplementation& in = In(*inputs[i]);
      if (DAXOIOMonitorImplementation* fifo = in.fifo) fifo->AbortStartReadingX(in.readerNumber);
      waiting[i] = false;
    }
  };

  for (;;) {
    int count = 0;
    events[count++] = &m_dieEvent;
    int winner = -1;
    DAXOFastIOHandle slot;
    for (int i = 0; i < n; ++i) waiting[i] = false;
    for (int i = 0; i < n && winner < 0; ++i) {
      DAXOInputImplementation& in = In(*inputs[i]);
      first[i] = count;
      DAXOIOMonitorImplementation* fifo = in.fifo;
      const bool detaching = in.detaching.load();
      if (fifo == nullptr || (detaching && in.heldCount == 0)) {
        if (detaching) in.AcknowledgeDetachment();
        events[count++] = &in.connectionEvent;
        continue;
      }
      if (detaching) {
        StopReading(in);
        abortWaits(-1);
        *which = i;
        return nullptr;
      }
      if (!inside[i]) {
        DAXOMutexGuard guard(in.mutex);
        in.insideStartReading = true;
        inside[i] = true;
      }
      if (in.readerType == DAXO::SamplingReader) {
        abortWaits(-1);
        ReportFailure(DAXOStreamedString("StartReading on multiple inputs is not possible with "
                                         "SamplingReader inputs. ")
                      << in.name << " is a SamplingReader input.");
        return nullptr;
      }
      DAXOEvent* readerEvent = nullptr;
      DAXOEvent* abortEvent = nullptr;
      if (fifo->StartReadingX(in.readerNumber, &readerEvent, &abortEvent, &slot)) {
        abortWaits(-1);
        winner = i;
        break;
      }
      waiting[i] = true;
      events[count++] = readerEvent;
      events[count++] = &in.interruptEvent;
    }
    if (winner < 0) {
      const int cancelBase = count;
      for (int k = 0; k < nCancel; ++k) events[count++] = cancelEvents[k];
      if (count > DAXOPrivate::MaxWaitEvents) {
        abortWaits(-1);
        DAXOPrivate::KernelError("Wait4Events can't wait for more than 254 events simultaneously.",
                                 1);
      }
      const int r =
          msg ? DAXOEvent::MsgWait(count, events, -1) : DAXOEvent::Wait(count, events, -1);
      if (r == 0 || (State() & DAXO::DyingState) != 0) {
        abortWaits(-1);
        throw DAXO::ModuleDied;
      }
      if (WaitFailed(r, count)) {
        abortWaits(-1);
        throw DAXO::ErrorException;  // waiting again on a failing event service would spin
      }
      if (r >= cancelBase) {
        abortWaits(-1);
        *which = n + (r - cancelBase);
        return nullptr;
      }
      int i = n - 1;
      while (first[i] > r) --i;
      *which = i;
      DAXOInputImplementation& in = In(*inputs[i]);
      if (!waiting[i]) {  // its connection changed
        in.connectionEvent.Reset();
        abortWaits(-1);
        continue;
      }
      if (r == first[i] + 1) {  // interrupted
        in.interruptEvent.Reset();
        abortWaits(-1);
        if (in.detaching.load()) {
          if (in.heldCount > 0) {
            StopReading(in);
            return nullptr;
          }
          in.AcknowledgeDetachment();
        }
        continue;
      }
      abortWaits(i);
      waiting[i] = false;
      slot = in.fifo.load()->AchieveStartReadingX(in.readerNumber, 0);
      if (slot.ptr == nullptr) continue;
      winner = i;
    }
    DAXOInputImplementation& in = In(*inputs[winner]);
    DAXOIOMonitorImplementation* fifo = in.fifo;
    if (++in.subsamplingCounter < in.subsampling) {
      fifo->StopReading(in.readerNumber, slot);
      continue;
    }
    in.subsamplingCounter = 0;
    *which = winner;
    if (in.heldCount > 0) {
      for (int h = 0; h < in.heldCount; ++h) fifo->StopReading(in.readerNumber, in.held[h]);
    }
    in.held[0] = slot;
    {
      DAXOMutexGuard guard(in.mutex);
      in.heldCount = 1;
    }
    return ElementOf(fifo, slot);
  }
}

// --- sliding windows -----------------------------------------------------------------

bool DAXOModule::NLastStartReading(DAXOInput& input, int n, DAXOIOElt** out) {
  if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  DAXOInputImplementation& in = In(input);
  if (n < 1 || out == nullptr) return false;
  if (in.detaching.load() && in.heldCount > 0) StopReading(input);
  ReadingScope scope(in);
  try {
    if (!m_threadedReads.load() && in.subsampling > 1) {
      ReportFailure(
          "NLastStartReading is not supported for sequential components with an "
          "input subsampling.");
      return false;
    }
    in.ReserveHeld(n);
    do {
      DAXOFastIOHandle slot;
      DAXOIOMonitorImplementation* fifo = in.fifo;
      if (!m_threadedReads.load()) {
        DAXOEvent* readerEvent = nullptr;
        DAXOEvent* abortEvent = nullptr;
        if (fifo == nullptr ||
            !fifo->StartReadingX(in.readerNumber, &readerEvent, &abortEvent, &slot)) {
          if (fifo != nullptr) fifo->AbortStartReadingX(in.readerNumber);
          return false;
        }
      } else {
        const int last = in.subsampling - 1;
        for (int k = in.subsamplingCounter;; ++k) {
          slot = TakeOne(in, false);
          if (slot.ptr == nullptr) return false;  // detached: the window went
          if (k >= last) break;
          in.fifo.load()->StopReading(in.readerNumber, slot);
        }
        in.subsamplingCounter = 0;
        fifo = in.fifo;
      }
      int held = in.heldCount;
      while (held >= n) {
        fifo->StopReading(in.readerNumber, in.held[0]);
        for (int i = 1; i < held; ++i) in.held[i - 1] = in.held[i];
        --held;
      }
      in.held[held++] = slot;
      DAXOMutexGuard guard(in.mutex);
      in.heldCount = held;
    } while (in.heldCount < n && m_threadedReads.load());
    if (in.heldCount < n) return false;
    DAXOIOMonitorImplementation* fifo = in.fifo;
    for (int i = 0; i < n; ++i) out[i] = ElementOf(fifo, in.held[i]);
    return true;
  } catch (int code) {
    if (code != DAXO::ErrorException) throw;
  }
  ReportFailure(DAXOStreamedString("Failed to start reading ")
                << n << " last samples on " << in.name);
  return false;
}

// --- synchronised reads ------------------------------------------------------------

DAXOTimestamp DAXOModule::SynchroStartReading2(int n, DAXOInput** inputs, DAXOIOElt** out,
                                               DAXOTimestamp tolerance, DAXOEvent* cancel) {
  if (n < 1) {
    ReportFailure("The number of inputs cannot be negative.");
    return -1;
  }
  if (n > kMaxSynchroInputs) {
    ReportFailure("Can't SynchroStartRead on more than 256 inputs simultaneously. Sorry.");
    return -1;
  }
  if (tolerance < 0) {
    ReportFailure("synchroTolerance cannot be negative");
    return -1;
  }
  DAXOInput* pending[kMaxSynchroInputs];
  int pendingIndex[kMaxSynchroInputs];
  bool isPending[kMaxSynchroInputs];
  for (int i = 0; i < n; ++i) {
    out[i] = nullptr;
    isPending[i] = true;
  }
  DAXOTimestamp lo = 0;
  DAXOTimestamp hi = 0;
  bool started = false;
  DAXOEvent* cancels[1] = {cancel};
  for (;;) {
    int count = 0;
    for (int i = 0; i < n; ++i) {
      if (!isPending[i]) continue;
      pendingIndex[count] = i;
      pending[count++] = inputs[i];
    }
    if (count == 0) return lo;
    int which = -1;
    DAXOIOElt* e = nullptr;
    while (e == nullptr) {
      which = -1;  // a failed read leaves it untouched
      // At most 32 inputs at a time: the first pending ones.
      const int batch = count < kMaxInputs ? count : kMaxInputs;
      e = StartReading(batch, pending, &which, cancel != nullptr ? 1 : 0, cancels);
      if (e != nullptr) break;
      if (cancel != nullptr && which == batch) return -1;
      // A failure ends the life: no second read. A sequential component
      // reads only what its current call brought: reading again would spin.
      if (m_primitiveFailed.load() || !m_threadedReads.load()) return -1;
      // An input was detached: wait on the pending ones again.
    }
    const bool forward = DAXO::TimeSpeed() >= 0;
    const int j = pendingIndex[which];
    const DAXOTimestamp t = e->Timestamp();
    out[j] = e;
    auto restart = [&] {
      lo = hi = t;
      isPending[j] = false;
      for (int i = 0; i < n; ++i) {
        if (i == j || out[i] == nullptr) continue;
        const DAXOTimestamp ti = out[i]->Timestamp();
        if (forward && t - ti <= tolerance) {
          lo = std::min(lo, ti);
          isPending[i] = false;
        } else if (!forward && ti - t <= tolerance) {
          hi = std::max(hi, ti);
          isPending[i] = false;
        } else {
          out[i] = nullptr;
          isPending[i] = true;
        }
      }
    };
    if (!started) {
      started = true;
      lo = hi = t;
      isPending[j] = false;
      continue;
    }
    if (tolerance == 0) {
      if (t == lo) {
        isPending[j] = false;
      } else if (forward ? t > lo : t <= hi) {
        restart();
      } else {
        out[j] = nullptr;
      }
      continue;
    }
    const DAXOTimestamp lo2 = std::min(lo, t);
    const DAXOTimestamp hi2 = std::max(hi, t);
    if (hi2 - lo2 <= tolerance) {
      lo = lo2;
      hi = hi2;
      isPending[j] = false;
    } else if (forward ? t >= lo : t <= hi) {
      restart();
    } else {
      out[j] = nullptr;
    }
  }
}

DAXOTimestamp DAXOModule::SynchroStartReading(int n, DAXOInput** inputs, DAXOIOElt** out,
                                              DAXOTimestamp tolerance, DAXOEvent* cancel) {
  const DAXOTimestamp result = SynchroStartReading2(n, inputs, out, tolerance, cancel);
  if (result == -1) {
    for (int i = 0; i < n && i < kMaxSynchroInputs; ++i) out[i] = nullptr;
  }
  return result;
}

// --- queries ---------------------------------------------------------------------------

bool DAXOModule::DataAvailableInFIFO(DAXOInput& input) {
  return input.DataAvailableInFIFO();
}

bool DAXOModule::IsFIFOEmpty(DAXOOutput& output) {
  return Out(output).monitor->IsEmpty();
}

bool DAXOModule::IsFIFOFull(DAXOOutput& output) {
  return Out(output).monitor->IsFull();
}

void DAXOModule::Wait4Handshake(DAXOOutput& output) {
  DAXOEvent& released = Out(output).monitor->SlotReleasedEvent();
  DAXOEvent* events[2] = {&m_dieEvent, &released};
  DAXOEvent::Wait(&released == &m_dieEvent ? 1 : 2, events, -1);
  if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  // The hand-shake is consumed: nothing else resets the event, and left set
  // it would end every later wait at once, before any reader had the
  // samples written since.
  if (&released != &m_dieEvent) released.Reset();
}

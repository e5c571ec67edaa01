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
  explicit ReadingScope(DAXOInputReader& reader) : m_reader(reader) { reader.Enter(); }
  ~ReadingScope() { m_reader.Exit(); }
  ReadingScope(const ReadingScope&) = delete;
  ReadingScope& operator=(const ReadingScope&) = delete;

 private:
  DAXOInputReader& m_reader;
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

DAXOIOElt* DAXOModule::ReadOne(DAXOInput& input, bool msg) {
  if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  DAXOInputImplementation& in = In(input);
  DAXOInputReader& reader = in.reader;
  if (reader.HeldCount() != 0) reader.GiveBackAll();
  ReadingScope scope(reader);
  try {
    DAXOFastIOHandle slot;
    if (!m_threadedReads.load()) {
      // A sequential reader takes what is there, now; its subsampling is
      // counted by its SequentialCore.
      if (msg || in.fifo == nullptr) return nullptr;
      if (reader.Detaching()) {
        reader.AcknowledgeDetachment();
        return nullptr;
      }
      if (!reader.TakeNow(&slot)) return nullptr;
    } else {
      if (msg && DAXOEvent::MsgInQueue()) return nullptr;
      slot = reader.TakeNext(msg);
      if (slot.ptr == nullptr) return nullptr;  // detached
    }
    DAXOIOMonitorImplementation* fifo = in.fifo;
    reader.HoldOnly(fifo, slot);
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
  In(input).reader.GiveBackAll();
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
    DAXOInputReader& reader = In(*inputs[i]).reader;
    if (reader.Detaching() && reader.HeldCount() > 0) {
      reader.GiveBackAll();
      *which = i;
      return nullptr;
    }
    if (inputs[i] == m_currentInput) *which = i;
  }
  if (*which < 0) return nullptr;
  return ReadOne(*inputs[*which], false);
}

namespace {

/// One several-input read of a threaded module: one pass scans the inputs in
/// order and takes from the first that has a sample, or prepares a wait on
/// every one of them; the wait's outcome then names the input that woke it.
/// The wait list, [die event, per input 1 or 2 entries, cancel events],
/// lives on the stack: at most 1 + 2 x 32 + 32 entries. Every input the read
/// entered is left again on every way out, exceptions included.
class ManyInputRead {
 public:
  // `*which` is the caller's answer, written where the read decides it;
  // `*input` the input a step is about.
  enum class Step {
    Taken,           // `*input` holds `*slot`
    Waiting,         // every input waits: call Wait
    Again,           // nothing taken: scan again
    Detached,        // `*which` was detached: give up without a failure
    Cancelled,       // `*which` = n + the cancel event's index
    SamplingReader,  // `*input` is a sampling reader: a failure
  };

  ManyInputRead(DAXOModule& module, int n, DAXOInput** inputs, int nCancel,
                DAXOEvent** cancelEvents, bool msg)
      : m_module(module),
        m_n(n),
        m_inputs(inputs),
        m_nCancel(nCancel),
        m_cancelEvents(cancelEvents),
        m_msg(msg) {
    for (int i = 0; i < n; ++i) m_inside[i] = false;
  }
  ~ManyInputRead() {
    for (int i = 0; i < m_n; ++i) {
      if (m_inside[i]) In(*m_inputs[i]).reader.Exit();
    }
  }
  ManyInputRead(const ManyInputRead&) = delete;
  ManyInputRead& operator=(const ManyInputRead&) = delete;

  /// One pass over the inputs.
  Step Scan(int* which, int* input, DAXOFastIOHandle* slot) {
    m_count = 0;
    m_events[m_count++] = &m_module.DieEvent();
    for (int i = 0; i < m_n; ++i) m_waiting[i] = false;
    for (int i = 0; i < m_n; ++i) {
      DAXOInputImplementation& in = In(*m_inputs[i]);
      DAXOInputReader& reader = in.reader;
      m_first[i] = m_count;
      DAXOIOMonitorImplementation* fifo = in.fifo;
      const bool detaching = reader.Detaching();
      if (fifo == nullptr || (detaching && reader.HeldCount() == 0)) {
        if (detaching) reader.AcknowledgeDetachment();
        m_events[m_count++] = &in.connectionEvent;
        continue;
      }
      *input = i;
      if (detaching) {
        *which = i;
        reader.GiveBackAll();
        AbortWaits(-1);
        return Step::Detached;
      }
      if (!m_inside[i]) {
        reader.MarkInside();
        m_inside[i] = true;
      }
      if (in.readerType == DAXO::SamplingReader) {
        AbortWaits(-1);
        return Step::SamplingReader;
      }
      DAXOEvent* readerEvent = nullptr;
      if (reader.StartTake(fifo, &readerEvent, slot)) {
        AbortWaits(-1);
        return Step::Taken;
      }
      m_waiting[i] = true;
      m_events[m_count++] = readerEvent;
      m_events[m_count++] = &in.interruptEvent;
    }
    return Step::Waiting;
  }

  /// Waits on the list the scan prepared (and the cancel events). Throws
  /// DAXO::ModuleDied when the module dies, DAXO::ErrorException when the
  /// event service fails.
  Step Wait(int* which, int* input, DAXOFastIOHandle* slot) {
    const int cancelBase = m_count;
    for (int k = 0; k < m_nCancel; ++k) m_events[m_count++] = m_cancelEvents[k];
    if (m_count > DAXOPrivate::MaxWaitEvents) {
      AbortWaits(-1);
      DAXOPrivate::KernelError("Wait4Events can't wait for more than 254 events simultaneously.",
                               1);
    }
    const int r =
        m_msg ? DAXOEvent::MsgWait(m_count, m_events, -1) : DAXOEvent::Wait(m_count, m_events, -1);
    if (r == 0 || (m_module.State() & DAXO::DyingState) != 0) {
      AbortWaits(-1);
      throw DAXO::ModuleDied;
    }
    if (WaitFailed(r, m_count)) {
      AbortWaits(-1);
      throw DAXO::ErrorException;  // waiting again on a failing event service would spin
    }
    if (r >= cancelBase) {
      AbortWaits(-1);
      *which = m_n + (r - cancelBase);
      return Step::Cancelled;
    }
    int i = m_n - 1;
    while (m_first[i] > r) --i;
    *which = *input = i;
    DAXOInputImplementation& in = In(*m_inputs[i]);
    if (!m_waiting[i]) {  // its connection changed
      in.connectionEvent.Reset();
      AbortWaits(-1);
      return Step::Again;
    }
    if (r == m_first[i] + 1) {  // interrupted
      in.interruptEvent.Reset();
      AbortWaits(-1);
      if (in.reader.Detaching()) {
        if (in.reader.HeldCount() > 0) {
          in.reader.GiveBackAll();
          return Step::Detached;
        }
        in.reader.AcknowledgeDetachment();
      }
      return Step::Again;
    }
    AbortWaits(i);
    m_waiting[i] = false;
    *slot = in.reader.AchieveTake(in.fifo);
    return slot->ptr != nullptr ? Step::Taken : Step::Again;
  }

 private:
  /// Abandons the prepared waits of every input but `except`.
  void AbortWaits(int except) {
    for (int i = 0; i < m_n; ++i) {
      if (!m_waiting[i] || i == except) continue;
      DAXOInputImplementation& in = In(*m_inputs[i]);
      if (DAXOIOMonitorImplementation* fifo = in.fifo) in.reader.AbortTake(fifo);
      m_waiting[i] = false;
    }
  }

  DAXOModule& m_module;
  const int m_n;
  DAXOInput** const m_inputs;
  const int m_nCancel;
  DAXOEvent** const m_cancelEvents;
  const bool m_msg;
  DAXOEvent* m_events[1 + 2 * kMaxInputs + kMaxCancelEvents];
  int m_count = 0;
  int m_first[kMaxInputs];  // each input's first entry in the wait list
  bool m_waiting[kMaxInputs] = {};
  bool m_inside[kMaxInputs];
};

}  // namespace

DAXOIOElt* DAXOModule::ReadManyThreaded(int n, DAXOInput** inputs, int* which, int nCancel,
                                        DAXOEvent** cancelEvents, bool msg) {
  using Step = ManyInputRead::Step;
  ManyInputRead read(*this, n, inputs, nCancel, cancelEvents, msg);
  for (;;) {
    int i = -1;
    DAXOFastIOHandle slot;
    Step step = read.Scan(which, &i, &slot);
    if (step == Step::Waiting) step = read.Wait(which, &i, &slot);
    if (step == Step::Again) continue;
    if (step == Step::SamplingReader) {
      ReportFailure(DAXOStreamedString("StartReading on multiple inputs is not possible with "
                                       "SamplingReader inputs. ")
                    << In(*inputs[i]).name << " is a SamplingReader input.");
    }
    if (step != Step::Taken) return nullptr;
    DAXOInputImplementation& in = In(*inputs[i]);
    DAXOIOMonitorImplementation* fifo = in.fifo;
    if (++in.subsamplingCounter < in.subsampling) {
      in.reader.GiveBack(fifo, slot);
      continue;
    }
    in.subsamplingCounter = 0;
    *which = i;
    in.reader.HoldOnly(fifo, slot);
    return ElementOf(fifo, slot);
  }
}

// --- sliding windows -----------------------------------------------------------------

bool DAXOModule::NLastStartReading(DAXOInput& input, int n, DAXOIOElt** out) {
  if ((State() & DAXO::DyingState) != 0) throw DAXO::ModuleDied;
  DAXOInputImplementation& in = In(input);
  DAXOInputReader& reader = in.reader;
  if (n < 1 || out == nullptr) return false;
  if (reader.Detaching() && reader.HeldCount() > 0) reader.GiveBackAll();
  ReadingScope scope(reader);
  try {
    if (!m_threadedReads.load() && in.subsampling > 1) {
      ReportFailure(
          "NLastStartReading is not supported for sequential components with an "
          "input subsampling.");
      return false;
    }
    reader.ReserveHeld(n);
    do {
      DAXOFastIOHandle slot;
      if (!m_threadedReads.load()) {
        if (!reader.TakeNow(&slot)) return false;
      } else {
        slot = reader.TakeNext(false);
        if (slot.ptr == nullptr) return false;  // detached: the window went
      }
      reader.HoldInWindow(in.fifo, slot, n);
    } while (reader.HeldCount() < n && m_threadedReads.load());
    if (reader.HeldCount() < n) return false;
    DAXOIOMonitorImplementation* fifo = in.fifo;
    for (int i = 0; i < n; ++i) out[i] = ElementOf(fifo, reader.Held(i));
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

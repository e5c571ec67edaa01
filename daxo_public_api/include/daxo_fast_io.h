// The output FIFO: a fixed ring of slots, each holding one I/O element, shared
// in place by one writer and up to 32 readers (no sample is ever copied).
//
// DAXOFastIOElt<T>   one slot: state, reading/read-by masks, the element
// DAXOFastIO<T>      the slots and reader bookkeeping of one output, with the
//                    writer side (StartWriting/StopWriting), the reader side
//                    (StartReadingX/AchieveStartReadingX/StopReading, queries)
//                    and the connecting side (RegisterReader, UnregisterReader,
//                    SetReaderType, SetSubsamplingRate, ResetFifoSize)
// DAXOIOMonitor      the read-only view of an output's slots handed out to
//                    components (walk the slots, reach their elements)
// DAXOIOMonitorImplementation  the FIFO of a DAXOOutput: DAXOFastIO over
//                    DAXOIOEltImplementation plus the monitor view
// The slot handle, DAXOFastIOHandle, is declared in daxo_io_elt.h (an element
// records its own slot).
//
// Slots are listed from the head (most recently published) to the tail
// (oldest). The writer reuses the oldest slot that is empty or not held, and
// a published slot moves to the head, so the list is always the samples in
// publication order. A slot is readable when it is SlotPublished or
// SlotReading; it is never handed to the writer while a reader holds it.
// Reader policies (reader bit b = 1 << reader number):
//   FifoReader          every sample in order; loses the ones overwritten
//                       before it got to them
//   NeverSkippingReader every sample in order; the writer waits rather than
//                       overwrite a sample it has not had
//   LastOrNextReader    the newest sample; skipped ones count as had
//   Wait4NextReader     only a sample published after it asked
//   SamplingReader      the newest sample at once (possibly the same again)
//
// Threading: one writer thread at a time per FIFO; any number of reader
// threads, each using its own reader number; the connecting side (engine)
// while no reader or writer uses the numbers it changes. `mutex` guards the
// slots (states, masks, order), the FIFO masks, counters and readerByte. It
// is held only for list walks and state changes and never while anybody
// waits: readers wait on their condition event after WaitX released the
// mutex, the writer waits on its events after releasing it. No callback or
// report is made with it held.
// Lock order (daxo_lock_order.h, level 8): only event mutexes are taken
// under the FIFO mutex (Signal and Set are called with it held).
//
// Failures: every "DAXOFastIO fatal error" (and the writer's "Output buffer
// fatal error") is reported with DAXO::ReportError(message, 1) after the
// FIFO mutex has been released, then the integer -5 (DAXO::ErrorException)
// is thrown; a failing call leaves the FIFO as it was. Waits throw 0xDEAD
// (DAXO::ModuleDied) when the die event fires, -3 on time-out and -4 on an
// unexpected wait result, never with the mutex held.
#pragma once

#include <bit>

#include "daxo_condition.h"
#include "daxo_definitions.h"
#include "daxo_event.h"
#include "daxo_io_elt.h"
#include "daxo_list.h"
#include "daxo_mutex.h"
#include "daxo_thread_annotations.h"

namespace DAXO {
// Slot states.
constexpr int SlotPublished = 0;  // holds a published sample, nobody reading
constexpr int SlotWriting = 1;    // reserved by the writer
constexpr int SlotReading = 2;    // at least one reader holds it
constexpr int SlotEmpty = 3;      // never written, or discarded
// Reader types: DAXO::FifoReader .. DAXO::SamplingReader (daxo_definitions.h).
constexpr int MaxFifoReaders = 32;
}  // namespace DAXO

namespace DAXOPrivate {
/// Reports `message` with DAXO::ReportError(message, 1) and throws -5. Call
/// it with no FIFO mutex held.
[[noreturn]] void FastIOFatalError(const char* message);
/// The same for a message that names a reader bit: prefix, the bit in
/// decimal, suffix.
[[noreturn]] void FastIOFatalError(const char* prefix, unsigned int bit, const char* suffix);
}  // namespace DAXOPrivate

template <class T>
struct DAXOFastIOElt {
  int state = DAXO::SlotEmpty;
  DAXOUInt32 readingMask = 0;  // readers holding the slot now
  DAXOUInt32 readByMask = 0;   // FIFO-family readers that took (or skipped) the sample
  T element;
};

template <class T>
class DAXOFastIO {
 public:
  using Slot = DAXOFastIOElt<T>;
  using SlotList = DAXOList<Slot>;

  /// `fifoSize` empty slots; output subsampling `subsampling` (only every
  /// n-th written sample is published; below 1 counts as 1). `dieEvent` (not
  /// owned, may be null) aborts every wait of this FIFO with 0xDEAD.
  DAXOFastIO(DAXOEvent* dieEvent, int fifoSize, int subsampling);
  /// No thread may use the FIFO any more.
  virtual ~DAXOFastIO() { delete readerCondition; }
  DAXOFastIO(const DAXOFastIO&) = delete;
  DAXOFastIO& operator=(const DAXOFastIO&) = delete;

  // --- connecting side ---------------------------------------------------------

  /// Destroys every slot and creates `n` empty ones (n < 0 counts as 0).
  /// Handles and elements of the old slots die. Only while nobody reads or
  /// writes.
  void ResetFifoSize(int n);
  /// Empties every published slot that no reader holds: their samples are
  /// gone (the output's buffer is being released), so no reader, not even
  /// one connected later, may take them. Held slots stay as they are.
  void DiscardPublished();
  /// Registers a reader of `type` (DAXO::FifoReader .. DAXO::SamplingReader;
  /// other values count as FifoReader) with input subsampling `rate` (FIFO
  /// family, clamped to 1..256) and returns its number: the lowest free one.
  /// More than 32 readers is a fatal error.
  int RegisterReader(int type, int rate);
  /// Frees a reader number. Slots it still held are given back and its marks
  /// are wiped from every slot, so that a later reader of the same number
  /// starts afresh. Fatal error when the number is not registered.
  void UnregisterReader(int reader);
  /// Stores a FIFO-family reader's input subsampling (1..256) as n - 1. The
  /// taking rules do not use it.
  void SetSubsamplingRate(int reader, int n);
  /// Gives back every slot `reader` still holds (none is no error), as
  /// StopReading would; returns how many. For taking slots back from a
  /// reader that did not give them back itself.
  int ReleaseReader(int reader);
  /// Forgets every hold: each slot a reader still holds becomes published
  /// and unheld (what its readers had stays had), and the handshake event
  /// (SlotReleasedEvent) is reset. For cleaning up after readers that will
  /// not give their slots back; only once no reader still uses a slot it
  /// took. Waiting readers stay waiting.
  void ReleaseAllReaders();
  /// Switches a FIFO-family reader to FifoReader (0), NeverSkippingReader (1)
  /// or LastOrNextReader (2); any other value gives FifoReader.
  void SetReaderType(int reader, int type);

  // --- reader side ----------------------------------------------------------------
  // `reader` is a registered number. A reader may hold several slots at once.

  /// Takes a slot now under the reader's policy: true with `*slot` set (the
  /// reader holds it until StopReading). Otherwise false: the reader is marked
  /// waiting and the FIFO mutex is released; `*readerEvent` is set at the next
  /// publication and `*abortEvent` is the die event (null when none). Wait on
  /// them (and on your own events) without the FIFO mutex, then end with
  /// AchieveStartReadingX, or abandon with AbortStartReadingX. Never blocks.
  bool StartReadingX(int reader, DAXOEvent** readerEvent, DAXOEvent** abortEvent,
                     DAXOListIterator* slot);
  /// Ends a wait prepared by StartReadingX with the result of the caller's
  /// own wait: 0 (reader event) takes the slot under the reader's policy and
  /// returns it; 1 (die event) throws 0xDEAD; anything else throws -4.
  /// Woken and nothing to take has two causes, told apart by the FIFO's count
  /// of take-backs (a published sample turned back into a slot to write or
  /// emptied):
  /// - a race: the writer took the sample that woke the reader back before
  ///   the reader got to it (a take-back since the wait was prepared). A null
  ///   handle: nothing was taken, the reader no longer waits, call
  ///   StartReadingX again.
  /// - no take-back, so the publication that woke the reader must still be
  ///   there: the FIFO's state is inconsistent. Fatal error ("Trouble with a
  ///   FIFO reader" / "with a sampling reader" / "no space where to read",
  ///   by reader type).
  /// Blocks only on the FIFO mutex.
  DAXOFastIOHandle AchieveStartReadingX(int reader, int waitResult);
  /// Abandons a wait prepared by StartReadingX (the reader is no longer
  /// marked waiting). Blocks only on the FIFO mutex. (The condition takes
  /// the mutex and leaves it held, beyond what the analysis can follow.)
  void AbortStartReadingX(int reader) DAXO_NO_THREAD_SAFETY_ANALYSIS;
  /// Gives back the newest slot the reader holds; fatal error when it holds
  /// none. The caller loses the slot once this returns.
  void StopReading(int reader);
  /// Gives back `slot`; fatal error when the reader does not hold it.
  void StopReading(int reader, DAXOListIterator slot);

  // --- writer side ------------------------------------------------------------------

  /// Reserves the oldest slot that is empty or not held, overwriting a sample
  /// that some FifoReader or LastOrNextReader has not had (an overflow,
  /// reported to the overflow callback). When a NeverSkippingReader has not
  /// had that sample, waits (writer time-out) until a reader gives a slot
  /// back; 0xDEAD when the die event fires, -3 on time-out, a null handle
  /// when AbortWriter interrupts the wait. No slot that is not held at all:
  /// overflow callback, then fatal "Output buffer fatal error". The element
  /// comes with timestamp 0; the writer owns the slot until StopWriting.
  DAXOFastIOHandle StartWriting();
  /// Publishes the written slot (it becomes the head and every waiting reader
  /// is woken), or, when `discard` is set or output subsampling skips this
  /// sample, empties it. The writer loses the slot once this returns. A null
  /// handle does nothing; a slot not reserved by StartWriting is a fatal
  /// error.
  void StopWriting(DAXOListIterator slot, bool discard);
  /// Makes a StartWriting that is waiting return a null handle. An abort
  /// when no writer waits is forgotten at the writer's next wait.
  void AbortWriter() { writerAbortEvent.Set(); }
  /// Publish only every n-th written sample from the next publication on (the
  /// count in progress is kept). Below 1 counts as 1.
  void SetOutputSubsampling(int n);
  /// Time-out of the writer's wait in microseconds; -1 (default) waits
  /// forever.
  void SetWriterTimeout(int timeout);
  /// Called (outside the FIFO mutex) once for every overwritten sample and
  /// once before the "no space" fatal error, with `argument`.
  void SetOverflowCallback(void (*callback)(void*), void* argument);

  // --- queries (each a snapshot under the FIFO mutex) --------------------------------

  /// Whether StartReadingX would take a slot now (a Wait4NextReader still
  /// waits: this only says whether a readable slot exists).
  bool DataAvailable(int reader);
  /// Samples the reader could still take (non-FIFO readers: readable slots).
  int NbDataAvailable(int reader);
  /// Slots the writer could take without overwriting an unread sample.
  int NbFreeSlots();
  /// No slot held and every published sample had by every FIFO reader.
  bool IsEmpty();
  /// The writer's next slot would overwrite an unread sample (or there is
  /// none).
  bool IsFull();
  int SlotState(DAXOFastIOHandle slot);
  int ReaderCount();
  /// The reader's byte: rate - 1 for FIFO-family readers, the type for others.
  int ReaderByte(int reader);

  /// Set whenever a slot every FIFO reader has had is given back (for
  /// handshakes); never reset here.
  DAXOEvent& SlotReleasedEvent() { return slotReleasedEvent; }
  DAXOEvent& NeverSkippingEvent() { return neverSkippingEvent; }
  DAXOEvent& WriterAbortEvent() { return writerAbortEvent; }
  DAXOEvent* DieEvent() const { return dieEvent; }

 protected:
  /// Holds the FIFO mutex for a scope; can let go early (before a report or
  /// a wait) or hand the release over to someone else (WaitX). For the
  /// thread-safety analysis the mutex is held from construction (also with
  /// `lockNow` false: the caller has it locked for us before touching
  /// anything, see Adopt) until Release, Dismiss or the end of the scope.
  class DAXO_SCOPED_CAPABILITY Hold {
   public:
    explicit Hold(DAXOMutex& mutex, bool lockNow = true)
        DAXO_ACQUIRE(mutex) DAXO_NO_THREAD_SAFETY_ANALYSIS : m_mutex(mutex),
                                                             m_held(lockNow) {
      if (lockNow) m_mutex.Lock();
    }
    ~Hold() DAXO_RELEASE() DAXO_NO_THREAD_SAFETY_ANALYSIS { Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    void Release() DAXO_RELEASE() DAXO_NO_THREAD_SAFETY_ANALYSIS {
      if (m_held) {
        m_held = false;
        m_mutex.Release();
      }
    }
    void Relock() DAXO_ACQUIRE() DAXO_NO_THREAD_SAFETY_ANALYSIS {
      if (!m_held) {
        m_mutex.Lock();
        m_held = true;
      }
    }
    void Adopt() { m_held = true; }  // somebody else locked it for us
    // Somebody else releases it (WaitX).
    void Dismiss() DAXO_RELEASE() DAXO_NO_THREAD_SAFETY_ANALYSIS { m_held = false; }

   private:
    DAXOMutex& m_mutex;
    bool m_held;
  };

  static Slot& SlotOf(DAXOBasicListItem* item) { return SlotList::ValueOf(item); }
  static bool Readable(const Slot& s) {
    return s.state == DAXO::SlotPublished || s.state == DAXO::SlotReading;
  }
  static DAXOUInt32 Bit(int reader) { return DAXOUInt32{1} << reader; }
  static bool ValidNumber(int reader) { return reader >= 0 && reader < DAXO::MaxFifoReaders; }
  bool IsFifoFamily(DAXOUInt32 b) const DAXO_REQUIRES(mutex) { return (fifoMask & b) != 0; }

  // The rest of the protected members run with the FIFO mutex held.
  DAXOBasicListItem* NewestReadable() const DAXO_REQUIRES(mutex);
  DAXOBasicListItem* TakeForFifoReader(DAXOUInt32 b) DAXO_REQUIRES(mutex);
  /// A published sample leaves the readable set other than by being read.
  void CountTakeBack() DAXO_REQUIRES(mutex) { ++takeBacks; }
  void Take(Slot& s, DAXOUInt32 b, bool fifoFamily) DAXO_REQUIRES(mutex);
  void MarkRead(Slot& s, DAXOUInt32 b) DAXO_REQUIRES(mutex);
  void GiveBack(Slot& s, DAXOUInt32 b) DAXO_REQUIRES(mutex);
  static bool HeldBy(const Slot& s, DAXOUInt32 b) {
    return s.state == DAXO::SlotReading && (s.readingMask & b) != 0;
  }
  /// The first slot from `from` towards the tail that reader bit `b` holds.
  static DAXOBasicListItem* NextHeld(DAXOBasicListItem* from, DAXOUInt32 b);
  /// StopReading's one step: gives back `item`, or the newest held slot when
  /// `newest`; a slot the reader does not hold is a fatal error.
  void GiveBackHeld(int reader, DAXOBasicListItem* item, bool newest) DAXO_EXCLUDES(mutex);
  // Releases the mutex through `hold`, then calls out; the caller's scope
  // touches nothing guarded afterwards.
  void CallOverflow(Hold& hold) DAXO_NO_THREAD_SAFETY_ANALYSIS;

  DAXOMutex mutex;
  DAXOCondition2* readerCondition;  // on `mutex` and `dieEvent`, no time-out
  DAXOEvent slotReleasedEvent;
  DAXOEvent neverSkippingEvent;
  DAXOEvent writerAbortEvent;
  DAXOEvent* dieEvent;
  // Everything below is guarded by `mutex`.
  SlotList slots DAXO_GUARDED_BY(mutex);  // head = newest publication
  int readerCount DAXO_GUARDED_BY(mutex) = 0;
  int outputSubsampling DAXO_GUARDED_BY(mutex);
  int subsamplingCountdown DAXO_GUARDED_BY(mutex);
  DAXOUInt32 registeredMask DAXO_GUARDED_BY(mutex) = 0;
  DAXOUInt32 fifoMask DAXO_GUARDED_BY(mutex) = 0;
  DAXOUInt32 neverSkippingMask DAXO_GUARDED_BY(mutex) = 0;
  DAXOUInt32 lastOrNextMask DAXO_GUARDED_BY(mutex) = 0;
  int writerTimeout DAXO_GUARDED_BY(mutex) = -1;
  unsigned char readerByte[DAXO::MaxFifoReaders] DAXO_GUARDED_BY(mutex) = {};
  // Take-backs so far, and their count when each reader's wait was prepared
  // (AchieveStartReadingX tells a race from a fault by them).
  unsigned long takeBacks DAXO_GUARDED_BY(mutex) = 0;
  unsigned long takeBacksAtWait[DAXO::MaxFifoReaders] DAXO_GUARDED_BY(mutex) = {};
  void (*overflowCallback)(void*) DAXO_GUARDED_BY(mutex) = nullptr;
  void* overflowArgument DAXO_GUARDED_BY(mutex) = nullptr;
};

/// The read-only view of an output's slots.
class DAXOIOMonitor {
 public:
  /// The element of `slot` (null for a null handle).
  virtual DAXOIOElt* operator[](DAXOFastIOHandle slot) = 0;
  /// The head slot (newest publication), or null when there are no slots.
  virtual DAXOFastIOHandle InitBegin() = 0;
  /// Moves `slot` one slot towards the tail and returns it (null after the
  /// tail).
  virtual DAXOFastIOHandle InitNext(DAXOFastIOHandle& slot) = 0;

 protected:
  ~DAXOIOMonitor() = default;  // owned and deleted as the implementation
};

class DAXOIOMonitorImplementation : public DAXOFastIO<DAXOIOEltImplementation>,
                                    public DAXOIOMonitor {
 public:
  /// The FIFO of `output` (not owned): `fifoSize` empty slots, output
  /// subsampling `subsampling`, waits aborted by `dieEvent` (the owning
  /// component's). Every overflow is passed to the engine with
  /// DAXOPrivate::SignalFifoOverflow(output). The caller owns the result.
  static DAXOIOMonitorImplementation* CreateMonitor(DAXOEvent* dieEvent, DAXOOutput* output,
                                                    int fifoSize, int subsampling);
  ~DAXOIOMonitorImplementation() override = default;

  DAXOIOElt* operator[](DAXOFastIOHandle slot) override;
  DAXOFastIOHandle InitBegin() override;
  DAXOFastIOHandle InitNext(DAXOFastIOHandle& slot) override;

  DAXOOutput* Output() const { return m_output; }

 private:
  DAXOIOMonitorImplementation(DAXOEvent* dieEvent, DAXOOutput* output, int fifoSize,
                              int subsampling);
  static void SignalOverflow(void* output);

  DAXOOutput* m_output;
};

// ====================================================================================
// Template implementation.

template <class T>
DAXOFastIO<T>::DAXOFastIO(DAXOEvent* die, int fifoSize, int subsampling)
    : readerCondition(new DAXOCondition2(&mutex, die, -1)),
      dieEvent(die),
      outputSubsampling(subsampling),
      subsamplingCountdown(subsampling) {
  for (int i = 0; i < fifoSize; ++i) slots.EmplaceBack();
}

template <class T>
void DAXOFastIO<T>::ResetFifoSize(int n) {
  Hold hold(mutex);
  slots.Clear();
  for (int i = 0; i < n; ++i) slots.EmplaceBack();
  CountTakeBack();
}

// --- connecting side ---------------------------------------------------------------------

template <class T>
void DAXOFastIO<T>::DiscardPublished() {
  Hold hold(mutex);
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    Slot& s = SlotOf(i);
    if (s.state != DAXO::SlotPublished) continue;
    s.state = DAXO::SlotEmpty;
    s.readByMask = 0;
    CountTakeBack();
  }
}

template <class T>
int DAXOFastIO<T>::RegisterReader(int type, int rate) {
  Hold hold(mutex);
  if (readerCount + 1 > DAXO::MaxFifoReaders) {
    hold.Release();
    DAXOPrivate::FastIOFatalError(
        "DAXOFastIO fatal error : DAXOFastIO monitor has too many readers.");
  }
  const int reader = std::countr_one(registeredMask);
  const DAXOUInt32 b = Bit(reader);
  ++readerCount;
  registeredMask |= b;
  if (type == DAXO::Wait4NextReader || type == DAXO::SamplingReader) {
    readerByte[reader] = static_cast<unsigned char>(type);
  } else {
    fifoMask |= b;
    if (type == DAXO::NeverSkippingReader) neverSkippingMask |= b;
    if (type == DAXO::LastOrNextReader) lastOrNextMask |= b;
    const int clamped = rate < 1 ? 1 : (rate > 256 ? 256 : rate);
    readerByte[reader] = static_cast<unsigned char>(clamped - 1);
  }
  readerCondition->Subscribe(reader);
  return reader;
}

template <class T>
void DAXOFastIO<T>::UnregisterReader(int reader) {
  Hold hold(mutex);
  if (!ValidNumber(reader) || (registeredMask & Bit(reader)) == 0) {
    hold.Release();
    DAXOPrivate::FastIOFatalError(
        "DAXOFastIO fatal error : trying to unregister a reader that has never been registered "
        "before.");
  }
  const DAXOUInt32 b = Bit(reader);
  --readerCount;
  registeredMask &= ~b;
  fifoMask &= ~b;
  neverSkippingMask &= ~b;
  lastOrNextMask &= ~b;
  // A stale mark would make the next reader of this number skip samples, and
  // a forgotten hold would keep its slot from the writer for ever.
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    Slot& s = SlotOf(i);
    s.readByMask &= ~b;
    if ((s.readingMask & b) != 0) {
      s.readingMask &= ~b;
      if (s.readingMask == 0) s.state = DAXO::SlotPublished;
    }
  }
  // A writer waiting for this reader must look again.
  neverSkippingEvent.Set();
}

template <class T>
int DAXOFastIO<T>::ReleaseReader(int reader) {
  Hold hold(mutex);
  if (!ValidNumber(reader)) return 0;
  const DAXOUInt32 b = Bit(reader);
  int released = 0;
  for (DAXOBasicListItem* i = NextHeld(slots.First().ptr, b); i != nullptr;
       i = NextHeld(i->successor, b)) {
    GiveBack(SlotOf(i), b);
    ++released;
  }
  return released;
}

template <class T>
void DAXOFastIO<T>::ReleaseAllReaders() {
  Hold hold(mutex);
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    Slot& s = SlotOf(i);
    if (s.state != DAXO::SlotReading) continue;
    s.readingMask = 0;
    s.state = DAXO::SlotPublished;
  }
  slotReleasedEvent.Reset();
  neverSkippingEvent.Set();  // a waiting writer must look again
}

template <class T>
void DAXOFastIO<T>::SetSubsamplingRate(int reader, int n) {
  Hold hold(mutex);
  const char* error = nullptr;
  if (!ValidNumber(reader) || (registeredMask & Bit(reader)) == 0) {
    error =
        "DAXOFastIO fatal error : trying to set the subsampling rate for a reader that has never "
        "been registered before.";
  } else if (!IsFifoFamily(Bit(reader))) {
    error = "DAXOFastIO fatal error : SetSubsamplingRate works only with FIFO readers.";
  } else if (n < 1 || n > 256) {
    error =
        "DAXOFastIO fatal error: Output subsampling rate must be an integer in the range between "
        "1 and 256 included.";
  }
  if (error != nullptr) {
    hold.Release();
    DAXOPrivate::FastIOFatalError(error);
  }
  readerByte[reader] = static_cast<unsigned char>(n - 1);
}

template <class T>
void DAXOFastIO<T>::SetReaderType(int reader, int type) {
  Hold hold(mutex);
  const char* error = nullptr;
  if (!ValidNumber(reader) || (registeredMask & Bit(reader)) == 0) {
    error =
        "DAXOFastIO fatal error : trying to set the reader type for a reader that has never been "
        "registered before.";
  } else if (!IsFifoFamily(Bit(reader))) {
    error = "DAXOFastIO fatal error : SetReaderType works only with FIFO readers.";
  }
  if (error != nullptr) {
    hold.Release();
    DAXOPrivate::FastIOFatalError(error);
  }
  const DAXOUInt32 b = Bit(reader);
  const bool wasNeverSkipping = (neverSkippingMask & b) != 0;
  neverSkippingMask &= ~b;
  lastOrNextMask &= ~b;
  if (type == DAXO::NeverSkippingReader) neverSkippingMask |= b;
  if (type == DAXO::LastOrNextReader) lastOrNextMask |= b;
  // A writer waiting for this reader may now overwrite.
  if (wasNeverSkipping && type != DAXO::NeverSkippingReader) neverSkippingEvent.Set();
}

// --- reader side ---------------------------------------------------------------------------

template <class T>
DAXOBasicListItem* DAXOFastIO<T>::NewestReadable() const {
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    if (Readable(SlotOf(i))) return i;
  }
  return nullptr;
}

template <class T>
void DAXOFastIO<T>::Take(Slot& s, DAXOUInt32 b, bool fifoFamily) {
  s.state = DAXO::SlotReading;
  s.readingMask |= b;
  if (fifoFamily) s.readByMask |= b;
}

template <class T>
void DAXOFastIO<T>::MarkRead(Slot& s, DAXOUInt32 b) {
  s.readByMask |= b;
  if (neverSkippingMask != 0 && (s.readByMask & neverSkippingMask) == neverSkippingMask) {
    neverSkippingEvent.Set();
  }
}

template <class T>
DAXOBasicListItem* DAXOFastIO<T>::TakeForFifoReader(DAXOUInt32 b) {
  DAXOBasicListItem* newest = nullptr;
  DAXOBasicListItem* last = nullptr;  // the newest sample this reader already had
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    const Slot& s = SlotOf(i);
    if (!Readable(s)) continue;
    if (newest == nullptr) newest = i;
    if ((s.readByMask & b) != 0) {
      last = i;
      break;
    }
  }
  if (newest == nullptr || last == newest) return nullptr;

  DAXOBasicListItem* chosen = newest;
  if ((lastOrNextMask & b) != 0) {
    // Everything between what it had and the newest counts as had.
    for (DAXOBasicListItem* i = newest->successor; i != last; i = i->successor) {
      if (Readable(SlotOf(i))) MarkRead(SlotOf(i), b);
    }
  } else {
    // The next sample in order: the nearest readable one newer than `last`,
    // or the oldest readable one when it has nothing left in the FIFO.
    chosen = last != nullptr ? last->predecessor : slots.Last().ptr;
    while (!Readable(SlotOf(chosen))) chosen = chosen->predecessor;  // stops at newest
  }
  Take(SlotOf(chosen), b, true);
  return chosen;
}

template <class T>
bool DAXOFastIO<T>::StartReadingX(int reader, DAXOEvent** readerEvent, DAXOEvent** abortEvent,
                                  DAXOListIterator* slot) {
  Hold hold(mutex);
  const DAXOUInt32 b = Bit(reader);
  DAXOBasicListItem* taken = nullptr;
  if (IsFifoFamily(b)) {
    taken = TakeForFifoReader(b);
  } else if (readerByte[reader] == DAXO::SamplingReader) {
    taken = NewestReadable();
    if (taken != nullptr) Take(SlotOf(taken), b, false);
  }  // a Wait4NextReader always waits for the next publication
  if (taken != nullptr) {
    *slot = taken;
    return true;
  }
  takeBacksAtWait[reader] = takeBacks;
  hold.Dismiss();
  readerCondition->WaitX(reader, readerEvent, abortEvent);  // releases the mutex
  return false;
}

template <class T>
DAXOFastIOHandle DAXOFastIO<T>::AchieveStartReadingX(int reader, int waitResult) {
  Hold hold(mutex, false);
  readerCondition->AchieveWaitX(reader, waitResult);  // locks, or throws with it released
  hold.Adopt();
  const DAXOUInt32 b = Bit(reader);
  DAXOBasicListItem* taken = nullptr;
  if (IsFifoFamily(b)) {
    taken = TakeForFifoReader(b);
  } else {
    taken = NewestReadable();
    if (taken != nullptr) Take(SlotOf(taken), b, false);
  }
  if (taken != nullptr || takeBacks != takeBacksAtWait[reader]) return DAXOFastIOHandle(taken);
  const char* head =
      IsFifoFamily(b)
          ? "DAXOFastIO fatal error : Trouble with a FIFO reader. Couldn't find its data (X"
      : readerByte[reader] == DAXO::SamplingReader
          ? "DAXOFastIO fatal error : Trouble with a sampling reader. Couldn't find its data (X"
          : "DAXOFastIO fatal error : DAXOFastIO monitor has no space where to read (X";
  hold.Release();
  DAXOPrivate::FastIOFatalError(head, b, "). Please contact the technical support team.");
}

template <class T>
void DAXOFastIO<T>::AbortStartReadingX(int reader) {
  readerCondition->AbortWaitX(reader);  // returns with the mutex held
  mutex.Release();
}

template <class T>
void DAXOFastIO<T>::GiveBack(Slot& s, DAXOUInt32 b) {
  s.readingMask &= ~b;
  if (s.readingMask != 0) return;
  s.state = DAXO::SlotPublished;
  if (IsFifoFamily(b) && s.readByMask == fifoMask) slotReleasedEvent.Set();
  // The writer may take this slot once every never-skipping reader has had
  // it, whether or not the plain FIFO readers have.
  if (neverSkippingMask != 0 && (s.readByMask & neverSkippingMask) == neverSkippingMask) {
    neverSkippingEvent.Set();
  }
}

template <class T>
DAXOBasicListItem* DAXOFastIO<T>::NextHeld(DAXOBasicListItem* from, DAXOUInt32 b) {
  for (DAXOBasicListItem* i = from; i != nullptr; i = i->successor) {
    if (HeldBy(SlotOf(i), b)) return i;
  }
  return nullptr;
}

template <class T>
void DAXOFastIO<T>::GiveBackHeld(int reader, DAXOBasicListItem* item, bool newest) {
  Hold hold(mutex);
  const DAXOUInt32 b = Bit(reader);
  if (newest) item = NextHeld(slots.First().ptr, b);
  if (item != nullptr && HeldBy(SlotOf(item), b)) {
    GiveBack(SlotOf(item), b);
    return;
  }
  hold.Release();
  DAXOPrivate::FastIOFatalError("DAXOFastIO fatal error : Stop reading without starting (X", b,
                                ")");
}

template <class T>
void DAXOFastIO<T>::StopReading(int reader) {
  GiveBackHeld(reader, nullptr, true);
}

template <class T>
void DAXOFastIO<T>::StopReading(int reader, DAXOListIterator slot) {
  GiveBackHeld(reader, slot.ptr, false);
}

// --- writer side ---------------------------------------------------------------------------

template <class T>
void DAXOFastIO<T>::CallOverflow(Hold& hold) {
  void (*callback)(void*) = overflowCallback;
  void* argument = overflowArgument;
  hold.Release();
  if (callback != nullptr) callback(argument);
}

template <class T>
DAXOFastIOHandle DAXOFastIO<T>::StartWriting() {
  Hold hold(mutex);
  for (;;) {
    DAXOBasicListItem* candidate = slots.Last().ptr;
    while (candidate != nullptr && SlotOf(candidate).state != DAXO::SlotEmpty &&
           SlotOf(candidate).state != DAXO::SlotPublished) {
      candidate = candidate->predecessor;
    }
    if (candidate == nullptr) {
      CallOverflow(hold);
      DAXOPrivate::FastIOFatalError(
          "Output buffer fatal error : StartWriting has no space where to write. Check that each "
          "call to StartWriting has its corresponding call to StopWriting.");
    }
    Slot& s = SlotOf(candidate);
    bool overwrite = false;
    if (s.state == DAXO::SlotPublished && s.readByMask != fifoMask) {
      if ((s.readByMask & neverSkippingMask) == neverSkippingMask) {
        overwrite = true;  // only readers that may skip have not had it
      } else {
        // A never-skipping reader is behind: wait until a slot comes back.
        neverSkippingEvent.Reset();
        writerAbortEvent.Reset();
        DAXOEvent* events[3] = {&neverSkippingEvent, dieEvent, &writerAbortEvent};
        DAXOEvent* withoutDie[2] = {&neverSkippingEvent, &writerAbortEvent};
        const DAXODelay timeout = writerTimeout;
        hold.Release();
        int result = dieEvent != nullptr ? DAXOEvent::Wait(3, events, timeout)
                                         : DAXOEvent::Wait(2, withoutDie, timeout);
        if (dieEvent == nullptr && result == 1) result = 2;
        if (result == 0) {
          hold.Relock();
          continue;
        }
        if (result == 1) throw int(DAXO::ModuleDied);
        if (result == 2) return DAXOFastIOHandle();
        if (result == DAXO::TimeOut) throw int(DAXO::TimeOut);
        // The wait service failed: take the slot only if it is still free to
        // take; a slot a reader took meanwhile must not be rewritten.
        hold.Relock();
        if (s.state != DAXO::SlotEmpty && s.state != DAXO::SlotPublished) {
          hold.Release();
          throw int(DAXO::FatalKernelError);
        }
        overwrite = s.state == DAXO::SlotPublished && s.readByMask != fifoMask;
      }
    }
    if (s.state == DAXO::SlotPublished) CountTakeBack();
    s.state = DAXO::SlotWriting;
    s.element.timestamp = 0;
    if (overwrite) {
      CallOverflow(hold);
    }
    return DAXOFastIOHandle(candidate);
  }
}

template <class T>
void DAXOFastIO<T>::StopWriting(DAXOListIterator slot, bool discard) {
  if (slot.ptr == nullptr) return;
  Hold hold(mutex);
  Slot& s = SlotOf(slot.ptr);
  if (s.state != DAXO::SlotWriting) {
    hold.Release();
    DAXOPrivate::FastIOFatalError("DAXOFastIO fatal error : Stop writing without starting.");
  }
  if (!discard && --subsamplingCountdown <= 0) {
    if (slots.Length() > 1) slots.MoveToFront(slot.ptr);
    s.state = DAXO::SlotPublished;
    s.readingMask = 0;
    s.readByMask = 0;
    readerCondition->Signal();
    subsamplingCountdown = outputSubsampling;
  } else {
    s.state = DAXO::SlotEmpty;
  }
}

template <class T>
void DAXOFastIO<T>::SetOutputSubsampling(int n) {
  Hold hold(mutex);
  outputSubsampling = n;
}

template <class T>
void DAXOFastIO<T>::SetWriterTimeout(int timeout) {
  Hold hold(mutex);
  writerTimeout = timeout;
}

template <class T>
void DAXOFastIO<T>::SetOverflowCallback(void (*callback)(void*), void* argument) {
  Hold hold(mutex);
  overflowCallback = callback;
  overflowArgument = argument;
}

// --- queries ---------------------------------------------------------------------------------

template <class T>
bool DAXOFastIO<T>::DataAvailable(int reader) {
  Hold hold(mutex);
  const DAXOUInt32 b = Bit(reader);
  DAXOBasicListItem* newest = NewestReadable();
  if (newest == nullptr) return false;
  if (!IsFifoFamily(b)) return true;
  return (SlotOf(newest).readByMask & b) == 0;  // the newest is new to it
}

template <class T>
int DAXOFastIO<T>::NbDataAvailable(int reader) {
  Hold hold(mutex);
  const DAXOUInt32 b = Bit(reader);
  const bool fifoFamily = IsFifoFamily(b);
  int count = 0;
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    const Slot& s = SlotOf(i);
    if (Readable(s) && (!fifoFamily || (s.readByMask & b) == 0)) ++count;
  }
  return count;
}

template <class T>
int DAXOFastIO<T>::NbFreeSlots() {
  Hold hold(mutex);
  int count = 0;
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    const Slot& s = SlotOf(i);
    if (s.state == DAXO::SlotEmpty ||
        (s.state == DAXO::SlotPublished && s.readByMask == fifoMask)) {
      ++count;
    }
  }
  return count;
}

template <class T>
bool DAXOFastIO<T>::IsEmpty() {
  Hold hold(mutex);
  for (DAXOBasicListItem* i = slots.First().ptr; i != nullptr; i = i->successor) {
    const Slot& s = SlotOf(i);
    if (s.state == DAXO::SlotReading) return false;
    if (s.state == DAXO::SlotPublished && s.readByMask != fifoMask) return false;
  }
  return true;
}

template <class T>
bool DAXOFastIO<T>::IsFull() {
  Hold hold(mutex);
  for (DAXOBasicListItem* i = slots.Last().ptr; i != nullptr; i = i->predecessor) {
    const Slot& s = SlotOf(i);
    if (s.state == DAXO::SlotEmpty) return false;
    if (s.state == DAXO::SlotPublished) return s.readByMask != fifoMask;
  }
  return true;
}

template <class T>
int DAXOFastIO<T>::SlotState(DAXOFastIOHandle slot) {
  Hold hold(mutex);
  return slot.ptr != nullptr ? SlotOf(slot.ptr).state : DAXO::SlotEmpty;
}

template <class T>
int DAXOFastIO<T>::ReaderCount() {
  Hold hold(mutex);
  return readerCount;
}

template <class T>
int DAXOFastIO<T>::ReaderByte(int reader) {
  Hold hold(mutex);
  return ValidNumber(reader) ? readerByte[reader] : -1;
}

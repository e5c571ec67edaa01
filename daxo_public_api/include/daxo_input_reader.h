// The reading side of an input: what the input holds while it reads, and the
// FIFO's three-call protocol driven on its behalf.
//
// DAXOInputReader  the slots an input holds (in order, oldest first), whether
//   its reading thread is inside a reading call, and the detaching hand-shake
//   with the side that connects the input. It takes slots with the FIFO's
//   StartReadingX / AchieveStartReadingX / AbortStartReadingX and gives them
//   back with StopReading, always under the input's reader number.
//
// Every DAXOInputImplementation owns one (daxo_io.h); the module's reading
// calls (daxo_module_rw.cpp) are written in its vocabulary, and the
// connecting side (daxo_input.cpp) uses its detaching half.
//
// Threading:
// - The reading thread (the owning component's thread, or for a sequential
//   component the writer's thread that calls it) is the only one that takes
//   and gives back slots and the only writer of the held count while the input
//   is connected; it reads the count without the input mutex.
// - The connecting side raises and clears `detaching` and resets the holds on
//   connect, disconnect and clean-up, under the input mutex.
// - The input mutex guards the held count, `detaching` and the inside-a-read
//   mark together: a detachment decides whether to wait for an
//   acknowledgement from all three at once. It is held only around them,
//   never across a FIFO call or a wait: it never nests with a FIFO mutex
//   (daxo_lock_order.h, level 8).
// - The ...Locked operations need the input mutex held by the caller, taken
//   through Mutex() so that the thread-safety analysis sees which one.
//
// Failures: the FIFO reports and throws DAXO::ErrorException for a protocol
// fault; the waits throw DAXO::ModuleDied when the owner dies. Neither leaves
// the hold bookkeeping out of step with the FIFO.
#pragma once

#include <atomic>

#include "daxo_event.h"
#include "daxo_io_elt.h"
#include "daxo_mutex.h"
#include "daxo_thread_annotations.h"

class DAXOInputImplementation;
class DAXOIOMonitorImplementation;

class DAXOInputReader {
 public:
  /// The reading side of `input`, whose mutex is `mutex`.
  DAXOInputReader(DAXOInputImplementation& input, DAXOMutex& mutex);
  ~DAXOInputReader();
  DAXOInputReader(const DAXOInputReader&) = delete;
  DAXOInputReader& operator=(const DAXOInputReader&) = delete;

  // --- the reading thread -----------------------------------------------------------

  /// Enters a reading call: waits out a detachment in progress, then marks
  /// the input inside a read.
  void Enter();
  /// Marks the input inside a read without waiting (a multi-input read that
  /// handles a detachment itself).
  void MarkInside();
  /// Ends a reading call: acknowledges a pending detachment when nothing is
  /// held (the check and the clearing are one step under the input mutex),
  /// then clears the inside-a-read mark.
  void Exit();

  /// A sequential reader's one try: takes a slot now or abandons the wait at
  /// once. False when not connected or nothing is readable.
  bool TakeNow(DAXOFastIOHandle* slot);
  /// A threaded reader's wait for its next slot, input subsampling applied
  /// (the skipped samples are given back at once). Waits for a connection
  /// when there is none. A null handle when a detachment came first: what
  /// the input held is given back and the acknowledgement left to Exit.
  /// `msg` waits with the thread's message queue.
  DAXOFastIOHandle TakeNext(bool msg);

  /// The FIFO's protocol on this input's reader number (see daxo_fast_io.h):
  /// take now or prepare a wait on `*readerEvent`, end it, or abandon it.
  bool StartTake(DAXOIOMonitorImplementation* fifo, DAXOEvent** readerEvent,
                 DAXOFastIOHandle* slot);
  DAXOFastIOHandle AchieveTake(DAXOIOMonitorImplementation* fifo);
  void AbortTake(DAXOIOMonitorImplementation* fifo);
  /// Gives one slot back to the FIFO (a skipped or superseded sample).
  void GiveBack(DAXOIOMonitorImplementation* fifo, DAXOFastIOHandle slot);

  /// Holds `slot` alone: what the input held before is given back first.
  void HoldOnly(DAXOIOMonitorImplementation* fifo, DAXOFastIOHandle slot);
  /// Adds `slot` to a sliding window of at most `n` slots, giving back the
  /// oldest ones to make room. The window must have room (ReserveHeld).
  void HoldInWindow(DAXOIOMonitorImplementation* fifo, DAXOFastIOHandle slot, int n);
  /// Makes room for `n` held slots (kept in order).
  void ReserveHeld(int n);
  /// Gives back every held slot (a slot the detachment already took back is
  /// no fault), then, outside a reading call, acknowledges a pending
  /// detachment.
  void GiveBackAll();

  /// Without the input mutex: only the reading thread may call it (it is
  /// the only writer while the input is connected).
  int HeldCount() const DAXO_NO_THREAD_SAFETY_ANALYSIS { return m_heldCount; }
  DAXOFastIOHandle Held(int i) const { return m_held[i]; }
  bool Detaching() const { return m_detaching.load(); }
  /// Tells the connecting side that nothing is held any more and spins
  /// (Wait4AWhile) until it clears the detachment. Without the input mutex.
  void AcknowledgeDetachment();

  // --- the connecting side --------------------------------------------------------------

  /// The first half of a detachment: raises it, interrupts the reader and
  /// waits for its acknowledgement when it reads or holds slots (at most
  /// 10 s). False when it did not acknowledge in time (reported).
  bool BeginDetaching();
  /// The input mutex, for the ...Locked operations below.
  DAXOMutex& Mutex() DAXO_RETURN_CAPABILITY(m_mutex) { return m_mutex; }
  /// The input mutex held: the detachment is over.
  void EndDetachingLocked() DAXO_REQUIRES(m_mutex) { m_detaching = false; }
  /// The input mutex held: forgets the holds (the FIFO reader is new, gone,
  /// or its slots were released wholesale).
  void ForgetHoldsLocked() DAXO_REQUIRES(m_mutex) { m_heldCount = 0; }
  /// The input mutex held: no reading call is in progress any more (the
  /// component's clean-up after its threads ended).
  void LeaveLocked() DAXO_REQUIRES(m_mutex) { m_insideStartReading = false; }

 private:
  /// One slot, waiting as TakeNext describes, subsampling aside.
  DAXOFastIOHandle TakeOne(bool msg);

  DAXOInputImplementation& m_input;
  DAXOMutex& m_mutex;        // the input's
  DAXOFastIOHandle* m_held;  // oldest first; the reading thread's
  int m_heldCapacity = 1;
  int m_heldCount DAXO_GUARDED_BY(m_mutex) = 0;  // read by the reading thread without it
  std::atomic<bool> m_detaching{false};          // written under m_mutex
  bool m_insideStartReading DAXO_GUARDED_BY(m_mutex) = false;
};

// Sorted start-reading component template: an abstract base for components
// that must process the samples of all their inputs in timestamp order, in
// real time.
//
// DAXOSortedStartReadingComponent reads every connected input, holds each
// sample back for at most "max_latency" microseconds of engine time in an
// ordered queue, and hands the samples to the derived class one at a time,
// oldest first, through ProcessSortedIOElt. It publishes two counters:
// "unsorted_samples_count" (samples handed over earlier than one already
// handed over) and "late_samples_count" (samples that came too late to be
// sorted), each sample carrying the count in Integer32(0) and the timestamp
// of the sample counted. A time jump backwards, a pause or a change of speed
// of the engine clock empties the queue (held samples are dropped).
//
// Using the template in a package:
//   class MyMerger : public DAXOSortedStartReadingComponent {
//    public:
//     using DAXOSortedStartReadingComponent::DAXOSortedStartReadingComponent;
//     void ProcessSortedIOElt(DAXOIOElt* element, int inputIndex, bool unsorted,
//                             bool late) override;
//   };
//   DAXOComponentDefinition s_myMerger{"MyMerger", "1.0", &Instantiate, ...};
//   with the package's own inputs (FIFO readers, at most 256), outputs and
//   properties; outputs / properties may point at the template's static
//   tables (DAXOSortedStartReadingComponent::OutputDefinitions,
//   ::PropertyDefinitions) with the counts
//   DAXOComponentDefinition::CountUntilZeroRow; then
//   DAXO_DECLARE_MODULE(MyMerger, "DAXOComponent", "MyMerger", "1.0", &s_myMerger).
// A definition may also leave the template's rows out: Dynamic() then
// declares them as dynamic elements (a row the definition already makes is
// never declared twice). A derived Dynamic() calls the template's first.
// The model must be threaded: Core never returns.
//
// ProcessSortedIOElt runs on the component thread; the element stays valid
// until it returns (its slot is given back right after).
//
// Decisions:
//   - inputs: up to 256, a multi-input StartReading waits on at most 32. Each pass reads a group
//     of at most 32 watched inputs: first those with a sample ready (DataAvailableInFIFO),
//     taken from a rotating start in the watched set so no input starves, then the others in
//     the same rotation. When more than 32 inputs are watched, a third cancel event, the poll
//     event, is armed for kGroupPollMicros so an input outside the group is looked at again
//     within that delay; with 32 or fewer it is never armed (pure event-driven wait).
//   - held slots: a queued sample keeps its slot until handed over or dropped; its input is
//     then given back (StopReading) at once: after ProcessSortedIOElt, after a drop (future,
//     paused, backwards), and for every queue entry in ResetQueue.
//   - a late sample is given back right after its ProcessSortedIOElt too.
//   - "verbose" and "max_latency" are read at Birth and follow every later Set.
//   - Death does nothing: the queue a life leaves is emptied by the next Birth (its slots were
//     already given back by the component's shutdown).
//   - the template is for threaded models: Core never returns.
//   - a time jump empties the queue only when it goes back before the newest sample queued or
//     handed over since the last flush: only then can later samples be older than held ones.
//     Notices reach the template after the clock moved on (the engine posts them from its
//     notice thread), so "engine time now is later than the jump's target" is true of every
//     jump, the clock's start included, and would drop the first samples of every run.
//
// Threading: Core, ProcessSortedIOElt, ResetQueue, Holds and NewEltArrived run on
// the component thread, which alone touches the queue and the watched set
// (no lock). The clock callbacks run on the engine's notice thread with no
// lock held: they only write the atomic paused and backwards flags and set
// the time-changed event. "verbose" and "max_latency" are written by Set on
// the writer's thread and read by Core: atomic too. The listener registers
// at the end of the constructor and unregisters first in the destructor, so
// no callback reaches a half-built or half-destroyed component.
#pragma once

#include "daxo_component.h"
#include "daxo_event.h"
#include "daxo_services.h"
#include "daxo_types.h"

#include <atomic>
#include <list>
#include <vector>

class DAXOSortedStartReadingComponent : public DAXOComponent, private DAXOTimeStateListener {
 public:
  /// The most inputs the template reads.
  static constexpr int kMaxSortedInputs = 256;
  /// The most inputs one multi-input StartReading waits on.
  static constexpr int kMaxGroupInputs = 32;
  /// How soon inputs outside the read group are looked at again (µs).
  static constexpr DAXODelay kGroupPollMicros = 1000;

  DAXOSortedStartReadingComponent(const char* name, DAXOComponentDefinition& definition);
  ~DAXOSortedStartReadingComponent() override;

  /// Declares the two outputs and the two properties the definition does
  /// not already make.
  void Dynamic() override;
  /// Reads the properties and the clock state, refuses more than 256
  /// inputs, then ResetQueue().
  void Birth() override;
  /// Reads, sorts and hands over until the component dies.
  void Core() override;
  void Death() override {}
  void Set(DAXOProperty& property, bool value) override;
  void Set(DAXOProperty& property, long value) override;
  using DAXOComponent::Set;

  /// The derived class's processing of each sample, in turn.
  virtual void ProcessSortedIOElt(DAXOIOElt* element, int inputIndex, bool unsorted, bool late) = 0;

  // "unsorted_samples_count", "late_samples_count" (Integer32, size 1, FIFO of 16, shareable).
  static DAXOOutputDefinition OutputDefinitions[3];
  // "max_latency" (integer, 100000), "verbose" (boolean, false).
  static DAXOPropertyDefinition PropertyDefinitions[3];

 protected:
  /// Counts `element` (unsorted, late) then calls ProcessSortedIOElt.
  void NewEltArrived(DAXOIOElt* element, int inputIndex, bool late);
  /// Empties the queue (giving its slots back, handing nothing over),
  /// restarts the counters and watches every connected input again.
  void ResetQueue();
  /// Whether a sample of input `inputIndex` waits in the queue (not yet
  /// handed over). Component thread only.
  bool Holds(int inputIndex) const;

 private:
  struct BufferElement {
    int inputIndex;
    DAXOIOElt* element;
  };

  void CallbackTimeJumped(DAXOTimestamp t) override;
  void CallbackTimeSpeedChanged(int speed) override;
  void CallbackTimePaused(bool paused) override;

  /// Hands the front entry over and watches its input again.
  void HandOverFront(bool late);
  /// Inserts after the last entry not later than `element`.
  void Enqueue(int inputIndex, DAXOIOElt* element);
  /// Fills m_group with the inputs this pass reads; true when some watched
  /// input is left out of it.
  bool BuildGroup();
  void Unwatch(int inputIndex);
  /// Gives back every slot of the component's input `inputIndex`.
  void GiveBack(int inputIndex);
  /// Writes `count` stamped `t` on `output`.
  void WriteCount(DAXOOutput* output, DAXOInt32 count, DAXOTimestamp t);
  void Warn(const DAXOString& text);

  std::atomic<bool> m_verbose{false};
  std::atomic<DAXOInt64> m_maxLatency{100000};
  std::atomic<bool> m_paused{false};
  std::atomic<bool> m_backwards{false};
  int m_speed = 1000;
  int m_nbInputs = 0;
  std::vector<int> m_watched;  // component input indices, in the order added
  std::vector<DAXOInput*> m_group;
  std::vector<int> m_groupIndices;
  size_t m_rotation = 0;
  std::list<BufferElement> m_queue;
  DAXOInt32 m_lateCount = 0;
  DAXOInt32 m_unsortedCount = 0;
  DAXOTimestamp m_lastHanded = 0;
  /// The newest timestamp queued or handed over since the last flush;
  /// written by the component thread, read by the clock callbacks.
  std::atomic<DAXOTimestamp> m_newest{0};
  DAXOEvent m_timeChanged;
  DAXOOutput* m_unsortedOutput = nullptr;
  DAXOOutput* m_lateOutput = nullptr;
};

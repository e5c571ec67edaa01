// The sorted start-reading component template: its tables, the latency
// queue, the grouped multi-input read and the clock callbacks.
#include "daxo_sorted_start_reading_component.h"

#include <bitset>
#include <cstring>
#include <iterator>

#include "daxo_io.h"
#include "daxo_time.h"
#include "private/template_rows.h"

namespace {

constexpr const char* kUnsortedOutput = "unsorted_samples_count";
constexpr const char* kLateOutput = "late_samples_count";
constexpr const char* kMaxLatency = "max_latency";
constexpr const char* kVerbose = "verbose";
constexpr long kDefaultMaxLatency = 100000;
/// How far ahead of engine time a sample may be and still be queued (µs).
constexpr DAXOTimestamp kFutureTolerance = 1000;
constexpr int kCancelTimer = 0;
constexpr int kCancelTimeChanged = 1;
constexpr int kCancelPoll = 2;
constexpr int kCancelCount = 3;

// name, value, no unit, not required, modifiable after start, not read-only, locked.
DAXOPropertyDefinition AnyTimeRow(const char* name, DAXOPropertyValue* value) {
  return DAXOPropertyDefinition(name, value, nullptr, false, true, false, true);
}

}  // namespace

// --- the tables --------------------------------------------------------------------------

DAXOOutputDefinition DAXOSortedStartReadingComponent::OutputDefinitions[3] = {
    // name, reserved, type, size, FIFO size, subsampling, shareable
    {kUnsortedOutput, 0, DAXOTypeInfo(DAXO::Integer32), 1, 16, 1, 1},
    {kLateOutput, 0, DAXOTypeInfo(DAXO::Integer32), 1, 16, 1, 1},
    {},
};
DAXOPropertyDefinition DAXOSortedStartReadingComponent::PropertyDefinitions[3] = {
    AnyTimeRow(kMaxLatency, new DAXOPropertyValue(kDefaultMaxLatency)),
    AnyTimeRow(kVerbose, new DAXOPropertyValue(false)),
    {},
};

// --- construction ------------------------------------------------------------------------

DAXOSortedStartReadingComponent::DAXOSortedStartReadingComponent(
    const char* name, DAXOComponentDefinition& definition)
    : DAXOComponent(name, definition), DAXOTimeStateListener(0) {
  m_watched.reserve(kMaxSortedInputs);
  m_group.reserve(kMaxGroupInputs);
  m_groupIndices.reserve(kMaxGroupInputs);
  DAXOTimeStateListener::Register();
}

DAXOSortedStartReadingComponent::~DAXOSortedStartReadingComponent() {
  DAXOTimeStateListener::Unregister();
}

void DAXOSortedStartReadingComponent::Dynamic() {
  using DAXOPrivate::DeclareMissing;
  const DAXOComponentDefinition& d = *Definition();
  DeclareMissing(PropertyDefinitions, d.properties, d.nbProperties,
                 [this](const DAXOPropertyDefinition& row) { NewProperty(row); });
  DeclareMissing(OutputDefinitions, d.outputs, d.nbOutputs,
                 [this](const DAXOOutputDefinition& row) { NewOutput(row); });
}

void DAXOSortedStartReadingComponent::Set(DAXOProperty& property, bool value) {
  DAXOComponent::Set(property, value);
  if (std::strcmp(property.ShortName(), kVerbose) == 0) m_verbose = value;
}

void DAXOSortedStartReadingComponent::Set(DAXOProperty& property, long value) {
  DAXOComponent::Set(property, value);
  if (std::strcmp(property.ShortName(), kMaxLatency) == 0) m_maxLatency = value;
}

// --- life --------------------------------------------------------------------------------

void DAXOSortedStartReadingComponent::Birth() {
  long maxLatency = kDefaultMaxLatency;
  bool verbose = false;
  Get(*Property(kMaxLatency), maxLatency);
  Get(*Property(kVerbose), verbose);
  m_maxLatency = maxLatency;
  m_verbose = verbose;

  m_timeChanged.Reset();
  m_paused = DAXO::IsPaused();
  m_speed = DAXO::TimeSpeed();
  m_backwards = m_speed < 0;
  m_lastHanded = 0;

  m_nbInputs = NbInputs();
  if (m_nbInputs > kMaxSortedInputs) {
    Error("Can't perform sorted StartReading on more than 256 inputs simultaneously. Sorry.");
  }
  m_unsortedOutput = &Output(kUnsortedOutput);
  m_lateOutput = &Output(kLateOutput);
  ResetQueue();
}

void DAXOSortedStartReadingComponent::ResetQueue() {
  m_watched.clear();
  m_rotation = 0;
  m_timeChanged.Reset();
  m_lateCount = 0;
  m_unsortedCount = 0;
  m_lastHanded = 0;
  m_newest = 0;
  for (const BufferElement& entry : m_queue) GiveBack(entry.inputIndex);
  m_queue.clear();
  for (int i = 0; i < m_nbInputs; ++i) {
    if (Input(i).IsConnected()) m_watched.push_back(i);
  }
}

bool DAXOSortedStartReadingComponent::Holds(int inputIndex) const {
  for (const BufferElement& entry : m_queue) {
    if (entry.inputIndex == inputIndex) return true;
  }
  return false;
}

void DAXOSortedStartReadingComponent::NewEltArrived(DAXOIOElt* element, int inputIndex, bool late) {
  const DAXOTimestamp t = element->Timestamp();
  if (t > m_newest.load()) m_newest = t;
  bool unsorted = false;
  if (t < m_lastHanded) {
    WriteCount(m_unsortedOutput, ++m_unsortedCount, t);
    unsorted = true;
  } else {
    m_lastHanded = t;
  }
  if (late) WriteCount(m_lateOutput, ++m_lateCount, t);
  ProcessSortedIOElt(element, inputIndex, unsorted, late);
}

void DAXOSortedStartReadingComponent::Core() {
  DAXOEvent timer;
  DAXOEvent poll;
  DAXOEvent* cancels[kCancelCount];
  cancels[kCancelTimer] = &timer;
  cancels[kCancelTimeChanged] = &m_timeChanged;
  cancels[kCancelPoll] = &poll;
  for (;;) {
    if (!m_queue.empty() && m_speed >= 1) {
      const DAXOInt64 delay =
          (m_maxLatency.load() + m_queue.front().element->Timestamp() - DAXO::CurrentTime()) *
          1000 / m_speed;
      if (delay < 1) {
        timer.ResetTrigger();
        timer.Set();
      } else {
        timer.SetTrigger(delay);
      }
    } else {
      timer.ResetTrigger();
      timer.Reset();
    }
    if (BuildGroup()) {
      poll.SetTrigger(kGroupPollMicros);
    } else {
      poll.ResetTrigger();
      poll.Reset();
    }

    const int n = static_cast<int>(m_group.size());
    int which = -1;
    DAXOIOElt* element = StartReading(n, m_group.data(), &which, kCancelCount, cancels);
    if (element == nullptr) {
      if (PrimitiveFailed()) return;
      if (which == n + kCancelTimeChanged) {
        ResetQueue();
        if (m_verbose) Warn("Time changed event. Flushing.");
      } else if (which == n + kCancelTimer) {
        if (!m_queue.empty()) HandOverFront(false);
      }
      // The poll event or a detached input: read again.
      continue;
    }

    const int index = m_groupIndices[static_cast<size_t>(which)];
    const DAXOTimestamp now = DAXO::CurrentTime();
    const DAXOTimestamp t = element->Timestamp();
    const bool backwards = m_backwards;
    const bool paused = m_paused;
    if (backwards || paused || t > now + kFutureTolerance) {
      GiveBack(index);
      if (m_verbose) {
        DAXOStreamedString text("Discarding ioElt on input ");
        text << index << ": ";
        if (backwards) {
          text << " time goes backwards.";
        } else if (paused) {
          text << " time paused.";
        } else {
          text << "timestamp is in the future. Timestamp: "
               << static_cast<const char*>(DAXO::Timestamp2String(t))
               << "; CurrentTime: " << static_cast<const char*>(DAXO::Timestamp2String(now));
        }
        Warn(text);
      }
      continue;
    }

    if (t >= now - m_maxLatency.load()) {
      Enqueue(index, element);
      DAXOTimestamp previous = 0;
      for (const BufferElement& entry : m_queue) {
        const DAXOTimestamp ts = entry.element->Timestamp();
        if (ts < previous) Warn("Sorting error.");
        previous = ts;
      }
      Unwatch(index);
      if (m_watched.empty()) HandOverFront(false);
      continue;
    }

    while (!m_queue.empty() && m_queue.front().element->Timestamp() < t) HandOverFront(true);
    NewEltArrived(element, index, true);
    GiveBack(index);
  }
}

// --- the queue and the watched set -------------------------------------------------------

void DAXOSortedStartReadingComponent::HandOverFront(bool late) {
  const BufferElement entry = m_queue.front();
  m_queue.pop_front();
  NewEltArrived(entry.element, entry.inputIndex, late);
  GiveBack(entry.inputIndex);
  m_watched.push_back(entry.inputIndex);
}

void DAXOSortedStartReadingComponent::Enqueue(int inputIndex, DAXOIOElt* element) {
  const DAXOTimestamp t = element->Timestamp();
  if (t > m_newest.load()) m_newest = t;
  auto at = m_queue.end();
  while (at != m_queue.begin() && std::prev(at)->element->Timestamp() > t) --at;
  m_queue.insert(at, BufferElement{inputIndex, element});
}

bool DAXOSortedStartReadingComponent::BuildGroup() {
  m_group.clear();
  m_groupIndices.clear();
  const size_t count = m_watched.size();
  if (count == 0) return false;
  if (m_rotation >= count) m_rotation = 0;
  // Ready inputs first, then the others, both from the rotating start (an
  // input that becomes ready between the two passes is taken once).
  std::bitset<kMaxSortedInputs> taken;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t k = 0; k < count && m_group.size() < kMaxGroupInputs; ++k) {
      const int index = m_watched[(m_rotation + k) % count];
      if (taken[static_cast<size_t>(index)]) continue;
      DAXOInput& input = Input(index);
      if (pass == 0 && !input.DataAvailableInFIFO()) continue;
      taken.set(static_cast<size_t>(index));
      m_group.push_back(&input);
      m_groupIndices.push_back(index);
    }
  }
  const bool leftOut = count > m_group.size();
  if (leftOut) m_rotation = (m_rotation + kMaxGroupInputs) % count;
  return leftOut;
}

void DAXOSortedStartReadingComponent::Unwatch(int inputIndex) {
  for (auto it = m_watched.begin(); it != m_watched.end(); ++it) {
    if (*it == inputIndex) {
      m_watched.erase(it);
      return;
    }
  }
}

void DAXOSortedStartReadingComponent::GiveBack(int inputIndex) {
  StopReading(Input(inputIndex));
}

void DAXOSortedStartReadingComponent::WriteCount(DAXOOutput* output, DAXOInt32 count,
                                                 DAXOTimestamp t) {
  DAXOIOElt* sample = StartWriting(*output, t);
  // A failed write ends the life: leave Core as a Core that raised Error.
  if (sample == nullptr) throw DAXO::ErrorException;
  *sample->Integer32(0) = count;
  sample->Timestamp() = t;
  StopWriting(sample);
}

void DAXOSortedStartReadingComponent::Warn(const DAXOString& text) {
  Report(text, DAXO::Warning, 0);
}

// --- clock callbacks (engine notice thread) ----------------------------------------------

void DAXOSortedStartReadingComponent::CallbackTimeJumped(DAXOTimestamp t) {
  if (t < m_newest.load()) m_timeChanged.Set();
}

void DAXOSortedStartReadingComponent::CallbackTimeSpeedChanged(int speed) {
  m_backwards = speed < 0;
  m_timeChanged.Set();
}

void DAXOSortedStartReadingComponent::CallbackTimePaused(bool paused) {
  m_paused = paused;
  if (paused) m_timeChanged.Set();
}

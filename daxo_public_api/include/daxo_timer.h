// DAXOTimer: a stopwatch on the system clock (DAXO::GetSystemAccurateTiming,
// microseconds) that accumulates the time between Start and Stop.
//
// Threading: not synchronised; a timer is used by one thread at a time or
// under its user's lock. Nothing blocks.
#pragma once

#include "daxo_types.h"

class DAXOTimer {
 public:
  DAXOTimer() = default;

  /// Starts (or restarts) measuring from now. The accumulated time is kept;
  /// a Start while running drops the time since the previous Start.
  void Start();
  /// Adds the time since Start to the accumulated time and stops. Does
  /// nothing when not running.
  void Stop();
  /// Clears the accumulated time and stops.
  void Reset();
  /// The accumulated time in microseconds, plus the running interval.
  DAXODelay Time() const;

 private:
  long m_accumulated = 0;
  long m_start = 0;
  bool m_running = false;
};

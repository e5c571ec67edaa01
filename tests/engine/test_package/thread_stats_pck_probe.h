// The thread statistics test package's probe: the user argument of its model
// "probe" (group "VelquorThreadStatsProbe"). The tests hand it components
// the engine built from the package; it works on them with the package's
// own SDK, as the components' code would.
#pragma once

#include <sched.h>

#include "package_probe.h"

class DAXOComponent;

struct VelquorThreadStatsProbe {
  /// The integer property `name` of `component`; kReadFailed when the SDK
  /// refused the read.
  long (*get)(DAXOComponent* component, const char* name);
  /// Sets it (a guarded write); false when the SDK refused.
  bool (*set)(DAXOComponent* component, const char* name, long value);
  /// Blocks until the "ThreadStatsSpinner" `spinner`'s main thread has used
  /// `ns` nanoseconds of CPU (its own thread CPU clock), at most 10 s.
  bool (*waitSpinnerBurned)(DAXOComponent* spinner, long ns);
  /// Core calls of the "ThreadStatsSleeper" `sleeper` so far; each one
  /// blocks for a millisecond on an event that nobody sets.
  long (*sleeperCores)(DAXOComponent* sleeper);
  /// Blocks until sleeperCores reaches `n`, at most 10 s.
  bool (*waitSleeperCores)(DAXOComponent* sleeper, long n);
  /// Asks the sleeper's thread `which` (0: its main thread, 1: the extra
  /// thread its Birth created) where it runs: the processor it is on
  /// (sched_getcpu), its affinity and its nice value. False when it did not
  /// answer in 10 s.
  bool (*where)(DAXOComponent* sleeper, int which, int* cpu, cpu_set_t* mask, int* nice);
};

namespace velquor::test {

constexpr long kReadFailed = -999999;

/// The probe of the package at `path` (loaded by the engine), or null.
inline VelquorThreadStatsProbe* ThreadStatsProbe(const char* path) {
  return static_cast<VelquorThreadStatsProbe*>(ProbeOf(path, "VelquorThreadStatsProbe"));
}

}  // namespace velquor::test

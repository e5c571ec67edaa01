// The listener test package's probe: the user argument of its model "probe"
// (group "VelquorListenerTestProbe"), fetched through the package's
// DAXOGetModulesDefStruct. Everything here runs the package's own SDK copy.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "package_probe.h"

/// What a ListenerProbe's callbacks do besides logging (bits).
enum VelquorListenerBehaviour : int {
  /// Time callbacks also log what DAXO::CurrentTime and DAXO::TimeSpeed read.
  kReadClock = 0x1,
  /// CallbackTimeJumped unregisters the probe's own time listener.
  kUnregisterSelfOnJump = 0x2,
  /// CallbackTimeJumped unregisters the time listener of the peer probe.
  kUnregisterPeerOnJump = 0x4,
  /// CallbackTimeJumped registers the time listener of the peer probe.
  kRegisterPeerOnJump = 0x8,
};

struct VelquorListenerTestProbe {
  /// One entry per callback of ListenerProbe `name`: "jumped T",
  /// "speed S", "paused 0|1", "running", "shutting down" (with kReadClock,
  /// time entries end in " / now T speed S"), and "destroyed" last once the
  /// component is gone. Kept after the component is destroyed.
  std::vector<std::string> (*log)(const char* name);
  /// Blocks on the event the callbacks of `name` set until its log has at
  /// least `n` entries (at most 10 s); true when it has.
  bool (*waitLog)(const char* name, std::size_t n);
  /// Sets the behaviour bits of `name` and its peer (another ListenerProbe).
  void (*setBehaviour)(const char* name, int behaviour, const char* peer);
  /// Registers or unregisters the time listener of `name` from this thread.
  void (*setTimeRegistered)(const char* name, bool registered);

  /// The package's DAXO:: forwarders.
  void (*setCurrentTime)(long t);
  void (*setTimeSpeed)(int speed);
  void (*pause)();
  void (*play)();
  bool (*run)();
  bool (*shutdown)();

  /// The clock identifier of the ClockProbe whose clock is named `name`
  /// (DAXOBaseClock::GetClockID),
  /// or -1 when there is no such component.
  int (*componentClockID)(const char* name);
  /// Calls of ClockProbe `name`'s virtual Unregister so far (-1: unknown).
  int (*componentClockUnregisters)(const char* name);
  /// Plain clocks (not modules), built and destroyed by the test.
  void* (*newClock)(const char* name);
  void (*deleteClock)(void* clock);
  int (*clockID)(void* clock);
  void (*renameClock)(void* clock, const char* name);
};

namespace velquor::test {

/// The probe of the listener package at `path`, or null when the library is
/// not loaded. Valid while the engine keeps the library loaded.
inline VelquorListenerTestProbe* ListenerProbe(const char* path) {
  return static_cast<VelquorListenerTestProbe*>(ProbeOf(path, "VelquorListenerTestProbe"));
}

}  // namespace velquor::test

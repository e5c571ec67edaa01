// The engine test package's probe: the user argument of its model "probe"
// (group "VelquorEngineTestProbe"), fetched by the tests through the
// package's DAXOGetModulesDefStruct.
#pragma once

#include "package_probe.h"

struct VelquorEngineTestProbe {
  /// DAXOPrivate::kernel inside the package.
  void* (*boundKernel)();
  /// Core calls of every "EngineTestTicker" component so far.
  long (*tickerCores)();
  /// Blocks until tickerCores() reaches `n` (at most 10 s); true when it did.
  bool (*waitTickerCores)(long n);
  /// Death() calls of every ticker so far.
  long (*tickerDeaths)();
  /// What the following Core calls do after counting: 0 rest a millisecond
  /// (or until death), 2 ask the engine to shut down
  /// (kernel Shutdown) once, then rest, 4 block, deaf to the die event,
  /// until setTickerMode sets another mode.
  void (*setTickerMode)(int mode);
  /// Blocks until a Core is held by mode 4 (at most 10 s); true when one is.
  bool (*waitTickerStuck)();
};

namespace velquor::test {

/// The probe of the package at `path`, or null when that library is not
/// loaded (the engine opened it: this only finds it). Valid while the engine
/// keeps the library loaded.
inline VelquorEngineTestProbe* Probe(const char* path) {
  return static_cast<VelquorEngineTestProbe*>(ProbeOf(path, "VelquorEngineTestProbe"));
}

}  // namespace velquor::test

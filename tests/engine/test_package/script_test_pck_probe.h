// The script test package's probe: the user argument of its model "probe"
// (group "VelquorScriptTestProbe"), fetched through the package's
// DAXOGetModulesDefStruct (velquor::test::ProbeOf).
#pragma once

#include "package_probe.h"

struct VelquorScriptTestProbe {
  /// The script the next "ScriptBuilder" runs in its first Core: through
  /// DAXO::AsynchParse when `asynch`, else DAXO::Parse. Copied.
  void (*setScript)(const char* text, bool asynch);
  /// Blocks until a builder has run its script (at most 10 s): 1 when the
  /// call answered true, 0 false, -1 when none ran.
  int (*waitScriptResult)();
  /// Blocks until "ScriptSink" components have read `n` samples in all (at
  /// most 10 s); true when they did.
  bool (*waitSinkReads)(long n);
  /// While set, a "ScriptSink" constructor blocks until it is cleared.
  void (*holdSinkConstruction)(bool hold);
  /// Blocks until a constructor is held (at most 10 s); true when one is.
  bool (*waitSinkConstructionHeld)();
};

// What the test package shows its tests. A package exports nothing but its
// two entry points, so the test reaches the package's inner state through
// the user argument of the model "probe" (group "DAXOTestProbe"), which
// DAXOGetModulesDefStruct hands out: this record.
#pragma once

struct DAXOTestPackageProbe {
  /// Calls of the probe model's registering function (the registry's
  /// Initialize), made under the package's binding mutex.
  int registeringCalls;
  /// The package's bound kernel (DAXOPrivate::kernel inside the package).
  void* (*boundKernel)();
};

// What the test package shows its tests. A package exports nothing but its
// two entry points, so the test reaches the package's inner state through
// the user argument of the model "probe" (group "DAXOTestProbe"), which
// DAXOGetModulesDefStruct hands out: this record.
#pragma once

/// The user argument of the package's component-like models: a tag that
/// tells which model it belongs to.
struct DAXOTestModelRecord {
  char tag[16];
};

struct DAXOTestPackageProbe {
  /// Calls of the probe model's registering function (the registry's
  /// Initialize), made under the package's binding mutex.
  int registeringCalls;
  /// The package's bound kernel (DAXOPrivate::kernel inside the package).
  void* (*boundKernel)();
  /// DAXO::Exit inside the package.
  void (*exit)();
};

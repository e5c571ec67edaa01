// The engine test package's probe: the user argument of its model "probe"
// (group "VelquorEngineTestProbe"), fetched by the tests through the
// package's DAXOGetModulesDefStruct.
#pragma once

struct VelquorEngineTestProbe {
  /// DAXOPrivate::kernel inside the package.
  void* (*boundKernel)();
};

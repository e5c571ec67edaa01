// A package for the engine's loader tests: two component models in
// "DAXOComponent" (real component definitions, as the loader reads them) and
// a probe in a group of its own through which the tests see the package's
// bound kernel.
#include "daxo_definitions.h"
#include "daxo_kernel.h"
#include "daxo_package.h"
#include "engine_test_pck_probe.h"

namespace {

DAXOComponentDefinition modelA{"EngineTestModelA", "1.2.0"};
DAXOComponentDefinition modelB{"EngineTestModelB", "0.9.1"};

void* BoundKernel() {
  return DAXOPrivate::kernel;
}

VelquorEngineTestProbe probe{BoundKernel};

}  // namespace

DAXO_DECLARE_MODULE(velquor_engine_test_model_a, "DAXOComponent", "EngineTestModelA", "1.2.0",
                    &modelA);
DAXO_DECLARE_MODULE(velquor_engine_test_model_b, "DAXOComponent", "EngineTestModelB", "0.9.1",
                    &modelB);
DAXO_DECLARE_MODULE(velquor_engine_test_probe, "VelquorEngineTestProbe", "probe", "1.0.0", &probe);

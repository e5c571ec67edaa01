// A package for the entry-point tests: two models declared with
// DAXO_DECLARE_MODULE in "DAXOComponent", and a probe model in a group of
// its own whose user argument gives the tests a view of the package's state.
#include "daxo_definitions.h"
#include "daxo_kernel.h"
#include "daxo_package.h"
#include "test_pck_probe.h"

namespace {

// Component models without tables: an engine may load this package too.
DAXOComponentDefinition modelA{.name = "model-a", .version = "1.0.0"};
DAXOComponentDefinition modelB{.name = "model-b", .version = "2.3.1"};

void* BoundKernel() {
  return DAXOPrivate::kernel;
}

DAXOTestPackageProbe probe{0, BoundKernel};

void CountRegistering(void* argument) {
  ++static_cast<DAXOTestPackageProbe*>(argument)->registeringCalls;
}

}  // namespace

DAXO_DECLARE_MODULE(daxo_test_model_a, "DAXOComponent", "TestModelA", "1.0.0", &modelA);
DAXO_DECLARE_MODULE(daxo_test_model_b, "DAXOComponent", "TestModelB", "2.3.1", &modelB);

// Owned by the registry from construction on.
DAXOModuleDefinition* const daxo_test_probe_definition =
    new DAXOModuleDefinition("probe", "DAXOTestProbe", nullptr, &probe, CountRegistering);

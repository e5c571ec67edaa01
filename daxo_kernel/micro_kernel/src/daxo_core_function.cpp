// Engine functions: the model record and the DAXOCoreFunction base. See
// include/daxo_core_function.h.
#include "daxo_core_function.h"

void DAXOCoreFunctionDefinition::ResolveCounts() {
  if (nbProperties != CountUntilZeroRow) return;
  DAXOUInt32 rows = 0;
  if (properties != nullptr) {
    while (properties[rows].name != nullptr) ++rows;
  }
  nbProperties = rows;
}

DAXOCoreFunction::DAXOCoreFunction(const char* name, DAXOCoreFunctionDefinition& definition)
    : DAXOModule(name, false, true), m_definition(definition) {
  // Not living until the engine starts it, and its death counts as done.
  ChangeState(DAXO::DeadState, DAXO::LivingState);
  const DAXOUInt32 n = definition.nbProperties;
  for (DAXOUInt32 i = 0; definition.properties != nullptr && i < n; ++i) {
    const DAXOPropertyDefinition& row = definition.properties[i];
    if (n == DAXOCoreFunctionDefinition::CountUntilZeroRow && row.name == nullptr) break;
    NewProperty(row);
  }
}

DAXOCoreFunction::~DAXOCoreFunction() = default;

const char* DAXOCoreFunction::Kind() const {
  return "engine function";
}

void DAXOCoreFunction::LoadConfiguration() {}

void DAXOCoreFunction::SaveConfiguration() {}

void DAXOCoreFunction::LoadConfiguration(const char*, int) {}

int DAXOCoreFunction::SaveConfiguration(char*, int) {
  return 0;
}

void* DAXOCoreFunction::GetInterface() {
  ++m_useCount;
  return nullptr;
}

void DAXOCoreFunction::ReleaseInterface() {
  --m_useCount;
}

void DAXOCoreFunction::EngineStart() {
  Start();
}

void DAXOCoreFunction::EngineEnd() {
  Die();
  // Lives are the function's extra threads; without any, its all-lives-lost
  // event is never set, so there is nothing to wait for.
  if (Lives() > 0) Wait4Death();
  ChangeState(DAXO::DeadState, DAXO::LivingState | DAXO::DyingState);
}

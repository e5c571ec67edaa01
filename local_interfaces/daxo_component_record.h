// The record of a threaded component model as this repository's packages
// declare them: priority 128, no instance limit, no registering callbacks,
// and every table ended by a zero row (its count resolved by the registry).
#pragma once

#include "daxo_definitions.h"

/// The instantiation function of model class T, built from its instance
/// name and the model's record.
template <class T>
DAXOComponent* InstantiateComponent(const char* name, DAXOComponentDefinition& definition) {
  return new T(name, definition);
}

constexpr DAXOComponentDefinition ThreadedComponentRecord(
    const char* name, const char* version, DAXOComponentInstantiationFunction instantiate,
    DAXOInputDefinition* inputs, DAXOOutputDefinition* outputs, DAXOPropertyDefinition* properties,
    DAXOActionDefinition* actions) {
  return {
      .name = name,
      .version = version,
      .instantiate = instantiate,
      .registering = nullptr,
      .unregistering = nullptr,
      .maxInstances = 0,
      .nbInputs = DAXOComponentDefinition::CountUntilZeroRow,
      .inputs = inputs,
      .nbOutputs = DAXOComponentDefinition::CountUntilZeroRow,
      .outputs = outputs,
      .nbProperties = DAXOComponentDefinition::CountUntilZeroRow,
      .properties = properties,
      .nbActions = DAXOComponentDefinition::CountUntilZeroRow,
      .actions = actions,
      .priority = 128,
      .kind = DAXO::Threaded,
      .threaded = true,
      .reserved = 0,
  };
}

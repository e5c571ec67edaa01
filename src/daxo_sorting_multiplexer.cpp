// Static definition of the SortingMultiplexer model and its module
// declaration. Everything here is built by static initialisers when the
// package is loaded, before the engine binds it.
#include "daxo_sorting_multiplexer.h"

#include "daxo_module_management.h"
#include "daxo_package.h"
#include "daxo_property_value.h"

const DAXOTypeFilterBase DAXOFilterPCAPStructure{DAXO::DynamicStructure, 0x40000, DAXO::TypeMask,
                                                 "DAXOpcap_data_t", nullptr};
const DAXOTypeFilterBase DAXOFilterPCAPStructureStrict{0xFFFFFFFF, 0x40000, DAXO::TypeMask,
                                                       "DAXOpcap_data_t", nullptr};

namespace {

// Every input is dynamic: the table holds only its terminating row.
DAXOInputDefinition s_inputs[] = {{}};

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size, FIFO size, subsampling, shareable
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {"output", 0, DAXOTypeInfo(DAXO::AnyType), 0, 16, 1, 1},  // sized when the kind is known
    {},
};

// All integer, no unit, not required before start, not read-only, locked.
DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"nb_inputs", new DAXOPropertyValue(1L), nullptr, false, false, false, true, 0},
    {"buffer_packet_count", new DAXOPropertyValue(100L), nullptr, false, false, false, true, 0},
    {"vector_max_size", new DAXOPropertyValue(1L), nullptr, false, true, false, true, 0},
    {"vector_max_latency", new DAXOPropertyValue(100000L), nullptr, false, true, false, true, 0},
    {"flush_delay", new DAXOPropertyValue(500000L), nullptr, false, true, false, true, 0},
    {},
};

DAXOActionDefinition s_actions[] = {{}};

}  // namespace

DAXOComponentDefinition daxo_sorting_multiplexer::s_componentDefinition = {
    .name = "SortingMultiplexer",
    .version = "1.4.0",
    // The instantiation function arrives with the component class.
    .instantiate = nullptr,
    .registering = nullptr,
    .unregistering = nullptr,
    .maxInstances = 0,
    .nbInputs = DAXOComponentDefinition::CountUntilZeroRow,
    .inputs = s_inputs,
    .nbOutputs = DAXOComponentDefinition::CountUntilZeroRow,
    .outputs = s_outputs,
    .nbProperties = DAXOComponentDefinition::CountUntilZeroRow,
    .properties = s_properties,
    .nbActions = DAXOComponentDefinition::CountUntilZeroRow,
    .actions = s_actions,
    .priority = 128,
    .kind = DAXO::Threaded,
    .threaded = true,
    .reserved = 0,
};

DAXO_DECLARE_MODULE(daxo_sorting_multiplexer, "DAXOComponent", "SortingMultiplexer", "1.4.0",
                    &daxo_sorting_multiplexer::s_componentDefinition);

# The module and component bases and their properties.
daxo_sdk_part(daxo_sdk_module
  SOURCES
    daxo_module.cpp
    daxo_property.cpp
    daxo_component.cpp
    daxo_component_lifecycle.cpp
    daxo_module_waits.cpp
    daxo_module_io.cpp
    daxo_module_rw.cpp
    daxo_input.cpp
    daxo_input_reader.cpp
    daxo_output.cpp
    daxo_module_dynamic.cpp
    daxo_module_threads.cpp
    daxo_core_function.cpp
  DEPS daxo_sdk_registry daxo_sdk_definitions daxo_sdk_services daxo_sdk_io
)

# Component templates: abstract component bases a package derives from.
daxo_sdk_part(daxo_sdk_templates
  SOURCES
    DAXOComponentChildren/daxo_stream8_components.cpp
    DAXOComponentChildren/daxo_sorted_start_reading_component.cpp
    DAXOComponentChildren/daxo_sound_processing_component.cpp
  DEPS daxo_sdk_module
)

# Definition records, type information and filters, property values.
daxo_sdk_part(daxo_sdk_definitions
  SOURCES
    daxo_type_info.cpp
    daxo_type_filter.cpp
    daxo_property_value.cpp
    daxo_definitions.cpp
)

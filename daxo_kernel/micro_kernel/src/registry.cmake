# The module registry: groups, definitions and the module base.
daxo_sdk_part(daxo_sdk_registry SOURCES ModuleManagement.cpp)

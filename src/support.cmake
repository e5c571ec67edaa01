# Package-local support code of the sorting multiplexer: the dynamic I/O
# models and the generic components helper. Static, position-independent:
# it is linked into the package (a shared library) and into its tests.
add_library(velquor_mux_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/daxo_dynamic_io_models.cpp
  ${CMAKE_CURRENT_LIST_DIR}/daxo_generic_components_helper.cpp
)
target_include_directories(velquor_mux_support PUBLIC ${CMAKE_CURRENT_LIST_DIR}
                                                      ${PROJECT_SOURCE_DIR}/local_interfaces)
target_link_libraries(velquor_mux_support PUBLIC daxo_sdk daxo_runtime
                                          PRIVATE daxo_project_options)
set_target_properties(velquor_mux_support PROPERTIES POSITION_INDEPENDENT_CODE ON)

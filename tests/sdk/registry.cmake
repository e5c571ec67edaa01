# Tests of the module registry and of the package entry points.
daxo_add_test(registry_test SOURCES registry_test.cpp LIBS daxo_sdk_registry)

# A test package, beside the tests (the tool must not list it), and
# copies of it: each copy is loaded as a library of its own, with its own
# binding, so that a test can start from an unbound package.
set(test_pck_dir ${CMAKE_CURRENT_BINARY_DIR}/test_package)
velquor_add_package(daxo_test_pck SOURCES test_package/test_pck.cpp
                    OUTPUT_DIRECTORY ${test_pck_dir})
target_include_directories(daxo_test_pck PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test_package)
add_custom_command(TARGET daxo_test_pck POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:daxo_test_pck> ${test_pck_dir}/concurrent.pck
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:daxo_test_pck> ${test_pck_dir}/forward.pck
  VERBATIM)

# The test itself also carries the entry objects, for the calls it makes
# in its own process (forwarding, a failing initialisation, Exit).
daxo_add_test(pck_entry_test SOURCES pck_entry_test.cpp
              LIBS daxo_pck_entry daxo_sdk_registry daxo_sdk_definitions ${CMAKE_DL_LIBS} CONCURRENCY)
add_dependencies(pck_entry_test daxo_test_pck)
target_include_directories(pck_entry_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test_package)
target_compile_definitions(pck_entry_test PRIVATE
  DAXO_TEST_PCK="$<TARGET_FILE:daxo_test_pck>"
  DAXO_TEST_PCK_CONCURRENT="${test_pck_dir}/concurrent.pck"
  DAXO_TEST_PCK_FORWARD="${test_pck_dir}/forward.pck")

add_test(NAME pck_exports_only_entry_points
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_pck_exports.sh
                 $<TARGET_FILE:daxo_test_pck>)
set_tests_properties(pck_exports_only_entry_points PROPERTIES LABELS unit SKIP_RETURN_CODE 77)

# The shipped package exports exactly its two entry points too.
add_test(NAME sorting_multiplexer_exports_only_entry_points
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_pck_exports.sh
                 $<TARGET_FILE:velquor_sorting_multiplexer>)
set_tests_properties(sorting_multiplexer_exports_only_entry_points
                     PROPERTIES LABELS unit SKIP_RETURN_CODE 77)

# The module and component bases and their properties, in the real engine.
foreach(test property_test property_concurrency_test component_test lifecycle_test)
  set(concurrency)
  if(test STREQUAL property_concurrency_test OR test STREQUAL lifecycle_test)
    set(concurrency CONCURRENCY)
  endif()
  daxo_add_test(${test} SOURCES ${test}.cpp LIBS velquor daxo_runtime daxo_sdk_module ${concurrency})
  target_include_directories(${test} PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
endforeach()

# The module and component bases and their properties, in the real engine.
foreach(test property_test property_concurrency_test lifecycle_test
             io_flow_test output_buffer_test read_write_test)
  set(concurrency)
  if(test MATCHES "concurrency|lifecycle|io_flow|read_write")
    set(concurrency CONCURRENCY)
  endif()
  daxo_add_test(${test} SOURCES ${test}.cpp LIBS velquor daxo_runtime daxo_sdk_module ${concurrency})
  target_include_directories(${test} PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
endforeach()

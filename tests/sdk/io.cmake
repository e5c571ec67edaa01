# I/O elements (with their flattened form) and the output FIFO, with the real
# engine for reports, check levels and overflow accounting.
foreach(test io_elt_test fast_io_test fast_io_stress_test)
  set(concurrency)
  if(test STREQUAL fast_io_stress_test)
    set(concurrency CONCURRENCY)
  endif()
  daxo_add_test(${test} SOURCES ${test}.cpp LIBS velquor daxo_runtime daxo_sdk_io ${concurrency})
  target_include_directories(${test} PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
endforeach()

# Tests of layer os: time, text conversion, files, folders, loader, processes, MsgBox.
daxo_add_test(time_format_test SOURCES time_format_test.cpp LIBS daxo_rt_os)
daxo_add_test(iconv_test SOURCES iconv_test.cpp LIBS daxo_rt_os CONCURRENCY)
daxo_add_test(iconv_latin1_test SOURCES iconv_latin1_test.cpp LIBS daxo_rt_os)
daxo_add_test(file_io_test SOURCES file_io_test.cpp LIBS daxo_rt_os)
daxo_add_test(file_test SOURCES file_test.cpp LIBS daxo_rt_os CONCURRENCY)
daxo_add_test(process_test SOURCES process_test.cpp LIBS daxo_rt_os CONCURRENCY)
daxo_add_test(msgbox_test SOURCES msgbox_test.cpp LIBS daxo_rt_os)

# A library for the loader tests, and a stand-in engine library
# (libvelquor.so with daxo_init) in a folder of its own for the runtime root.
add_library(daxo_test_loader_lib SHARED dynamic_loader_test_lib.cpp)
add_library(daxo_test_fake_engine SHARED fake_engine_lib.cpp)
set_target_properties(daxo_test_fake_engine PROPERTIES
  OUTPUT_NAME velquor
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fake_engine)

daxo_add_test(dynamic_loader_test SOURCES dynamic_loader_test.cpp LIBS daxo_rt_os)
add_dependencies(dynamic_loader_test daxo_test_loader_lib)
set_target_properties(dynamic_loader_test PROPERTIES ENABLE_EXPORTS ON)
target_compile_definitions(dynamic_loader_test PRIVATE
  DAXO_TEST_LIB="$<TARGET_FILE:daxo_test_loader_lib>")

# The stand-in engine is linked, so the system loader has loaded it (by its
# soname) before the runtime asks for "libvelquor.so"; a run path alone would
# not do under the sanitizers, whose dlopen interceptor is the caller.
daxo_add_test(runtime_root_test SOURCES runtime_root_test.cpp LIBS daxo_rt_os daxo_test_fake_engine)
target_compile_definitions(runtime_root_test PRIVATE
  DAXO_FAKE_ENGINE_DIR="${CMAKE_CURRENT_BINARY_DIR}/fake_engine")

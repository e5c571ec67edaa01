# Engine-time waits of the module, against the real engine's clock.
daxo_add_test(module_waits_test SOURCES module_waits_test.cpp
              LIBS velquor daxo_runtime daxo_sdk_module CONCURRENCY)
target_include_directories(module_waits_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)

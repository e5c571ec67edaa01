# Dynamic elements, actions, renaming, period statistics and extra threads.
daxo_add_test(dynamic_test SOURCES dynamic_test.cpp LIBS velquor daxo_runtime daxo_sdk_module
              CONCURRENCY)
target_include_directories(dynamic_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)

# Name rules, refused registrations and re-declarations of elements.
daxo_add_test(element_rules_test SOURCES element_rules_test.cpp
              LIBS velquor daxo_runtime daxo_sdk_module)
target_include_directories(element_rules_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)

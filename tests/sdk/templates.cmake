# Component templates, through the real engine.
daxo_add_test(stream8_test SOURCES stream8_test.cpp
              LIBS velquor daxo_runtime daxo_sdk_templates CONCURRENCY)
target_include_directories(stream8_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
daxo_add_test(sorted_start_reading_test SOURCES sorted_start_reading_test.cpp LIBS velquor daxo_runtime daxo_sdk_templates CONCURRENCY)
target_include_directories(sorted_start_reading_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
daxo_add_test(sound_processing_test SOURCES sound_processing_test.cpp LIBS velquor daxo_runtime daxo_sdk_templates CONCURRENCY)
target_include_directories(sound_processing_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)

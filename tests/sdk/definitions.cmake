# Definition records, type information, property values; type filters.
daxo_add_test(definitions_test SOURCES definitions_test.cpp LIBS daxo_sdk_definitions)
daxo_add_test(type_filter_test SOURCES type_filter_test.cpp LIBS daxo_sdk_definitions CONCURRENCY)

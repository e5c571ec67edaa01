# Definition records, type information and filters, property values.
daxo_add_test(type_info_test SOURCES type_info_test.cpp LIBS daxo_sdk_definitions)
daxo_add_test(type_filter_test SOURCES type_filter_test.cpp LIBS daxo_sdk_definitions CONCURRENCY)
daxo_add_test(property_value_test SOURCES property_value_test.cpp LIBS daxo_sdk_definitions)
daxo_add_test(definitions_test SOURCES definitions_test.cpp LIBS daxo_sdk_definitions)

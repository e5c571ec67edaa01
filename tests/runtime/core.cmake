# (tests of layer core: strings and the C wrappers, containers and hash tables)
daxo_add_test(daxo_string_test SOURCES string_test.cpp LIBS daxo_rt_core)
daxo_add_test(daxo_containers_test SOURCES containers_test.cpp LIBS daxo_rt_core)
daxo_add_test(daxo_rb_region_test SOURCES rb_region_test.cpp LIBS daxo_rt_core)

# (tests of layer core)
daxo_add_test(daxo_string_test SOURCES string_test.cpp LIBS daxo_rt_core)
daxo_add_test(daxo_containers_test SOURCES containers_test.cpp LIBS daxo_rt_core)
daxo_add_test(daxo_c_wrappers_test SOURCES c_wrappers_test.cpp LIBS daxo_rt_core)

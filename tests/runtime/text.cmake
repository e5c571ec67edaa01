# Hash tables live in the core layer; Base64 and regular expressions in text.
daxo_add_test(hash_table_test SOURCES hash_table_test.cpp LIBS daxo_rt_core)
daxo_add_test(base64_test SOURCES base64_test.cpp LIBS daxo_rt_text)
daxo_add_test(regexp_test SOURCES regexp_test.cpp LIBS daxo_rt_text)

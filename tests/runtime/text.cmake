# Base64 and regular expressions live in the text layer.
daxo_add_test(text_test SOURCES text_test.cpp LIBS daxo_rt_text)

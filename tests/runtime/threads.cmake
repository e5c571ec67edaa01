# Tests of the threads layer (mutexes, events and timers, conditions, threads).
daxo_add_test(mutex_test SOURCES mutex_test.cpp LIBS daxo_rt_threads CONCURRENCY)
daxo_add_test(event_test SOURCES event_test.cpp LIBS daxo_rt_threads CONCURRENCY)
daxo_add_test(condition_test SOURCES condition_test.cpp LIBS daxo_rt_threads CONCURRENCY)
daxo_add_test(thread_test SOURCES thread_test.cpp LIBS daxo_rt_threads CONCURRENCY)

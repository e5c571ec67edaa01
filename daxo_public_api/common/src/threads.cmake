# Mutexes, events, conditions, threads and timers over POSIX threads.
daxo_runtime_layer(daxo_rt_threads
  SOURCES
    daxo_mutex.cpp
    daxo_event.cpp
    daxo_condition.cpp
    daxo_thread.cpp
    daxo_timer.cpp
  DEPS daxo_rt_core Threads::Threads
)

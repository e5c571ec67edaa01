# Files, time, text conversion, folders, dynamic loading, processes, MsgBox.
daxo_runtime_layer(daxo_rt_os
  SOURCES
    daxo_time.cpp
    daxo_iconv.cpp
    daxo_system.cpp
    daxo_file_io.cpp
    daxo_file.cpp
    daxo_dynamic_loader.cpp
    daxo_msgbox.cpp
    daxo_process.cpp
  DEPS daxo_rt_threads daxo_rt_text X11::X11 ${CMAKE_DL_LIBS}
)

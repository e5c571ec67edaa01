# I/O elements and the output FIFO.
daxo_sdk_part(daxo_sdk_io
  SOURCES
    daxo_io_elt.cpp
    daxo_io_elt_serialize.cpp
    daxo_fast_io.cpp
  DEPS daxo_sdk_definitions daxo_sdk_services
)

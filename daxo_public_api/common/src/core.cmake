# Strings, containers and C-style helpers; the kernel binding.
daxo_runtime_layer(daxo_rt_core
  SOURCES
    daxo_kernel_binding.cpp
    daxo_c_wrappers.cpp
    daxo_string.cpp
    daxo_hash_table.cpp
    daxo_rb_region.cpp
)

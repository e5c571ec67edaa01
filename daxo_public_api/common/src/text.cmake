# Base64 and regular expressions (libpcre).
daxo_runtime_layer(daxo_rt_text
  SOURCES
    daxo_base64.cpp
    daxo_regexp.cpp
  DEPS
    daxo_rt_core
    PkgConfig::PCRE
)

# The engine services facade: DAXO:: forwarders, DAXOPrivate::, reports,
# clocks and listeners.
daxo_sdk_part(daxo_sdk_services SOURCES daxo_services.cpp)

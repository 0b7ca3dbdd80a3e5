# Discvoice: arbitrary raw sectors through the probe, and as a mounted image through the area
# description and the streams (disc_plugin_fuzz.h).
tamrin_fuzz_target(NAME discvoice_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/discvoice_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/discvoice")
add_dependencies(discvoice_fuzz plugin_discvoice)

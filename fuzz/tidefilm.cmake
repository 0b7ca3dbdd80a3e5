# Tidefilm: arbitrary raw sectors through the probe, and as a mounted image through the area
# description, the streams and the sound decoder (disc_plugin_fuzz.h).
tamrin_fuzz_target(NAME tidefilm_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/tidefilm_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/tidefilm")
add_dependencies(tidefilm_fuzz plugin_tidefilm)

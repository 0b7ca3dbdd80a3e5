# Emberfilm: arbitrary raw sectors through the probe, and as a mounted image through the area
# description, the streams and the sound decoder (disc_plugin_fuzz.h).
tamrin_fuzz_target(NAME emberfilm_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/emberfilm_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/emberfilm")
add_dependencies(emberfilm_fuzz plugin_emberfilm)

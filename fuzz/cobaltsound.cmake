# Cobaltsound: arbitrary bytes as disc sectors (probe and streams, disc_plugin_fuzz.h) and as a
# plain .adx file (file_plugin_fuzz.h).
tamrin_fuzz_target(NAME cobaltsound_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/cobaltsound_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/cobaltsound")
add_dependencies(cobaltsound_fuzz plugin_cobaltsound)

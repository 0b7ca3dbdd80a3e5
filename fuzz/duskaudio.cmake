# Duskaudio: arbitrary bytes as a SS2 container file (file test, description, reads and seeks) or as disc
# sectors (probe, then the streams found on the bytes mounted as an image), chosen by the first byte.
tamrin_fuzz_target(NAME duskaudio_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/duskaudio_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/duskaudio")
add_dependencies(duskaudio_fuzz plugin_duskaudio)

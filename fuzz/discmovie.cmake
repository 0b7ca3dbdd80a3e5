# Discmovie: arbitrary raw sectors through the probe, and as a mounted image through the area
# description and the streams (disc_plugin_fuzz.h).
tamrin_fuzz_target(NAME discmovie_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/discmovie_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/discmovie")
add_dependencies(discmovie_fuzz plugin_discmovie)

# Ovalcast: arbitrary raw sectors through the probe, and as a mounted image through the area
# description and the streams (disc_plugin_fuzz.h). The seeds are tagged-header movie sectors:
# a movie's start, damaged frame headers (counts 0 and 0xFFFF, indexes and sizes out of range,
# totals 0 and 0xFFFFFF), two starts with blank and end sectors between, a misplaced bitstream
# header, frames of 20 sectors.
tamrin_fuzz_target(NAME ovalcast_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/ovalcast_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/ovalcast")
add_dependencies(ovalcast_fuzz plugin_ovalcast)

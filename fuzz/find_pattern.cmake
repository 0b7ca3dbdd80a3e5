# The probes' candidate search: every search path the processor has against the plain walk.
tamrin_fuzz_target(NAME find_pattern_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/find_pattern_fuzz.cpp"
  LIBS sectorkit
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/find_pattern")

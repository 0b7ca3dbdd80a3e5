# CUE sheets: arbitrary text through the parser, and through opening it as a disc image (with
# small binary files in a temporary folder) and reading from it.
tamrin_fuzz_target(NAME cue_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/cue_fuzz.cpp"
  LIBS discport_core
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/cue")

# Settings file: arbitrary bytes read as Tamlib.ini (ranges, written and read back the same) and
# every line through the line splitter.
tamrin_fuzz_target(NAME settings_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/settings_fuzz.cpp"
  LIBS tamlib_core
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/settings")

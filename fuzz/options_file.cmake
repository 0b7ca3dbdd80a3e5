# The main program's options file (Tamrin.ini): any bytes read as the stored record. The reader
# needs no window, so it is compiled here without the Qt program library.
tamrin_fuzz_target(NAME options_file_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/options_file_fuzz.cpp" "${CMAKE_SOURCE_DIR}/tamrin/src/options_file.cpp"
  LIBS tamlib tamrin_common
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/options_file")
target_include_directories(options_file_fuzz PRIVATE "${CMAKE_SOURCE_DIR}/tamrin/src")

# Tunebank: arbitrary files through the chunk walk, the description and the reads with seeks; and
# arbitrary raw sectors through the chain matcher, and as a mounted image through the streams.
tamrin_fuzz_target(NAME tunebank_file_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/tunebank_file_fuzz.cpp"
  LIBS streamkit
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/tunebank_file")
add_dependencies(tunebank_file_fuzz plugin_tunebank)
tamrin_fuzz_target(NAME tunebank_disc_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/tunebank_disc_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/tunebank_disc")
add_dependencies(tunebank_disc_fuzz plugin_tunebank)

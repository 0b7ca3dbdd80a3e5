# Filmfile: file test, description and a full read of arbitrary files through libstreamkit.
tamrin_fuzz_target(NAME filmfile_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/filmfile_fuzz.cpp"
  LIBS streamkit
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/filmfile")
add_dependencies(filmfile_fuzz plugin_filmfile)

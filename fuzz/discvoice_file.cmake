# Discvoice's file side: file test, descriptions and reads with seeks of arbitrary XA files.
tamrin_fuzz_target(NAME discvoice_file_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/discvoice_file_fuzz.cpp"
  LIBS streamkit
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/discvoice_file")
add_dependencies(discvoice_file_fuzz plugin_discvoice)

# Packfilm: file test, description and reads with seeks of arbitrary compact movie files.
tamrin_fuzz_target(NAME packfilm_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/packfilm_fuzz.cpp"
  LIBS streamkit
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/packfilm")
add_dependencies(packfilm_fuzz plugin_packfilm plugin_trackaudio)

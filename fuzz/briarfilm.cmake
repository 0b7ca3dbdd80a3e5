# Briarfilm: arbitrary bytes as a sector file and as raw disc sectors (probe, area description,
# streams, sound decoding).
tamrin_fuzz_target(NAME briarfilm_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/briarfilm_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/briarfilm")
add_dependencies(briarfilm_fuzz plugin_briarfilm)

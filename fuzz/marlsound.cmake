# Marlsound: arbitrary bytes as a headered SPU ADPCM file (file test, description, reads and seeks) or as disc
# sectors (probe, then the streams found on the bytes mounted as an image), chosen by the first byte.
tamrin_fuzz_target(NAME marlsound_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/marlsound_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/marlsound")
add_dependencies(marlsound_fuzz plugin_marlsound)

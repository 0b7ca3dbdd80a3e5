# Scorefile: arbitrary sequence files (file test, description, reads and seeks), and arbitrary
# sectors through the probe and the disc streams.
tamrin_fuzz_target(NAME scorefile_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/scorefile_fuzz.cpp"
  LIBS streamkit
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/scorefile")
add_dependencies(scorefile_fuzz plugin_scorefile)
tamrin_fuzz_target(NAME scorefile_disc_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/scorefile_disc_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/scorefile_disc")
add_dependencies(scorefile_disc_fuzz plugin_scorefile)

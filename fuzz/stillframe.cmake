# Stillframe: arbitrary bytes as a TIM file (described, read, decoded) and as a disc image (the
# probe and the streams it finds).
tamrin_fuzz_target(NAME stillframe_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/stillframe_fuzz.cpp"
  LIBS streamkit discport
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/stillframe")
add_dependencies(stillframe_fuzz plugin_stillframe)

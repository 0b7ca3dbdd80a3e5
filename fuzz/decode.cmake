# Picture decoder: arbitrary units (size, depth, kind, payload) through LbrDecodeFrame and
# LbrDecodeFrameYuv, on a stream of a real test movie; pictures checked against the two-pass decode.
tamrin_fuzz_target(NAME decode_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/decode_fuzz.cpp"
  LIBS streamkit streamkit_mdec
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/decode")
target_compile_definitions(decode_fuzz PRIVATE TAMRIN_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
add_dependencies(decode_fuzz plugin_filmfile)

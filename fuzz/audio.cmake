# Sound decoders and conversion: arbitrary units, kinds and stream formats through
# LbrDecodeAudio, and arbitrary PCM and formats through LbrConvAudioData, on a stream of a real
# test movie.
tamrin_fuzz_target(NAME audio_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/audio_fuzz.cpp"
  LIBS streamkit
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/audio")
target_compile_definitions(audio_fuzz PRIVATE TAMRIN_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
add_dependencies(audio_fuzz plugin_filmfile)

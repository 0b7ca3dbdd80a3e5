# Raw sequencer events as the MIDI converter walks them, and its 32-bit tick arithmetic.
tamrin_fuzz_target(NAME midi_events_fuzz
  SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/midi_events_fuzz.cpp" "${CMAKE_SOURCE_DIR}/tamlib/src/convert/midi_file.cpp"
  CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/midi_events")
target_include_directories(midi_events_fuzz PRIVATE "${CMAKE_SOURCE_DIR}/tamlib/src")

# CDAZ exchange: arbitrary bytes read as a search reply (limits, and records written back as a
# reply read back the same).
if(TARGET tamlib_core)
  tamrin_fuzz_target(NAME exchange_reply_fuzz
    SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/exchange_reply_fuzz.cpp"
    LIBS tamlib_core
    CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/exchange_reply")
endif()

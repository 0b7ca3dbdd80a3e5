# CDAZ files: arbitrary bytes loaded as format versions 4 and 5 (from memory and through a file);
# whatever loads is saved, loaded again and saved again, which must give the same bytes.
if(TARGET tamlib_core)
  tamrin_fuzz_target(NAME cdaz_fuzz
    SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/cdaz_fuzz.cpp"
    LIBS tamlib_core
    CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/cdaz")
endif()

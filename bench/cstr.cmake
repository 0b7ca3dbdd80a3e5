# The compact movie writer on a long movie, in the process, against reading the same stream unit
# by unit with a CRC of each payload (in the process, and tamrin-cli units as a whole process).
if(TARGET tamlib_core)
  find_package(ZLIB REQUIRED)
  tamrin_benchmark(NAME cstr_convert_bench SOURCES cstr_convert_bench.cpp LIBS tamlib_core ZLIB::ZLIB)
  target_compile_definitions(cstr_convert_bench PRIVATE TAMRIN_CLI="${TAMRIN_OUT_DIR}/tamrin-cli")
  add_dependencies(cstr_convert_bench plugin_filmfile plugin_packfilm tamrin-cli)
endif()

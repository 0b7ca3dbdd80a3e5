# CDAZ files of 10 000 streams: writing and reading version 5, in memory and through files.
if(TARGET tamlib_core)
  tamrin_benchmark(NAME cdaz_bench SOURCES cdaz_bench.cpp LIBS tamlib_core)
endif()

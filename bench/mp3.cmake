# The MP3 converter (LAME) on a long movie's sound, in the process, against ffmpeg encoding the
# same sound with its own LAME encoder at the same bit rate, in the same run.
if(TARGET tamlib_core)
  tamrin_benchmark(NAME mp3_convert_bench SOURCES mp3_convert_bench.cpp LIBS tamlib_core)
  add_dependencies(mp3_convert_bench plugin_filmfile)
endif()

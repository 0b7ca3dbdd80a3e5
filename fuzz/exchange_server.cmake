# The reference exchange server: arbitrary bytes sent as requests over the loopback address to an
# in-process server; it must stay up and store only CDAZ files that pass the shared check.
if(TARGET tamlib_core)
  find_package(Threads REQUIRED)
  tamrin_fuzz_target(NAME exchange_server_fuzz
    SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/exchange_server_fuzz.cpp"
            "${CMAKE_SOURCE_DIR}/server/exchange_routes.cpp"
            "${CMAKE_SOURCE_DIR}/server/exchange_store.cpp"
            "${CMAKE_SOURCE_DIR}/server/http_server.cpp"
            "${CMAKE_SOURCE_DIR}/server/multipart.cpp"
    LIBS tamlib_core Threads::Threads
    CORPUS "${CMAKE_CURRENT_SOURCE_DIR}/corpus/exchange_server")
  target_include_directories(exchange_server_fuzz PRIVATE "${CMAKE_SOURCE_DIR}/server")
endif()

# Helpers that give every deliverable the same output place, run path and installation.

# tamrin_plugin(NAME Filmfile SOURCES ...): builds PsrPlugins/<NAME>.psr.
function(tamrin_plugin)
  cmake_parse_arguments(P "" "NAME;TARGET" "SOURCES;LIBS" ${ARGN})
  set(target ${P_TARGET})
  if(NOT target)
    string(TOLOWER "plugin_${P_NAME}" target)
  endif()
  add_library(${target} MODULE ${P_SOURCES})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX ".psr" OUTPUT_NAME "${P_NAME}"
    LIBRARY_OUTPUT_DIRECTORY "${TAMRIN_PLUGIN_DIR}"
    INSTALL_RPATH "$ORIGIN/..")
  target_link_libraries(${target} PRIVATE streamkit_headers ${P_LIBS})
  target_link_options(${target} PRIVATE ${TAMRIN_NO_UNDEFINED})
  install(TARGETS ${target} LIBRARY DESTINATION "${TAMRIN_INSTALL_DIR}/PsrPlugins")
  set_property(GLOBAL APPEND PROPERTY TAMRIN_PLUGIN_TARGETS ${target})
endfunction()

# tamrin_program(NAME tamrin-cli SOURCES ... LIBS ...)
function(tamrin_program)
  cmake_parse_arguments(P "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${P_NAME} ${P_SOURCES})
  target_link_libraries(${P_NAME} PRIVATE ${P_LIBS})
  install(TARGETS ${P_NAME} RUNTIME DESTINATION "${TAMRIN_INSTALL_DIR}")
endfunction()

# Test and benchmark programs stay out of the output folder; they find the libraries there.
function(tamrin_test_executable name)
  set_target_properties(${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests"
    BUILD_WITH_INSTALL_RPATH OFF
    BUILD_RPATH "${TAMRIN_OUT_DIR}")
endfunction()

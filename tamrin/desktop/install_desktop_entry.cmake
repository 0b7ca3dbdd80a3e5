# Writes one menu entry at install time. In: TAMRIN_ENTRY_TEMPLATE (the .desktop.in),
# TAMRIN_ENTRY_PROGRAM (file name of the program), TAMRIN_ENTRY_DIR (the program folder below the
# prefix), TAMRIN_ENTRY_STAGE (a build folder for the written file).

set(prefix "${CMAKE_INSTALL_PREFIX}")
if(NOT IS_ABSOLUTE "${prefix}")
  get_filename_component(prefix "${prefix}" ABSOLUTE)
endif()
set(program "${prefix}/${TAMRIN_ENTRY_DIR}/${TAMRIN_ENTRY_PROGRAM}")
cmake_path(NORMAL_PATH program)

# A string value of the entry: backslash and the control characters are escaped.
function(desktop_string out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# The program as the Exec key's first argument: quoted when it holds a reserved character (inside
# the quotes ", `, $ and \ take a backslash), % doubled, then escaped as any string value.
set(arg "${program}")
string(REPLACE "%" "%%" arg "${arg}")
if(arg MATCHES "[] \t\n\"'\\\\><~|&;$*?#()`[]")
  string(REPLACE "\\" "\\\\" arg "${arg}")
  string(REPLACE "\"" "\\\"" arg "${arg}")
  string(REPLACE "`" "\\`" arg "${arg}")
  string(REPLACE "$" "\\$" arg "${arg}")
  set(arg "\"${arg}\"")
endif()
desktop_string(TAMRIN_EXEC "${arg}")
desktop_string(TAMRIN_TRYEXEC "${program}")

set(entry "${TAMRIN_ENTRY_STAGE}/${TAMRIN_ENTRY_PROGRAM}.desktop")
configure_file("${TAMRIN_ENTRY_TEMPLATE}" "${entry}" @ONLY)
file(INSTALL "${entry}" DESTINATION "${prefix}/share/applications")

# Writes the linker's list of the symbols the program exports (cmake -P, run
# by the build): every symbol the toolkit's objects define, which is what the
# desktop module binds to.  Exporting only these keeps the program's own
# symbol table small: it is read at every start.  A symbol defined in two
# members is listed twice, which the linker takes.
#   -D NM=nm -D ARCHIVE=libvantor_toolkit.a -D OUT=toolkit-exports.list
execute_process(COMMAND ${NM} --defined-only --extern-only --portability ${ARCHIVE}
                OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" lines "${listing}")
set(body "")
foreach(line ${lines})
  # "symbol type value size"; archive members are named as "archive[member]:".
  # The toolkit's own names, and library templates made for its types.
  if(line MATCHES "^([A-Za-z0-9_]*6vantor[A-Za-z0-9_]*) [A-Za-z] ")
    string(APPEND body "  ${CMAKE_MATCH_1};\n")
  endif()
endforeach()
file(WRITE ${OUT} "{\n${body}};\n")

# Writes what binutils says of addresses inside every function of a module,
# for the agreement test: run at build time on the build host, whose
# binutils the machine that runs the Windows test may not have.
#
#   cmake -DNM=... -DADDR2LINE=... -DOBJDUMP=... -DMODULE=... -DOUTPUT=... -P addr2line_answers.cmake
#
# Every function (nm's T and t symbols but those of sections, whose names
# begin with a dot) gives its first address and the address halfway to the
# next symbol. It writes
#   OUTPUT          addr2line -f -i -C -a: per address, the address, then a
#                   function line and a place line per call, innermost first;
#   OUTPUT.symbols  per address, the address and the symbols it lies in;
#   OUTPUT.lines    objdump's own decoding of the line tables, a second
#                   opinion where addr2line's file names are in doubt.
execute_process(COMMAND ${NM} -n --defined-only ${MODULE} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[0-9a-fA-F]+ [Tt] [^\n]*" texts "${symbols}")
set(addresses "")
set(named "")
set(previous "")
foreach(text ${texts})
  string(REGEX MATCH "^([0-9a-fA-F]+) . (.*)$" parts "${text}")
  set(start ${CMAKE_MATCH_1})
  set(symbol ${CMAKE_MATCH_2})
  if(previous AND NOT previous STREQUAL start AND name MATCHES " [^.]")
    math(EXPR middle "0x${previous} + (0x${start} - 0x${previous}) / 2" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND addresses "0x${previous}\n${middle}\n")
    string(APPEND named "0x${previous}${name}\n${middle}${name}\n")
  endif()
  if(NOT previous STREQUAL start)
    set(name "")
  endif()
  set(previous ${start})
  string(APPEND name " ${symbol}")
endforeach()
file(WRITE ${OUTPUT}.addresses "${addresses}")
file(WRITE ${OUTPUT}.symbols "${named}")
execute_process(COMMAND ${ADDR2LINE} -f -i -C -a -e ${MODULE}
                INPUT_FILE ${OUTPUT}.addresses OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${ADDR2LINE} failed on ${MODULE}")
endif()
execute_process(COMMAND ${OBJDUMP} --dwarf=decodedline ${MODULE} OUTPUT_FILE ${OUTPUT}.lines
                ERROR_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}")
endif()
file(REMOVE ${OUTPUT}.addresses)

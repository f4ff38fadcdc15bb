# Compares the dynamic symbols that libtesvar.so defines with the exact list
# of the public interface (name and symbol type: T function, W weak
# function, D data: the tables hold pointers, so they live in relocated
# read-only data that nm reports as D). Run with
#   cmake -DNM=<nm> -DLIBRARY=<libtesvar.so> -DEXPECTED=<exports.txt> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()

string(REPLACE "\n" ";" nm_lines "${nm_output}")
set(actual "")
foreach(line IN LISTS nm_lines)
  # "<address> <type> <name>[@@version]"
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^@ ]+)")
    set(type "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    # The version script's node is not an interface symbol.
    if(NOT type STREQUAL "A")
      list(APPEND actual "${name} ${type}")
    endif()
  endif()
endforeach()
list(SORT actual)

file(STRINGS ${EXPECTED} expected)
list(SORT expected)

if(NOT actual STREQUAL expected)
  string(REPLACE ";" "\n  " actual_text "${actual}")
  string(REPLACE ";" "\n  " expected_text "${expected}")
  message(FATAL_ERROR "exported symbols differ\nexpected:\n  ${expected_text}\nactual:\n  ${actual_text}")
endif()
list(LENGTH actual count)
message(STATUS "libtesvar.so exports exactly the ${count} interface symbols")

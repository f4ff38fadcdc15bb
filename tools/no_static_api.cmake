# Checks that BINARY defines no navo_lkp_ function: each must be called
# through libtesvar.so, never through a copy from the internal archive.
execute_process(COMMAND ${NM} --defined-only ${BINARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${BINARY}")
endif()
string(REGEX MATCHALL "[^\n]* navo_lkp_[A-Za-z_]*" copies "${symbols}")
if(copies)
  message(FATAL_ERROR "${BINARY} defines exported operations itself:\n${copies}")
endif()

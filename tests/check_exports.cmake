# SPDX-License-Identifier: MIT
# Compares the functions a shared library exports with EXPECTED (a sorted list).
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [TW] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT exported)
if(NOT exported STREQUAL EXPECTED)
  message(FATAL_ERROR "${LIBRARY} exports [${exported}], expected [${EXPECTED}]")
endif()
message(STATUS "${LIBRARY} exports exactly [${exported}]")

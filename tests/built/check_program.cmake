# SPDX-License-Identifier: MIT
# Runs a program as a user would and checks its exit status and what it wrote:
#   -DPROGRAM=... -DARGS=a;b -DUNSET=DISPLAY;... -DSTATUS=n -DOUT=regex -DERR=regex
cmake_minimum_required(VERSION 3.25)
set(unset "")
foreach(name IN LISTS UNSET)
  list(APPEND unset --unset=${name})
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${unset} ${PROGRAM} ${ARGS}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "${PROGRAM} ${ARGS}: status ${status}, expected ${STATUS}\n${out}${err}")
endif()
foreach(stream out err)
  string(TOUPPER ${stream} expected)
  if(NOT "${${stream}}" MATCHES "${${expected}}")
    message(FATAL_ERROR "${PROGRAM} ${ARGS}: std${stream} [${${stream}}] does not match [${${expected}}]")
  endif()
endforeach()

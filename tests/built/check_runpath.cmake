# SPDX-License-Identifier: MIT
# Reads the RUNPATH and RPATH of every program and shared library of the build (its bin/
# and faults/ folders, with readelf) and fails on an empty entry, which would make the
# loader search the current directory.
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE candidates LIST_DIRECTORIES false "${DIRECTORY}/bin/*" "${DIRECTORY}/faults/*")
set(checked 0)
foreach(file IN LISTS candidates)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  execute_process(COMMAND ${READELF} -d "${file}" OUTPUT_VARIABLE dynamic ERROR_QUIET
                  RESULT_VARIABLE failed)
  if(failed)
    continue()  # not an ELF file (a script, the firmware)
  endif()
  math(EXPR checked "${checked} + 1")
  string(REGEX MATCHALL "\\((RUNPATH|RPATH)\\)[^\n]*\\[[^]\n]*\\]" paths "${dynamic}")
  foreach(entry IN LISTS paths)
    string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" value "${entry}")
    if(value STREQUAL "" OR value MATCHES "^:|::|:$")
      message(FATAL_ERROR "${file} has an empty search path entry: [${value}]")
    endif()
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no program or library found under ${DIRECTORY}")
endif()
message(STATUS "${checked} programs and libraries, no empty search path entry")

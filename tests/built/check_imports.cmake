# SPDX-License-Identifier: MIT
# Checks that a Windows program imports only Windows' own DLLs (read with objdump -p), so
# that copying its folder is enough to run it; the board library is loaded at run time.
cmake_minimum_required(VERSION 3.25)
set(allowed ADVAPI32.DLL COMCTL32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL SHELL32.DLL USER32.DLL
            UXTHEME.DLL VERSION.DLL)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read the import table of ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${table}")
set(imported "")
foreach(name IN LISTS names)
  string(REPLACE "DLL Name: " "" name "${name}")
  string(TOUPPER "${name}" name)
  list(APPEND imported ${name})
  if(NOT name IN_LIST allowed)
    message(FATAL_ERROR "${PROGRAM} imports ${name}, which is not one of Windows' own DLLs")
  endif()
endforeach()
message(STATUS "${PROGRAM} imports only [${imported}]")

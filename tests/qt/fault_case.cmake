# SPDX-License-Identifier: MIT
# Lays out one fault and runs the fault scenario program in it:
#   PROGRAM   the scenario program to run
#   FOLDER    the folder the program runs from (its program folder); made afresh
#   LIBRARY   the board library to put at LIBRARY_AT ("none": no library there)
#   LIBRARY_AT where the program looks for its board library
#   FIRMWARE  the file to put in FOLDER as SPI.hex ("none": no firmware; "folder": a
#             directory of that name in its place)
# The expectations travel to the program in the KT_EXPECT_* variables of the environment.
file(REMOVE_RECURSE "${FOLDER}")
file(MAKE_DIRECTORY "${FOLDER}")
get_filename_component(name "${PROGRAM}" NAME)
file(COPY_FILE "${PROGRAM}" "${FOLDER}/${name}")
file(REMOVE "${LIBRARY_AT}")
if(NOT LIBRARY STREQUAL "none")
  get_filename_component(library_folder "${LIBRARY_AT}" DIRECTORY)
  file(MAKE_DIRECTORY "${library_folder}")
  file(COPY_FILE "${LIBRARY}" "${LIBRARY_AT}")
endif()
if(FIRMWARE STREQUAL "folder")
  file(MAKE_DIRECTORY "${FOLDER}/SPI.hex")
elseif(NOT FIRMWARE STREQUAL "none")
  file(COPY_FILE "${FIRMWARE}" "${FOLDER}/SPI.hex")
endif()
execute_process(COMMAND "${FOLDER}/${name}" RESULT_VARIABLE failed)
file(REMOVE_RECURSE "${FOLDER}")
if(failed)
  message(FATAL_ERROR "the fault scenario failed (${failed})")
endif()

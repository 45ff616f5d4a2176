# SPDX-License-Identifier: MIT
# The fault matrix: one user session (qt/fault_scenario_test.cpp) run under each fault, per
# generation. Each case copies the scenario program into a folder of its own, lays out the
# board library and firmware there as the fault wants, and names what the user must see.
set(kt_faults ${PROJECT_BINARY_DIR}/faults)
# The second generation binds a fixed path: the fault build's points here, and the cases
# take turns putting a library there.
set(kt_fault_boardlink ${kt_faults}/g2-library/libCVR_BOARDLINK.so)

add_library(kt_fault_scenario OBJECT qt/fault_scenario_test.cpp)
target_link_libraries(kt_fault_scenario PRIVATE kt_window_test_support)
foreach(gen 1 2)
  kt_window_test_program(kt_fault_scenario_g${gen} ${gen} kt_fault_scenario)
endforeach()
# Linked before the binding's own path, which is then left out.
target_sources(kt_fault_scenario_g2 PRIVATE ${PROJECT_SOURCE_DIR}/link/boardlink_path.cpp)
set_source_files_properties(${PROJECT_SOURCE_DIR}/link/boardlink_path.cpp TARGET_DIRECTORY
  kt_fault_scenario_g2 PROPERTIES COMPILE_DEFINITIONS "KT_BOARDLINK_PATH=\"${kt_fault_boardlink}\"")

# Libraries that lack one entry.
foreach(entry IN LISTS KT_SIM_ENTRIES_G2)
  kt_sim_library(kt_sim_g2_without_${entry} 2 WITHOUT ${entry} DIRECTORY ${kt_faults}/lib/g2-${entry})
endforeach()
kt_sim_library(kt_sim_g1_without_InitLink 1 WITHOUT "?InitLink@@YGFPAD@Z"
               DIRECTORY ${kt_faults}/lib/g1-InitLink)
kt_sim_library(kt_sim_g1_without_LinkControl 1 WITHOUT "?LinkControl@@YGFFJJFFPAD@Z"
               DIRECTORY ${kt_faults}/lib/g1-LinkControl)

# kt_fault(gen name ENTRIES list [MESSAGE text] [TRAPS] [STATUS n] [LIBRARY path|none]
#          [FIRMWARE path|none] [FOLDER name] [PATH_BYTES n] [ENV var=value...])
# TRAPS: the connection succeeds but every update traps, so the entry box ends empty.
function(kt_fault gen name)
  cmake_parse_arguments(PARSE_ARGV 2 arg "TRAPS" "MESSAGE;STATUS;LIBRARY;FIRMWARE;FOLDER;PATH_BYTES"
                        "ENTRIES;ENV")
  set(library $<TARGET_FILE:kt_sim_boardio>)
  set(library_at ${kt_faults}/g1-${name}/libBoardIO.so)
  if(gen EQUAL 2)
    set(library $<TARGET_FILE:kt_sim_boardlink>)
    set(library_at ${kt_fault_boardlink})
  endif()
  if(arg_LIBRARY)
    set(library ${arg_LIBRARY})
  endif()
  set(folder ${kt_faults}/g${gen}-${name})
  if(arg_FOLDER)
    set(folder ${kt_faults}/${arg_FOLDER})
    if(gen EQUAL 1)
      set(library_at ${folder}/libBoardIO.so)
    endif()
  endif()
  if(arg_PATH_BYTES)
    # Grow the folder until folder + "/SPI.hex" is exactly PATH_BYTES bytes long.
    string(LENGTH "${folder}/SPI.hex" length)
    math(EXPR missing "${arg_PATH_BYTES} - ${length}")
    while(missing GREATER 0)
      math(EXPR part "${missing} - 1")
      if(part GREATER 200)
        set(part 200)
      elseif(part LESS 1)
        set(part 1)
      endif()
      string(REPEAT "p" ${part} component)
      string(APPEND folder "/${component}")
      string(LENGTH "${folder}/SPI.hex" length)
      math(EXPR missing "${arg_PATH_BYTES} - ${length}")
    endwhile()
    if(gen EQUAL 1)
      set(library_at ${folder}/libBoardIO.so)
    endif()
  endif()
  set(firmware ${PROJECT_SOURCE_DIR}/firmware/SPI.hex)
  if(arg_FIRMWARE)
    set(firmware ${arg_FIRMWARE})
  endif()
  set(box "0000")
  if(arg_TRAPS)
    set(box "")
  endif()
  if(NOT DEFINED arg_STATUS)
    set(arg_STATUS 0)
  endif()
  list(JOIN arg_ENTRIES "," entries)
  add_test(NAME fault.g${gen}.${name}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:kt_fault_scenario_g${gen}> "-DFOLDER=${folder}"
            -DLIBRARY=${library} "-DLIBRARY_AT=${library_at}" -DFIRMWARE=${firmware}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/qt/fault_case.cmake)
  set_tests_properties(fault.g${gen}.${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KT_SIM_TRACE=;KT_EXPECT_MESSAGE=${arg_MESSAGE};KT_EXPECT_ENTRIES=${entries};KT_EXPECT_BOX=${box};KT_EXPECT_STATUS=${arg_STATUS};${arg_ENV}")
  if(gen EQUAL 2)
    set_tests_properties(fault.g2.${name} PROPERTIES RESOURCE_LOCK kt_fault_boardlink)
  endif()
endfunction()

set(kt_fail "Communication Failure - Check USB connections")
set(kt_connect_g2 Scan_Bus Open_Link Load_Code)
set(kt_connect_g1 InitLink)
set(kt_send_g2 Control_Transfer)
set(kt_send_g1 LinkControl)

foreach(gen 1 2)
  # Nothing wrong: the baseline every case departs from.
  kt_fault(${gen} none ENTRIES ${kt_connect_g${gen}} ${kt_send_g${gen}})
  kt_fault(${gen} no-library LIBRARY none ENTRIES "" MESSAGE "cannot load library"
           ENV KT_EXPECT_SPI_TOO=1)
  kt_fault(${gen} no-board ENV KT_SIM_BOARDS=0 ENTRIES ${kt_connect_g${gen}} MESSAGE ${kt_fail})
  # A missing firmware file is named, with what to do about it.
  kt_fault(${gen} firmware-missing FIRMWARE none ENTRIES ${kt_connect_g${gen}}
           MESSAGE "SPI.hex is missing: put the board maker's SPI.hex there.")
  kt_fault(${gen} firmware-folder FIRMWARE folder ENTRIES ${kt_connect_g${gen}}
           MESSAGE "SPI.hex is missing: put the board maker's SPI.hex there.")
  kt_fault(${gen} firmware-corrupt FIRMWARE ${CMAKE_CURRENT_SOURCE_DIR}/data/corrupt.hex
           ENTRIES ${kt_connect_g${gen}} MESSAGE ${kt_fail})
  kt_fault(${gen} path-512 PATH_BYTES 512 ENTRIES ${kt_connect_g${gen}} ${kt_send_g${gen}})
  foreach(bytes 513 600)
    kt_fault(${gen} path-${bytes} PATH_BYTES ${bytes} ENTRIES ""
             MESSAGE "path of ${bytes} bytes does not fit the 512-byte path buffer")
  endforeach()
  # Off Windows the path goes to the library as its UTF-8 bytes, so any character fits.
  kt_fault(${gen} path-beyond-latin1 FOLDER "g${gen}-日本語-Ωμέγα"
           ENTRIES ${kt_connect_g${gen}} ${kt_send_g${gen}})
  kt_fault(${gen} slow-library ENV KT_SIM_LATENCY_US=20000
           ENTRIES ${kt_connect_g${gen}} ${kt_send_g${gen}})
  foreach(status -1 0 5)
    kt_fault(${gen} send-status${status} ENV KT_SIM_SEND_STATUS=${status} STATUS ${status}
             ENTRIES ${kt_connect_g${gen}} ${kt_send_g${gen}})
  endforeach()
endforeach()

# Load statuses: the second generation takes only 0, the first any value from 0 up.
kt_fault(2 load-status-1 ENV KT_SIM_LOAD_STATUS=-1 ENTRIES ${kt_connect_g2} MESSAGE ${kt_fail})
kt_fault(2 load-status0 ENV KT_SIM_LOAD_STATUS=0 ENTRIES ${kt_connect_g2} ${kt_send_g2})
kt_fault(2 load-status1 ENV KT_SIM_LOAD_STATUS=1 ENTRIES ${kt_connect_g2} MESSAGE ${kt_fail})
kt_fault(1 load-status-1 ENV KT_SIM_LOAD_STATUS=-1 ENTRIES ${kt_connect_g1} MESSAGE ${kt_fail})
kt_fault(1 load-status0 ENV KT_SIM_LOAD_STATUS=0 ENTRIES ${kt_connect_g1} ${kt_send_g1})
kt_fault(1 load-status1 ENV KT_SIM_LOAD_STATUS=1 ENTRIES ${kt_connect_g1} ${kt_send_g1})

# A library without one entry: the OK stops at that entry with its name; without the frame
# entry the connection succeeds and every update traps (the box is emptied).
kt_fault(2 without-Scan_Bus LIBRARY ${kt_faults}/lib/g2-Scan_Bus/libCVR_BOARDLINK.so
         ENTRIES "" MESSAGE "has no entry \"Scan_Bus\"")
kt_fault(2 without-Open_Link LIBRARY ${kt_faults}/lib/g2-Open_Link/libCVR_BOARDLINK.so
         ENTRIES Scan_Bus MESSAGE "has no entry \"Open_Link\"")
kt_fault(2 without-Load_Code LIBRARY ${kt_faults}/lib/g2-Load_Code/libCVR_BOARDLINK.so
         ENTRIES Scan_Bus Open_Link MESSAGE "has no entry \"Load_Code\"")
kt_fault(2 without-Control_Transfer
         LIBRARY ${kt_faults}/lib/g2-Control_Transfer/libCVR_BOARDLINK.so
         ENTRIES ${kt_connect_g2} TRAPS)
kt_fault(1 without-InitLink LIBRARY ${kt_faults}/lib/g1-InitLink/libBoardIO.so
         ENTRIES "" MESSAGE "has no entry \"?InitLink@@YGFPAD@Z\"")
kt_fault(1 without-LinkControl LIBRARY ${kt_faults}/lib/g1-LinkControl/libBoardIO.so
         ENTRIES InitLink TRAPS)

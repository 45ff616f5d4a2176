# SPDX-License-Identifier: MIT
# What ktdac and its remote control build on: CLI11, fmt and standalone Asio, all header-only.
if(CMAKE_CROSSCOMPILING)
  # For Windows, Debian's CLI11 and fmt headers of the build machine, header-only; only their
  # own folders are copied, as for the simulated board's JSON headers.
  foreach(header CLI/CLI.hpp fmt/format.h asio.hpp)
    string(REGEX REPLACE "[/.].*" "" folder ${header})
    find_path(KT_${folder}_DIR ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    file(COPY ${KT_${folder}_DIR}/${folder} DESTINATION ${PROJECT_BINARY_DIR}/host-headers)
    if(folder STREQUAL "asio")
      file(COPY ${KT_${folder}_DIR}/asio.hpp DESTINATION ${PROJECT_BINARY_DIR}/host-headers)
    endif()
  endforeach()
  add_library(kt_cli_headers INTERFACE)
  target_include_directories(kt_cli_headers SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/host-headers)
  target_compile_definitions(kt_cli_headers INTERFACE FMT_HEADER_ONLY)
  add_library(CLI11::CLI11 ALIAS kt_cli_headers)
  add_library(fmt::fmt ALIAS kt_cli_headers)
else()
  find_package(CLI11 2.1 REQUIRED)
  find_package(fmt 9 REQUIRED)
  find_path(KT_ASIO_DIR asio.hpp REQUIRED)
endif()

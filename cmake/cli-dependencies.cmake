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

# Standalone Asio as every user of it takes it: its headers, its settings, and what it
# links on each system (Windows 7's socket API; threads elsewhere).
add_library(kt_asio INTERFACE)
target_compile_definitions(kt_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
if(KT_ASIO_DIR)
  target_include_directories(kt_asio SYSTEM INTERFACE ${KT_ASIO_DIR})
else()
  target_link_libraries(kt_asio INTERFACE kt_cli_headers)
endif()
if(WIN32)
  target_compile_definitions(kt_asio INTERFACE _WIN32_WINNT=0x0601)
  target_link_libraries(kt_asio INTERFACE ws2_32 mswsock)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(kt_asio INTERFACE Threads::Threads)
endif()

# Beast's HTTP parser (Boost, header-only), for serve's web page. For Windows, Debian's Boost
# headers of the build machine are reached through a link of their own, so that no other
# header of the build machine is seen.
find_path(KT_BOOST_DIR boost/beast/http/parser.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          REQUIRED)
add_library(kt_beast INTERFACE)
if(CMAKE_CROSSCOMPILING)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/boost-headers)
  file(CREATE_LINK ${KT_BOOST_DIR}/boost ${PROJECT_BINARY_DIR}/boost-headers/boost SYMBOLIC)
  target_include_directories(kt_beast SYSTEM INTERFACE ${PROJECT_BINARY_DIR}/boost-headers)
else()
  target_include_directories(kt_beast SYSTEM INTERFACE ${KT_BOOST_DIR})
endif()
target_compile_definitions(kt_beast INTERFACE BOOST_ALL_NO_LIB)

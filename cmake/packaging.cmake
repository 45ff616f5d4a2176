# SPDX-License-Identifier: MIT
# Packages: a Debian package of the Linux build; the Windows installer (NSIS) and a ZIP of
# the same folder from the 32-bit Windows build. `cmake --workflow --preset packages` makes
# all of them (see tools/build-packages.sh).
set(CPACK_PACKAGE_NAME kt310)
# Values reach the generators as written, quotes and backslashes included.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Evaluation software for the KT300 and KT310..KT313 DACs")
set(CPACK_PACKAGE_DESCRIPTION
    "A bench engineer picks the DAC model, types a code in hexadecimal or decimal,
picks a power-down mode, and the program sends one SPI frame through the USB
evaluation board. Includes ktdac, the command-line companion, which also
characterizes the DAC with a bench meter, and a simulated board and meter.")
set(CPACK_PACKAGE_CONTACT "Corvane <support@corvane.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR NSIS ZIP)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "KT310 Evaluation")
  set(CPACK_COMPONENTS_ALL programs simulated)
  set(CPACK_COMPONENT_PROGRAMS_DISPLAY_NAME "Programs")
  set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION "KT310(version2), KT310 and ktdac")
  set(CPACK_COMPONENT_PROGRAMS_REQUIRED ON)
  set(CPACK_COMPONENT_SIMULATED_DISPLAY_NAME "Simulated board (no hardware)")
  set(CPACK_COMPONENT_SIMULATED_DESCRIPTION
      "A simulated board library and its firmware image, and a simulated bench meter (kt-sim-meter), to try the programs without the board. Not for use with a real board: its SPI.hex would leave a real board unable to send frames.")
  set(CPACK_COMPONENT_SIMULATED_DISABLED ON)  # the user must choose it
  set(CPACK_NSIS_PACKAGE_NAME "KT310 Evaluation Software")
  set(CPACK_NSIS_DISPLAY_NAME "KT310 Evaluation Software ${PROJECT_VERSION}")
  set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/icon/kt310.ico)
  set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/icon/kt310.ico)
  set(CPACK_NSIS_INSTALLED_ICON_NAME kt310v2.exe)
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  # Start-menu entries for the two programs, which stand in the installation folder itself.
  set(CPACK_NSIS_CREATE_ICONS_EXTRA
      "CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\KT310(version2).lnk\" \"$INSTDIR\\kt310v2.exe\"
  CreateShortCut \"$SMPROGRAMS\\$STARTMENU_FOLDER\\KT310.lnk\" \"$INSTDIR\\kt310.exe\"")
  set(CPACK_NSIS_DELETE_ICONS_EXTRA
      "Delete \"$SMPROGRAMS\\$MUI_TEMP\\KT310(version2).lnk\"
  Delete \"$SMPROGRAMS\\$MUI_TEMP\\KT310.lnk\"")
  # The version in the installer's file properties: CPack's own NSIS template with the
  # version attributes added, found first through the module path.
  file(READ ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in template)
  string(REPLACE "  RequestExecutionLevel admin\n" "  RequestExecutionLevel admin
  VIProductVersion ${PROJECT_VERSION}
  VIAddVersionKey ProductName \"KT310 Evaluation Software\"
  VIAddVersionKey CompanyName \"Corvane\"
  VIAddVersionKey FileDescription \"KT310 Evaluation Software installer\"
  VIAddVersionKey FileVersion ${PROJECT_VERSION}
  VIAddVersionKey ProductVersion ${PROJECT_VERSION}
  VIAddVersionKey LegalCopyright \"2026 Corvane\"
" template "${template}")
  file(WRITE ${PROJECT_BINARY_DIR}/cpack-templates/NSIS.template.in "${template}")
  list(PREPEND CMAKE_MODULE_PATH ${PROJECT_BINARY_DIR}/cpack-templates)
  # Never over a file that is already there: a board library or firmware of the board
  # maker's in the installation folder must not be hidden by the simulated board's.
  set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "SetOverwrite off")
  # Without the simulated board, the board maker's SPI.hex must be put beside the programs.
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "IfFileExists \"$INSTDIR\\SPI.hex\" +2 0
  MessageBox MB_OK|MB_ICONINFORMATION \"Put the SPI.hex of the board maker beside the programs, in $INSTDIR, before you connect the board.\" /SD IDOK")
  # One ZIP per component: the simulated board is a ZIP of its own, chosen by taking it.
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The portmapper through which VISA libraries find ktdac serve's VXI-11 channel; serve
  # answers for itself as root without it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS rpcbind)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvane.example")
endif()
include(CPack)

# The Windows program as users get it: the program, the Qt and MinGW DLLs it
# loads and nothing more, the window's platform plugin and the manual; packed
# into a zip and an NSIS installer by CPack.

# Where the MinGW run-time DLLs (libstdc++, libgcc_s, libwinpthread) are:
# the Qt folder's own copy when it has one, else beside the compiler.
if(EXISTS "${QT_MINGW_PREFIX}/mingw-runtime")
  set(_runtime_default "${QT_MINGW_PREFIX}/mingw-runtime")
else()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
    OUTPUT_VARIABLE _libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(_runtime_default "${_libstdcxx}" DIRECTORY)
endif()
set(MINGW_RUNTIME_DIR "${_runtime_default}" CACHE PATH "Folder of the MinGW run-time DLLs")

install(TARGETS pollbench RUNTIME DESTINATION .)
# The window's platform; runs without a window load none.
set(_platforms "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms")
install(FILES "${_platforms}/qwindows.dll" DESTINATION platforms)
# The Qt and MinGW DLLs the program and its platform load, and nothing more.
install(CODE "
  set(PROGRAMS \"$<TARGET_FILE:pollbench>\" \"${_platforms}/qwindows.dll\")
  set(DLL_DIRS \"${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}\" \"${MINGW_RUNTIME_DIR}\")
  set(OBJDUMP \"${CMAKE_OBJDUMP}\")
  set(STRIP \"${CMAKE_STRIP}\")
  set(DEST \"\${CMAKE_INSTALL_PREFIX}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/windows-dlls.cmake\")
")

# The manual page as plain text, with the line ends Notepad expects.
find_program(GROFF groff REQUIRED)
add_custom_command(OUTPUT pollbench.txt
  COMMAND ${CMAKE_COMMAND} -DGROFF=${GROFF} -DPAGE=${PROJECT_SOURCE_DIR}/docs/pollbench.1
    -DOUT=${CMAKE_CURRENT_BINARY_DIR}/pollbench.txt -P ${PROJECT_SOURCE_DIR}/cmake/manual-text.cmake
  DEPENDS docs/pollbench.1 cmake/manual-text.cmake VERBATIM)
add_custom_target(manual ALL DEPENDS pollbench.txt)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pollbench.txt DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME Pollbench)
set(CPACK_PACKAGE_VENDOR Pollbench)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bench tester for banknote validators on RS-232")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Pollbench)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Pollbench)
set(CPACK_PACKAGE_FILE_NAME pollbench-${PROJECT_VERSION}-win64)
# A Start-menu shortcut to the program, which is in the folder's top.
set(CPACK_PACKAGE_EXECUTABLES pollbench Pollbench)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALLED_ICON_NAME pollbench.exe)
set(CPACK_NSIS_DISPLAY_NAME Pollbench)
set(CPACK_NSIS_PACKAGE_NAME Pollbench)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# Installing needs no administrator: run plainly it installs for this user
# (its own folder, Start menu and uninstall entry); run as administrator it
# installs for all users into Program Files.
# A 64-bit installer for a 64-bit program (and the one a 64-bit-only Wine runs).
set(CPACK_NSIS_DEFINES "RequestExecutionLevel user\nTarget amd64-unicode")
# The installer's file name is its own.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-names.cmake)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/cpack-names.cmake
  "if(CPACK_GENERATOR STREQUAL \"NSIS\")\n"
  "  set(CPACK_PACKAGE_FILE_NAME \"Pollbench-${PROJECT_VERSION}-win64-setup\")\n"
  "endif()\n")
include(CPack)

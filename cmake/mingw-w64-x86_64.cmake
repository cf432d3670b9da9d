# Cross-building the Windows program (x86_64, MinGW-w64 with POSIX threads)
# from Linux. QT_MINGW_PREFIX is the folder of a Qt 6 built for MinGW-w64;
# the host tools (moc, rcc, uic) come from the build machine's Qt of the same
# version, found through QT_HOST_PATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(QT_MINGW_PREFIX "" CACHE PATH "Qt 6 for MinGW-w64 (the folder holding lib/cmake/Qt6)")
if(NOT QT_MINGW_PREFIX)
  message(FATAL_ERROR "Set QT_MINGW_PREFIX to a Qt 6 built for MinGW-w64")
endif()
# The try_compile projects CMake makes get the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QT_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${QT_MINGW_PREFIX}")
set(CMAKE_PREFIX_PATH "${QT_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT QT_HOST_PATH)
  set(QT_HOST_PATH /usr CACHE PATH "Where the build machine's Qt tools live")
endif()
if(NOT QT_HOST_PATH_CMAKE_DIR)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "The build machine's Qt CMake packages")
endif()

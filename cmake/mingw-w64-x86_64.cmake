# Cross-building for Windows (x86_64) with Debian's mingw-w64 compilers (posix threads: the
# C++ library's std::thread and std::mutex need them) against a Qt built for mingw-w64.
#
# The Qt folder comes from NORVAK_QT_WINDOWS_DIR (a cache variable, or the environment); the
# host's Qt tools (moc, rcc, uic) come from Debian's Qt of the same version under /usr.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT NORVAK_QT_WINDOWS_DIR AND DEFINED ENV{NORVAK_QT_WINDOWS_DIR})
  set(NORVAK_QT_WINDOWS_DIR "$ENV{NORVAK_QT_WINDOWS_DIR}")
endif()
if(NOT NORVAK_QT_WINDOWS_DIR OR NOT EXISTS "${NORVAK_QT_WINDOWS_DIR}/lib/cmake/Qt6")
  message(FATAL_ERROR
    "Qt for Windows not found: set NORVAK_QT_WINDOWS_DIR to a folder holding lib/cmake/Qt6 "
    "(Qt 6.4 built for mingw-w64 x86_64; scripts/build-windows.sh finds or unpacks it).")
endif()
# try_compile projects read this file again; they need the folder too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NORVAK_QT_WINDOWS_DIR)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${NORVAK_QT_WINDOWS_DIR}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH "${NORVAK_QT_WINDOWS_DIR}")

# moc, rcc and uic run on this machine.
set(QT_HOST_PATH /usr CACHE PATH "Qt for the build machine")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "its CMake packages")

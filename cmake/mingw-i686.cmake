# Cross build of the 32-bit Windows installer with Debian's i686 mingw
# compilers (posix threads, as the Qt kit was built) against the Qt kit
# unpacked at QT_WIN32_KIT (build-win/qt5-win32 by default).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

if(NOT QT_WIN32_KIT)
  set(QT_WIN32_KIT "${CMAKE_BINARY_DIR}/qt5-win32")
endif()
set(QT_WIN32_KIT "${QT_WIN32_KIT}" CACHE PATH "The unpacked Qt kit for i686 mingw")
list(APPEND CMAKE_PREFIX_PATH "${QT_WIN32_KIT}")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 "${QT_WIN32_KIT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Cross compiling for 32-bit Windows with Debian's mingw-w64.
#
# Kestrava.exe is built with the win32 thread model: its runtime imports only what Windows XP has.
# The cross-compiled tests use the posix thread model (-DKESTRAVA_MINGW_THREADS=posix), because
# GoogleTest needs std::mutex, which the win32 model of this compiler lacks; that runtime imports
# GetTickCount64, which is fine under Wine but not on XP, so the program itself never uses it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
if(NOT KESTRAVA_MINGW_THREADS)
  set(KESTRAVA_MINGW_THREADS win32)
endif()
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${KESTRAVA_MINGW_THREADS})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${KESTRAVA_MINGW_THREADS})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# Tests of the Windows build run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine/run.sh)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Cross build for 32-bit Windows with Debian's mingw-w64 i686 toolchain
# (g++-mingw-w64-i686, binutils-mingw-w64-i686).  tools/build_win32.sh
# passes this file; the build tools that run during the build (the skin
# encoder, the string-table scrambler) come from a native build named by
# QUORVAX_HOST_TOOLS_DIR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUORVAX_MINGW_PREFIX i686-w64-mingw32)
# The compilers' thread model: Debian's default (win32) for the program;
# "posix" for the unit tests, whose GoogleTest needs std::mutex, which only
# that model's C++ library has.
set(QUORVAX_MINGW_THREADS "" CACHE STRING "mingw-w64 thread model (empty: the default; posix)")
if(QUORVAX_MINGW_THREADS)
  set(QUORVAX_MINGW_SUFFIX -${QUORVAX_MINGW_THREADS})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVAX_MINGW_THREADS)
set(CMAKE_C_COMPILER ${QUORVAX_MINGW_PREFIX}-gcc${QUORVAX_MINGW_SUFFIX})
set(CMAKE_CXX_COMPILER ${QUORVAX_MINGW_PREFIX}-g++${QUORVAX_MINGW_SUFFIX})
set(CMAKE_RC_COMPILER ${QUORVAX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVAX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs under Wine for anything the build itself would run (test
# discovery); the build tools above never need it.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

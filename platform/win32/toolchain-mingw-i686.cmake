# Cross build for 32-bit Windows with Debian's mingw-w64 i686 toolchain
# (g++-mingw-w64-i686, binutils-mingw-w64-i686).  tools/build_win32.sh
# passes this file; the build tools that run during the build (the skin
# encoder, the string-table scrambler) come from a native build named by
# QUORVAX_HOST_TOOLS_DIR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUORVAX_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVAX_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${QUORVAX_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${QUORVAX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVAX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs under Wine for anything the build itself would run (test
# discovery); the build tools above never need it.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Cross build of the 32-bit Windows DLL with Debian's MinGW-w64 (i686);
# tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PNGCOMMENT_MINGW_PREFIX i686-w64-mingw32)
# The POSIX thread model: its libstdc++ has std::mutex, which GoogleTest needs;
# winpthread is linked statically with everything else.
set(CMAKE_C_COMPILER ${PNGCOMMENT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PNGCOMMENT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PNGCOMMENT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PNGCOMMENT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)

# Cross build for Windows with Debian's MinGW-w64, shared by the i686 and
# x86_64 toolchain files, which set PNGCOMMENT_MINGW_PREFIX and
# PNGCOMMENT_WINE_ARCH first. Programs run under Wine through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)

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

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${PNGCOMMENT_WINE_ARCH})

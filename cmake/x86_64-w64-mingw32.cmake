# The same sources as a 64-bit Windows build, run by 64-bit Wine, which every
# machine runs: it exercises the Windows code paths where the 32-bit build
# cannot run. Not a plug-in for hosts, which load 32-bit DLLs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PNGCOMMENT_MINGW_PREFIX x86_64-w64-mingw32)
set(PNGCOMMENT_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

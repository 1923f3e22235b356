# The product: the 32-bit Windows DLL, run by 32-bit Wine where the machine
# runs 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(PNGCOMMENT_MINGW_PREFIX i686-w64-mingw32)
set(PNGCOMMENT_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# The 32-bit Windows console program, the one users get.
set(VORNHOLD_MINGW_PROCESSOR i686)
set(VORNHOLD_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

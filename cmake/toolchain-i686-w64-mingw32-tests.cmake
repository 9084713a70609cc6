# The tests of the 32-bit Windows program, which run the program users get.
set(VORNHOLD_MINGW_PROCESSOR i686)
set(VORNHOLD_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

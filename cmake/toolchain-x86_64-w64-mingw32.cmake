# The same sources as a 64-bit Windows console program: wine64 runs it on
# machines that cannot run 32-bit programs, so the Windows code is tested there.
set(VORNHOLD_MINGW_PROCESSOR x86_64)
set(VORNHOLD_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

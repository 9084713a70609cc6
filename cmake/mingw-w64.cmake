# Windows console programs cross-built with Debian's mingw-w64 and run under wine.
# The including toolchain file sets VORNHOLD_MINGW_PROCESSOR (i686 or x86_64)
# and VORNHOLD_MINGW_THREADS, the thread model: win32 for the program users
# get, which then links no thread library (the posix one brings winpthreads,
# whose imports make a text tool look like something else to virus scanners);
# posix for the tests, since GoogleTest needs std::mutex, which GCC 12's win32
# model lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VORNHOLD_MINGW_PROCESSOR})
set(triple ${VORNHOLD_MINGW_PROCESSOR}-w64-mingw32)

set(CMAKE_C_COMPILER ${triple}-gcc-${VORNHOLD_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${triple}-g++-${VORNHOLD_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No mingw runtime DLL beside the .exe: everything but Windows itself is linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# SSE2 is on every processor that runs a supported Windows; LF search uses it.
set(CMAKE_CXX_FLAGS_INIT "-msse2")

if(VORNHOLD_MINGW_PROCESSOR STREQUAL "i686")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../support/wine.sh;run;32")
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../support/wine.sh;run;64")
endif()

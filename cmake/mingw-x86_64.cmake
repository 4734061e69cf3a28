# The 64-bit Windows build, the one 64-bit Wine runs here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PINDRAL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test programs run under 64-bit Wine (32-bit Wine cannot start on a kernel
# without 32-bit support). The prefix is set per test by the tests' own CMake.
find_program(PINDRAL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(PINDRAL_WINE64 NAMES wine64)
if(PINDRAL_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PINDRAL_WINE64})
endif()

# The "-posix" compilers carry std::thread, which the tests use; every
# runtime library is linked statically, so the programs need no MinGW DLL.
set(CMAKE_C_COMPILER ${PINDRAL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PINDRAL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PINDRAL_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PINDRAL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

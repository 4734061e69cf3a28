# A 32-bit x86 Linux build of the platform-free core, run under qemu-i386:
# it proves the 32-bit arithmetic of the shipped program on a kernel that
# cannot run 32-bit programs itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
# Static, so qemu needs no 32-bit loader or libraries at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
find_program(PINDRAL_QEMU_I386 NAMES qemu-i386-static qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PINDRAL_QEMU_I386})

# Cross-building for 32-bit big-endian PowerPC (Debian: g++-powerpc-linux-gnu,
# libc6-dev-powerpc-cross).
#
#   cmake -S . -B build-ppc -DCMAKE_TOOLCHAIN_FILE=cross/powerpc-linux-gnu.cmake \
#         -DGTest_DIR=<GoogleTest for PowerPC>/lib/cmake/GTest \
#         -DLKPSIM_HOST_LAUNCHER=<native build>/sim/lkpsim-host
#
# With LKPSIM_HOST_LAUNCHER given, ctest runs every test as
#   lkpsim-host qemu-ppc-static -L /usr/powerpc-linux-gnu TEST
# (the native host part of the simulator around the emulated test), and the
# tests start the PowerPC programs they run (lkpctl, lkpsim) through the same
# emulator, named in $LKPSIM_EMULATOR; host programs such as tar run natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(TESVAR_CROSS_TRIPLE powerpc-linux-gnu)
set(CMAKE_C_COMPILER ${TESVAR_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TESVAR_CROSS_TRIPLE}-g++)
set(TESVAR_CROSS_SYSROOT /usr/${TESVAR_CROSS_TRIPLE})

# 64-bit time_t and off_t for everything built with this file, GoogleTest too,
# so that no structure holding them differs between the parts.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")

set(CMAKE_FIND_ROOT_PATH ${TESVAR_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages (GoogleTest) are named by their directory, outside the sysroot.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# No binfmt_misc registration is assumed: the emulator is always named.
set(TESVAR_TARGET_EMULATOR qemu-ppc-static -L ${TESVAR_CROSS_SYSROOT}
    CACHE STRING "The user-mode emulator that runs this target's programs")
if(LKPSIM_HOST_LAUNCHER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LKPSIM_HOST_LAUNCHER} ${TESVAR_TARGET_EMULATOR})
endif()

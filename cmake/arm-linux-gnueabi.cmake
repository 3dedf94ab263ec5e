# Toolchain file for the ARM lane: the simulator's headless part, the program
# and the tests built for 32-bit ARMv5TE Linux (Debian's armel cross
# compiler) and run on an emulated PXA255 (qemu-arm). The program then runs
# its own ARM machine code, with 32-bit pointers and the real coprocessor
# instructions, against the simulated Pocket PC. Used by the `arm` preset.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)

find_program(CMAKE_C_COMPILER arm-linux-gnueabi-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++ REQUIRED)

# The C and C++ runtimes are the cross toolchain's, under
# /usr/arm-linux-gnueabi; GoogleTest is built from source in the lane itself
# (tests/CMakeLists.txt), so no library comes from Debian's armel archive.
# Header-only packages (nlohmann-json) and programs (llvm-rc, clang-format)
# are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The PXA255 is an XScale core: ARMv5TE, ARM code, no floating-point unit.
set(CMAKE_C_FLAGS_INIT "-march=armv5te -mtune=xscale -marm -mfloat-abi=soft")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -mtune=xscale -marm -mfloat-abi=soft")

# The C library's loader comes from the cross toolchain (qemu's -L below).
# The C library itself must come from the same build, but the loader would
# look it up in the machine's cache first and could find a multiarch
# libc6:armel that a machine has from elsewhere, another build (which
# crashes at the first thread): the programs name the toolchain's library
# directory first.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath,/usr/arm-linux-gnueabi/lib")

# Every ARM program the build runs, tests and build tools alike, runs on the
# emulated PXA255 with the cross toolchain's runtime libraries.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-cpu;pxa255;-L;/usr/arm-linux-gnueabi)

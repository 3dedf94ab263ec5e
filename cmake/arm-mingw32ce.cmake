# Toolchain file for building Corvane for a Pocket PC (Windows CE 3.0, ARM)
# with the open Windows CE toolchain, arm-mingw32ce (cegcc). Used with the
# device project in platform/wince:
#
#   cmake -S platform/wince -B build/device \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/arm-mingw32ce.cmake \
#         -DCORVANE_ICON_DIR=$PWD/build/dev/icons
#   cmake --build build/device
#
# CORVANE_CE_TOOLCHAIN names the toolchain's prefix directory when its
# bin/ is not on PATH (cegcc installs to /opt/mingw32ce).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CORVANE_CE_TRIPLE arm-mingw32ce)
set(CORVANE_CE_TOOLCHAIN "/opt/mingw32ce" CACHE PATH "Prefix of the arm-mingw32ce toolchain")

find_program(CMAKE_C_COMPILER ${CORVANE_CE_TRIPLE}-gcc HINTS ${CORVANE_CE_TOOLCHAIN}/bin REQUIRED)
find_program(CMAKE_CXX_COMPILER ${CORVANE_CE_TRIPLE}-g++ HINTS ${CORVANE_CE_TOOLCHAIN}/bin REQUIRED)
# The resource compiler for corvane.rc.
find_program(CMAKE_RC_COMPILER ${CORVANE_CE_TRIPLE}-windres HINTS ${CORVANE_CE_TOOLCHAIN}/bin
             REQUIRED)
find_program(CORVANE_CE_DLLTOOL ${CORVANE_CE_TRIPLE}-dlltool HINTS ${CORVANE_CE_TOOLCHAIN}/bin
             REQUIRED)

set(CMAKE_FIND_ROOT_PATH ${CORVANE_CE_TOOLCHAIN}/${CORVANE_CE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The PXA25x is an XScale core (ARMv5TE); the program keeps to what a
# Windows CE era compiler accepts.
set(CMAKE_CXX_FLAGS_INIT
    "-mcpu=xscale -marm -Os -fno-exceptions -fno-rtti -D_WIN32_WCE=0x300 -DUNDER_CE -DARM -D_ARM_")
set(CMAKE_RC_FLAGS_INIT "-D_WIN32_WCE=0x300 -DUNDER_CE")

# Cross-compiling the Windows programs with Debian's mingw-w64: the toolchain of
# ORVCARD_MINGW_TRIPLE, which the architecture's toolchain file sets before including this.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ORVCARD_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ORVCARD_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${ORVCARD_MINGW_TRIPLE}-windres)

# Libraries and headers come from the target's sysroot only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORVCARD_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

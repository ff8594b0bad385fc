# The Windows x64 programs, with Debian's mingw-w64 (x86_64-w64-mingw32).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORVCARD_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)

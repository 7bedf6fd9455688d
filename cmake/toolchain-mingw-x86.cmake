# Cross build for x86 Windows with Debian's MinGW-w64 (posix thread model),
# run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VESK_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VESK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VESK_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${VESK_MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${VESK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime (libgcc, libstdc++, winpthread) goes into each binary, so what
# we ship needs nothing beyond the system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)

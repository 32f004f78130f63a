# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix:
# the POSIX thread model, which std::thread needs). Programs are linked
# statically, so nothing is shipped beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELKOR_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELKOR_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELKOR_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELKOR_MINGW}-windres)
# The libraries scripts/windows-deps.sh built (VELKOR_WINDOWS_DEPS), then MinGW-w64's own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELKOR_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH ${VELKOR_WINDOWS_DEPS} /usr/${VELKOR_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test programs run under Wine (Debian's wine package gives the wine command).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

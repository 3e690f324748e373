# Cross build for 32-bit Windows with Debian's i686-w64-mingw32 compiler
# (package g++-mingw-w64-i686); tests run under Wine.
#
#   cmake -S . -B build-win32 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.toolchain.cmake
#
# The programs are linked statically, so that they import nothing beyond the
# DLLs every Windows system has (KERNEL32, msvcrt, ADVAPI32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_TRIPLE i686-w64-mingw32)
# The posix thread flavour: std::thread and std::mutex work in it, and its
# winpthreads runtime is linked in statically like the rest.
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# add_test() commands run their Windows programs under Wine, through a
# wrapper that keeps Wine quiet and off the display.
get_filename_component(MSGREPLAY_WINE_RUN
  "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MSGREPLAY_WINE_RUN})

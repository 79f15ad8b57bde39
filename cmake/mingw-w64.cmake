# Cross-compiling toolchain: 64-bit Windows binaries built on Linux with
# MinGW-w64 (posix thread model). Every binary links the GCC runtime,
# libstdc++ and winpthread statically, so the library and the programs
# import only DLLs that ship with Windows.
#
#   cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Test programs run through tools/wine-run (wine64 in the private prefix of
# the build folder), which ctest uses as the cross-compiling emulator.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${KEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KEL_MINGW_TRIPLE}-windres)
set(CMAKE_AR           ${KEL_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "archiver")
set(CMAKE_RANLIB       ${KEL_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "ranlib")

# Headers and libraries of the target come from the MinGW sysroot only;
# programs (python3, objdump, ...) come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(KEL_STATIC_RUNTIME "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${KEL_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KEL_STATIC_RUNTIME} -Wl,--enable-stdcall-fixup")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${KEL_STATIC_RUNTIME} -Wl,--enable-stdcall-fixup")

# ctest runs every Windows executable target through this wrapper.
get_filename_component(KEL_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${KEL_WINE_RUN}")

# Cross-builds Tovrel.exe for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64,
# libz-mingw-w64-dev). The exe is linked statically, so it is one file that needs no DLL beyond the
# system's own; ctest runs every test through Wine.
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVREL_MINGW_TRIPLET x86_64-w64-mingw32)
# the posix-thread compilers: the win32-thread ones lack the std::mutex GoogleTest needs
set(CMAKE_C_COMPILER ${TOVREL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVREL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVREL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVREL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# to GCC here a printf format attribute means msvcrt's printf, which lacks %zu; but C++ code gets
# MinGW's own C99 printf (libstdc++ turns on __USE_MINGW_ANSI_STDIO), which has it. The native build
# keeps checking the formats.
set(CMAKE_C_FLAGS_INIT "-Wno-format")
set(CMAKE_CXX_FLAGS_INIT "-Wno-format")

# one self-contained exe: libgcc, libstdc++, winpthread and zlib all linked in
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# lets ctest (and add_test commands) run the Windows binaries on this machine
find_program(TOVREL_WINE NAMES wine wine64 wine-stable)
if(TOVREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVREL_WINE})
endif()

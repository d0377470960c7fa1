# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix, whose POSIX thread model std::thread and friends need):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKORVEL_GUI=OFF
# The programs are linked statically, so that a bare Windows (or wine) runs them as they are.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(korvel_mingw x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${korvel_mingw}-gcc-posix ${korvel_mingw}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${korvel_mingw}-g++-posix ${korvel_mingw}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${korvel_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${korvel_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

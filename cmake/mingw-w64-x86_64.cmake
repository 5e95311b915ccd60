# Cross-build for Windows x64 with Debian's mingw-w64. The -posix compilers by name: the -win32
# ones have no std::thread or std::mutex, and installing them switches the default alternative.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELTRANE_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VELTRANE_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRANE_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRANE_MINGW}-windres)
set(CMAKE_AR ${VELTRANE_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${VELTRANE_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VELTRANE_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables and DLLs carry their C and C++ runtimes: nothing of mingw ships beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The Windows build: GoogleTest from Debian's sources, and the test programs run under Wine in a
# prefix of its own (scripts/wine-run.sh creates it on first use).
set(VELTRANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${VELTRANE_WINEPREFIX})

set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# printf's %zu and %lld as C99 has them, not as msvcrt lacks them. 64-bit file offsets
# (off_t, fseeko, ftello), as on Linux: mingw's default is 32 bits, and map files pass 2 GiB.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1 _WIN32_WINNT=0x0A00 _FILE_OFFSET_BITS=64)

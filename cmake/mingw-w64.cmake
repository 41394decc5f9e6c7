# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 GCC in its "-posix" flavour (the one
# whose C++ library has std::thread and std::mutex). Executables are linked statically, so that
# tarvik.exe and the test programs import system DLLs only, and tests run under Wine through
# tools/wine-run.sh, which keeps Wine's prefix and home in the build folder.
# The libraries built by tools/windows-deps.sh are found in <build folder>/deps/prefix, or in
# TARVIK_WINDOWS_PREFIX when that is set in the environment.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw}-windres)

if(DEFINED ENV{TARVIK_WINDOWS_PREFIX})
  set(TARVIK_WINDOWS_PREFIX $ENV{TARVIK_WINDOWS_PREFIX})
else()
  set(TARVIK_WINDOWS_PREFIX ${CMAKE_BINARY_DIR}/deps/prefix)
endif()
# Checks that compile small programs run in their own folders: they read the prefix from the
# environment rather than from their own binary folder.
set(ENV{TARVIK_WINDOWS_PREFIX} ${TARVIK_WINDOWS_PREFIX})

set(CMAKE_FIND_ROOT_PATH /usr/${mingw} ${TARVIK_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not offer the Linux packages' flags.
set(ENV{PKG_CONFIG_LIBDIR} ${TARVIK_WINDOWS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)

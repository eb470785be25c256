# Cross build for 64-bit Windows with Debian's MinGW-w64, run under Wine.
#
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/MinGW-w64-x86_64.cmake \
#         -DVELMORA_WINDOWS_DEPS="$(scripts/windows-deps)"
#
# VELMORA_WINDOWS_DEPS is the prefix of the static libraries scripts/windows-deps builds; it is
# searched beside the MinGW-w64 system root and nothing of the Linux system is.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELMORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(VELMORA_MINGW_ROOT /usr/${VELMORA_MINGW_TRIPLE})
# Only the -posix flavour has std::thread and std::mutex (on winpthreads).
set(CMAKE_C_COMPILER ${VELMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_TRIPLE}-windres)

# try_compile projects read this file again but not the cache: pass the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMORA_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH ${VELMORA_MINGW_ROOT})
if(VELMORA_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VELMORA_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees the same two places and never the build machine's .pc files.
set(ENV{PKG_CONFIG_LIBDIR}
    "${VELMORA_WINDOWS_DEPS}/lib/pkgconfig:${VELMORA_MINGW_ROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Everything static: an exe that needs libstdc++, libgcc or libwinpthread DLLs that are not
# beside it does not start (Wine reports exit status 53). The zlib package ships an import
# library too, which would otherwise win.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)
set(ZLIB_USE_STATIC_LIBS ON)

# ctest, gtest_discover_tests and try_run start the exes through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)

# Cross build for Windows with Debian's MinGW-w64, run under Wine; included by
# cmake/MinGW-w64-x86_64.cmake (64-bit) and cmake/MinGW-w64-i686.cmake (32-bit), which set
# CMAKE_SYSTEM_PROCESSOR and VELMORA_MINGW_TRIPLE:
#
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/MinGW-w64-x86_64.cmake \
#         -DVELMORA_WINDOWS_DEPS="$(scripts/windows-deps x64)"
#
# VELMORA_WINDOWS_DEPS is the prefix of the static libraries scripts/windows-deps builds; it is
# searched beside the MinGW-w64 system root and nothing of the Linux system is.
set(CMAKE_SYSTEM_NAME Windows)

set(VELMORA_MINGW_ROOT /usr/${VELMORA_MINGW_TRIPLE})
# Only the -posix flavour has std::thread and std::mutex (on winpthreads).
set(CMAKE_C_COMPILER ${VELMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_TRIPLE}-windres)

# Windows 7 SP1 is the oldest Windows we run on, for our code and every library built with this
# file (scripts/windows-deps reads the line below for what it compiles without CMake): the
# headers then declare nothing newer, and what is newer is looked up at run time. The linker
# marks the programs for Windows 7 too (6.1; a higher subsystem version is refused by its
# loader).
set(VELMORA_WINDOWS_FLOOR "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_C_FLAGS_INIT "${VELMORA_WINDOWS_FLOOR}")
set(CMAKE_CXX_FLAGS_INIT "${VELMORA_WINDOWS_FLOOR}")

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
# beside it does not start (Wine reports exit status 53), and zlib1.dll is not part of Windows
# (Wine has one of its own, so only scripts/check-windows-imports notices). The zlib package
# ships an import library, which the linker would otherwise prefer: zlib is named by its
# archive, for CMake's FindZLIB and for -lz alike.
set(velmora_windows_link
    "-static -Wl,--major-subsystem-version,6,--minor-subsystem-version,1,--major-os-version,6,--minor-os-version,1")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${velmora_windows_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${velmora_windows_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${velmora_windows_link}")
set(ZLIB_USE_STATIC_LIBS ON)

# ctest, gtest_discover_tests and try_run start the exes through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)

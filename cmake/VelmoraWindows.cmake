# The Windows cross build: MinGW-w64 (cmake/MinGW-w64.cmake), the static libraries of
# scripts/windows-deps, tests under Wine (cmake/wine-run).
if(NOT VELMORA_WINDOWS_DEPS)
  message(FATAL_ERROR "The Windows build needs -DVELMORA_WINDOWS_DEPS=PREFIX, the prefix "
                      "that scripts/windows-deps prints (scripts/test-windows passes it).")
endif()

# <windows.h> arrives through curl.h and others; unchecked it defines min and max and renames
# names of ours that are also Win32 functions (FindText, from the common dialogs). Our code
# calls the wide functions only, so the plain names mean those.
target_compile_definitions(velmora_flags INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)

# Archives only: an import library found for a name (libz.dll.a for pkg-config's -lz) would make
# the program need a DLL that Windows does not have.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# The architecture built for, as the packages name it and as a manifest does.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VELMORA_WINDOWS_ARCH x64)
  set(VELMORA_MANIFEST_ARCHITECTURE amd64)
else()
  set(VELMORA_WINDOWS_ARCH x86)
  set(VELMORA_MANIFEST_ARCHITECTURE x86)
endif()

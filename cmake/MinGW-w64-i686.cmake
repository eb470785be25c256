# Cross build for 32-bit Windows (cmake/MinGW-w64.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELMORA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW-w64.cmake)

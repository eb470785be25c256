# Compiler settings shared by every target of ours, in one place.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

set(VELMORA_SANITIZE "" CACHE STRING
    "Sanitizers for every target, comma-separated: address,undefined or thread")

add_library(velmora_flags INTERFACE)
target_compile_options(velmora_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference -Wformat=2
  -Werror)
if(WIN32)
  # windows.h, which libcurl's header brings in, would otherwise define macros over names of
  # ours (FindText) and the standard library's (min, max).
  target_compile_definitions(velmora_flags INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX)
endif()

if(VELMORA_SANITIZE)
  if(VELMORA_SANITIZE MATCHES "thread" AND VELMORA_SANITIZE MATCHES "address")
    message(FATAL_ERROR "thread and address sanitizers cannot be combined")
  endif()
  # Applied globally so that every object, tests and tools included, is instrumented.
  add_compile_options(-fsanitize=${VELMORA_SANITIZE} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VELMORA_SANITIZE})
endif()

option(VELMORA_FUZZ "Build the libFuzzer targets (clang only); every object is instrumented" OFF)
if(VELMORA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELMORA_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Every test's journal, unless the test names its own: never the user's.
function(velmora_test_journal name out)
  set(${out} "VELMORA_JOURNAL=${CMAKE_CURRENT_BINARY_DIR}/${name}-journal/journal.sqlite3"
      PARENT_SCOPE)
endfunction()

# velmora_add_test(NAME SOURCES... [LIBS ...] [LABELS ...] [RESOURCE_LOCK ...]): one GoogleTest
# binary, registered with CTest; its cases never run at the same time as another test holding
# one of the RESOURCE_LOCK names. Its main is tests/TestMain.cpp, which also runs the child
# modes a test may start it in.
include(GoogleTest)
function(velmora_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  velmora_use_layers(${name} velmora_test_main ${ARG_LIBS})
  velmora_test_journal(${name} journal)
  if(CMAKE_CROSSCOMPILING)
    # Under the emulator (Wine) every process starts slower; the list is taken when ctest
    # runs, where the test stage keeps one wineserver alive, not at build time.
    set(properties TIMEOUT 900 ENVIRONMENT "${journal}")
    set(discovery DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300)
  else()
    set(properties TIMEOUT 300 ENVIRONMENT "${journal}")
    set(discovery DISCOVERY_TIMEOUT 60)
  endif()
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  gtest_discover_tests(${name} ${discovery} PROPERTIES ${properties})
endfunction()

# velmora_add_bench(NAME SOURCES... [LIBS ...]): one Google Benchmark binary (never a test).
function(velmora_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  velmora_use_layers(${name} benchmark::benchmark ${ARG_LIBS})
endfunction()

# velmora_add_qt_test(NAME SOURCES... [LIBS ...] [LABELS ...]): one Qt Test binary, registered
# with CTest, run on the offscreen platform so that it needs no display.
function(velmora_add_qt_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  velmora_use_layers(${name} Qt6::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  velmora_test_journal(${name} journal)
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${journal}")
endfunction()

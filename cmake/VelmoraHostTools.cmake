# Tools that the build runs on the machine that builds, such as table generators.
#
# A native build makes them like any program of ours. A cross build cannot run what its
# compiler makes, so it compiles them with VELMORA_HOST_CXX, one custom command per source (each
# with its own dependency file, so that an edited header remakes them) and one to link.

set(VELMORA_HOST_CXX "c++" CACHE STRING
    "C++20 compiler for the build machine, which makes the tools a cross build runs as it builds")

# velmora_host_tool(NAME SOURCES... [LAYERS FOLDER...] [OUT VARIABLE]): the tool NAME from
# SOURCES (relative to the current folder), seeing the headers of the LAYERS folders. VARIABLE
# receives what a custom command names as COMMAND and in DEPENDS to run it.
function(velmora_host_tool name)
  cmake_parse_arguments(ARG "" "OUT" "SOURCES;LAYERS" ${ARGN})
  set(includes "")
  foreach(folder IN LISTS ARG_LAYERS)
    velmora_view_of(${folder} view)
    list(APPEND includes "${view}")
  endforeach()

  if(NOT CMAKE_CROSSCOMPILING)
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${includes})
    target_link_libraries(${name} PRIVATE velmora_flags)
    set(${ARG_OUT} ${name} PARENT_SCOPE)
    return()
  endif()

  get_target_property(warnings velmora_flags INTERFACE_COMPILE_OPTIONS)
  list(TRANSFORM includes PREPEND "-I")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${name}.host")
  set(objects "")
  foreach(source IN LISTS ARG_SOURCES)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
               OUTPUT_VARIABLE path)
    cmake_path(GET source STEM stem)
    set(object "${dir}/${stem}.o")
    add_custom_command(OUTPUT "${object}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${dir}"
      COMMAND ${VELMORA_HOST_CXX} -std=c++20 -O2 ${warnings} ${includes}
              -MD -MF "${object}.d" -c "${path}" -o "${object}"
      DEPENDS "${path}"
      DEPFILE "${object}.d"
      COMMENT "Compiling ${source} for the build machine"
      VERBATIM)
    list(APPEND objects "${object}")
  endforeach()
  set(tool "${dir}/${name}")
  add_custom_command(OUTPUT "${tool}"
    COMMAND ${VELMORA_HOST_CXX} ${objects} -o "${tool}"
    DEPENDS ${objects}
    COMMENT "Linking ${name} for the build machine"
    VERBATIM)
  set(${ARG_OUT} "${tool}" PARENT_SCOPE)
endfunction()

# The layering of the source tree, kept by the compiler.
#
# Every folder of ours is included as "folder/File.h". Nothing puts the source root on an include
# path; instead each layer has a view: a directory in the build tree holding one link, named
# like the folder, to the folder. A layer's include path holds its own view and those of the
# layers it links, so an include of any other folder is "No such file" at compile time.

option(VELMORA_CHECK_HEADERS "Compile every header of a layer on its own, in the layer" ON)

# velmora_view_of(FOLDER OUT): the view of FOLDER, made at configure time.
function(velmora_view_of folder out)
  set(view "${PROJECT_BINARY_DIR}/views/${folder}")
  file(MAKE_DIRECTORY "${view}")
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${view}/${folder}" SYMBOLIC)
  set(${out} "${view}" PARENT_SCOPE)
endfunction()

# velmora_layer(FOLDER [TARGET NAME] [PUBLIC LAYER...] [PRIVATE LAYER...]): FOLDER becomes the
# static library velmora_FOLDER (or NAME) and its CMakeLists.txt is read, which adds the
# sources and what outside the project the layer needs. PUBLIC: the layers its headers include,
# which its users then see too; PRIVATE: the layers only its sources include.
function(velmora_layer folder)
  cmake_parse_arguments(ARG "" "TARGET" "PUBLIC;PRIVATE" ${ARGN})
  set(target "velmora_${folder}")
  if(ARG_TARGET)
    set(target "${ARG_TARGET}")
  endif()
  list(TRANSFORM ARG_PUBLIC PREPEND velmora_)
  list(TRANSFORM ARG_PRIVATE PREPEND velmora_)

  velmora_view_of(${folder} view)
  add_library(${target} STATIC)
  target_include_directories(${target} PUBLIC "${view}")
  target_link_libraries(${target}
    PUBLIC Threads::Threads ${ARG_PUBLIC}
    PRIVATE velmora_flags ${ARG_PRIVATE})
  add_subdirectory(${folder})

  # A header is compiled in its layer even when only other layers include it, so that an
  # include climbing out of the layer fails wherever it stands. Re-globbed at every build.
  if(VELMORA_CHECK_HEADERS)
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE "${PROJECT_SOURCE_DIR}"
         "${PROJECT_SOURCE_DIR}/${folder}/*.h")
    foreach(header IN LISTS headers)
      set(check "${PROJECT_BINARY_DIR}/header-checks/${header}.cpp")
      file(CONFIGURE OUTPUT "${check}" CONTENT "#include \"${header}\"\n")
      target_sources(${target} PRIVATE "${check}")
    endforeach()
  endif()
endfunction()

# velmora_use_layers(TARGET LIBRARY...): a test or benchmark that links the libraries and sees
# their layers' headers and those of tests/.
function(velmora_use_layers name)
  velmora_view_of(tests view)
  target_include_directories(${name} PRIVATE "${view}")
  target_link_libraries(${name} PRIVATE velmora_flags ${ARGN})
endfunction()

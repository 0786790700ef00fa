# The library's layers. Each is a static library whose include path holds its own folder and
# nothing else of ours: a layer sees another layer's headers only through a layer it declares,
# so reaching into any other fails to compile. The include path of a target is a folder of
# links made when the build is configured: layers/<target>/<path> -> <source>/<path>.
#
# Natively each layer is also linked on its own, with everything it declares and with nothing
# left undefined (kestrune_<layer>_alone), so that a call into an undeclared layer fails to build
# even where no header shows it.

# kestrune_expose(TARGET SCOPE PATH): PATH (a folder or one header, relative to the source root)
# becomes includable as "PATH/..." or "PATH" by TARGET (PRIVATE), by what links it (INTERFACE),
# or both (PUBLIC).
function(kestrune_expose target scope path)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${path} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${root}/${path})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${path} ${root}/${path} RESULT failed SYMBOLIC)
    if(NOT failed STREQUAL "0")
      # Windows without the right to make links: the build still works, unguarded.
      message(WARNING "The layers' headers are not kept apart in this build: ${failed}")
      target_include_directories(${target} ${scope} ${PROJECT_SOURCE_DIR})
      return()
    endif()
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# kestrune_layer(NAME SOURCES file... [USES target...]): the layer kestrune_NAME from the
# sources of the folder NAME, using the targets named.
function(kestrune_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;USES")
  set(target kestrune_${name})
  list(TRANSFORM arg_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/${name}/)
  add_library(${target} STATIC ${arg_SOURCES})
  kestrune_expose(${target} PUBLIC ${name})
  target_link_libraries(${target} PUBLIC ${arg_USES} PRIVATE kestrune_warnings)
  # The fuzzers build every layer's sources again, instrumented.
  set_property(GLOBAL APPEND PROPERTY KESTRUNE_LAYER_SOURCES ${arg_SOURCES})

  if(NOT WIN32)
    set(empty ${CMAKE_BINARY_DIR}/layers/alone.cpp)
    if(NOT EXISTS ${empty})
      file(WRITE ${empty} "// A layer linked on its own has no code of its own.\n")
    endif()
    add_library(${target}_alone MODULE ${empty})
    target_link_libraries(${target}_alone PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${target}>")
    target_link_options(${target}_alone PRIVATE -Wl,--no-undefined)
    set_target_properties(${target}_alone PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/layers)
  endif()
endfunction()

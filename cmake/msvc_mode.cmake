# Freestanding MSVC-mode binaries, built inside the mingw-configured Windows build.
#
# The machines and hosts that users have are MSVC-built 32-bit programs. There is no MSVC here,
# but clang imitates its ABI (--target=i686-pc-windows-msvc): the one-slot scalar deleting
# destructor, thiscall members, MSVC's name mangling and its exception code. These functions
# compile sources that way and link them with lld-link against no C runtime at all; the sources
# bring their own operator new and delete over kernel32's heap (tests/windows/msvc/runtime.cpp)
# and call kernel32 through an import library made with llvm-dlltool from a small .def.
#
# Everything runs through add_custom_command, since the build's own compiler is mingw g++.
#
#   kestrune_msvc_import_library(NAME DEF def_file)
#       makes ${KESTRUNE_MSVC_DIR}/NAME.lib
#   kestrune_msvc_binary(NAME DLL|EXE SOURCES ... [THROWING_SOURCES ...] [DEFINITIONS ...]
#                        [LIBRARIES lib ...] [OUTPUT_DIRECTORY dir] [ENTRY symbol])
#       makes dir/NAME.dll or dir/NAME.exe and a target NAME (built by default). The
#       THROWING_SOURCES are compiled with C++ exceptions on, the way MSVC code throws (they
#       need tests/windows/msvc/cxx_throw.cpp among the sources). The output path is the
#       target's property KESTRUNE_MSVC_FILE, its objects KESTRUNE_MSVC_OBJECTS.

include_guard(GLOBAL)

find_program(KESTRUNE_MSVC_CLANG NAMES clang clang-14)
find_program(KESTRUNE_LLD_LINK NAMES lld-link lld-link-14)
find_program(KESTRUNE_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
foreach(tool IN ITEMS KESTRUNE_MSVC_CLANG KESTRUNE_LLD_LINK KESTRUNE_LLVM_DLLTOOL)
  if(NOT ${tool})
    message(FATAL_ERROR "MSVC-mode test binaries need clang, lld-link and llvm-dlltool "
                        "(scripts/setup installs them): ${tool} not found")
  endif()
endforeach()

set(KESTRUNE_MSVC_DIR ${CMAKE_BINARY_DIR}/msvc)

# The same warnings as kestrune_warnings, as errors; no exceptions, no RTTI, no library. The
# floating-point settings match the rest of the 32-bit build.
set(KESTRUNE_MSVC_COMPILE_FLAGS
  --target=i686-pc-windows-msvc -std=c++17 -O2
  -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-stack-protector
  -msse2 -mfpmath=sse
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-qual
  -Wformat=2 -Wundef -Werror
  -I${PROJECT_SOURCE_DIR})

function(kestrune_msvc_import_library name)
  cmake_parse_arguments(ARG "" "DEF" "" ${ARGN})
  set(lib ${KESTRUNE_MSVC_DIR}/${name}.lib)
  # -k: the symbols keep their stdcall @N, the imported names lose it, as in Windows' own
  # import libraries (a name imported with @N is one that the system DLL doesn't have).
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTRUNE_MSVC_DIR}
    COMMAND ${KESTRUNE_LLVM_DLLTOOL} -k -m i386 -d ${ARG_DEF} -l ${lib}
    DEPENDS ${ARG_DEF}
    COMMENT "MSVC-mode import library ${name}.lib"
    VERBATIM)
  add_custom_target(${name}_msvc_import DEPENDS ${lib})
  set_property(GLOBAL PROPERTY KESTRUNE_MSVC_IMPORT_${name} ${lib})
endfunction()

function(kestrune_msvc_binary name kind)
  cmake_parse_arguments(ARG "" "OUTPUT_DIRECTORY;ENTRY"
                        "SOURCES;THROWING_SOURCES;DEFINITIONS;LIBRARIES" ${ARGN})
  if(NOT kind MATCHES "^(DLL|EXE)$")
    message(FATAL_ERROR "kestrune_msvc_binary(${name}): kind must be DLL or EXE")
  endif()
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
  set(object_dir ${KESTRUNE_MSVC_DIR}/${name})
  set(definitions)
  foreach(definition IN LISTS ARG_DEFINITIONS)
    list(APPEND definitions -D${definition})
  endforeach()

  set(objects)
  foreach(source IN LISTS ARG_THROWING_SOURCES ARG_SOURCES)
    set(options)
    if(source IN_LIST ARG_THROWING_SOURCES)
      set(options -fexceptions -fcxx-exceptions)
    endif()
    get_filename_component(source ${source} ABSOLUTE)
    get_filename_component(stem ${source} NAME_WE)
    set(object ${object_dir}/${stem}.obj)
    add_custom_command(OUTPUT ${object}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${object_dir}
      COMMAND ${KESTRUNE_MSVC_CLANG} ${KESTRUNE_MSVC_COMPILE_FLAGS} ${definitions} ${options}
              -MD -MF ${object}.d -MT ${object} -c ${source} -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "MSVC mode: ${name}/${stem}.obj"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()

  set(libraries)
  set(library_targets)
  foreach(library IN LISTS ARG_LIBRARIES)
    get_property(lib GLOBAL PROPERTY KESTRUNE_MSVC_IMPORT_${library})
    if(NOT lib)
      message(FATAL_ERROR "kestrune_msvc_binary(${name}): no import library ${library}")
    endif()
    list(APPEND libraries ${lib})
    list(APPEND library_targets ${library}_msvc_import)
  endforeach()

  if(kind STREQUAL "DLL")
    set(output ${ARG_OUTPUT_DIRECTORY}/${name}.dll)
    # The import library and export file that lld-link makes for a DLL stay with the objects.
    set(link_kind /dll /implib:${object_dir}/${name}.lib)
    if(ARG_ENTRY)
      list(APPEND link_kind /entry:${ARG_ENTRY})
    else()
      list(APPEND link_kind /noentry)
    endif()
  else()
    set(output ${ARG_OUTPUT_DIRECTORY}/${name}.exe)
    if(NOT ARG_ENTRY)
      message(FATAL_ERROR "kestrune_msvc_binary(${name}): an EXE needs an ENTRY")
    endif()
    set(link_kind /subsystem:console /entry:${ARG_ENTRY} /implib:${object_dir}/${name}.lib)
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ARG_OUTPUT_DIRECTORY}
    COMMAND ${KESTRUNE_LLD_LINK} /nologo /machine:x86 /nodefaultlib ${link_kind}
            /out:${output} ${objects} ${libraries}
    DEPENDS ${objects} ${libraries}
    COMMENT "MSVC mode: linking ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${output})
  if(library_targets)
    add_dependencies(${name} ${library_targets})
  endif()
  set_target_properties(${name} PROPERTIES
    KESTRUNE_MSVC_FILE ${output}
    KESTRUNE_MSVC_OBJECTS "${objects}")
endfunction()

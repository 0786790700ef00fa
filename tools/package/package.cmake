# The download for musicians, from the Windows build: "cpack" there makes
# kestrune-<version>-win32.zip, holding kestrune.dll, kestrune-bridge.exe (which runs a machine
# in a process of its own), kestrune-host.exe, the demo machines in Gear/Psycle and a plain-text
# guide.
if(NOT WIN32 OR NOT TARGET kestrune-host)
  return()
endif()

# The package's files are laid out in package/stage when the binaries are built, without their
# debugging information; cpack only zips that folder. So it needs neither the build tool nor
# mingw's strip, and runs wherever cmake does (the tests run it inside the Wine VM).
set(stage ${CMAKE_BINARY_DIR}/package/stage)
set(stamps ${CMAKE_BINARY_DIR}/package/stamps)
set(staged)
foreach(target IN ITEMS kestrune kestrune-bridge kestrune-host kestrune-demo-synth
                        kestrune-demo-delay)
  set(folder "")
  if(target MATCHES "^kestrune-demo-")
    set(folder Gear/Psycle/)
  endif()
  set(file ${stage}/${folder}$<TARGET_FILE_NAME:${target}>)
  add_custom_command(OUTPUT ${stamps}/${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/${folder} ${stamps}
    COMMAND ${CMAKE_STRIP} --strip-debug -o ${file} $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E touch ${stamps}/${target}
    DEPENDS ${target} $<TARGET_FILE:${target}>
    VERBATIM)
  list(APPEND staged ${stamps}/${target})
endforeach()
add_custom_target(kestrune_package_files ALL DEPENDS ${staged})

# The guide with Windows line ends, for Notepad of any age.
configure_file(${CMAKE_CURRENT_LIST_DIR}/guide.txt ${stage}/Kestrune.txt @ONLY NEWLINE_STYLE CRLF)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kestrune)
set(CPACK_PACKAGE_FILE_NAME kestrune-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALLED_DIRECTORIES ${stage} .)
include(CPack)

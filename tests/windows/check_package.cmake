# Checks the layout of the download, as cpack made it:
#   cmake -DZIP=kestrune-X-win32.zip -DTOP=kestrune-X-win32 -P check_package.cmake
# It holds exactly the library, the bridge program, the host program, the guide and the demo
# machines in Gear/Psycle, all in one folder named like the ZIP, and none of them empty.
cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS "${ZIP}")
  message(FATAL_ERROR "There is no package ${ZIP}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP} OUTPUT_VARIABLE listing
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Can't list ${ZIP}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "(^$|/$)") # folders come as names ending in /
list(SORT entries)
set(expected Gear/Psycle/kestrune-demo-delay.dll Gear/Psycle/kestrune-demo-synth.dll
    Kestrune.txt kestrune-bridge.exe kestrune-host.exe kestrune.dll)
list(TRANSFORM expected PREPEND ${TOP}/)
list(SORT expected)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds\n  ${entries}\nnot\n  ${expected}")
endif()

# Unpacked, every file has content, and the guide says where kestrune.dll goes.
set(unpacked ${CMAKE_CURRENT_BINARY_DIR}/package_check)
file(REMOVE_RECURSE ${unpacked})
file(MAKE_DIRECTORY ${unpacked})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${unpacked}
                RESULT_VARIABLE status)
foreach(entry IN LISTS expected)
  file(SIZE ${unpacked}/${entry} size)
  if(NOT status EQUAL 0 OR size EQUAL 0)
    message(FATAL_ERROR "${entry} is empty or didn't unpack")
  endif()
endforeach()
file(READ ${unpacked}/${TOP}/Kestrune.txt guide)
if(NOT guide MATCHES "buzz2zzub\\.dll" OR NOT guide MATCHES "Faulted:" OR
   NOT guide MATCHES "kestrune-bridge\\.exe")
  message(FATAL_ERROR "The guide doesn't say where kestrune.dll and kestrune-bridge.exe go, "
                      "or what Faulted means")
endif()
file(REMOVE_RECURSE ${unpacked})
message(STATUS "${ZIP}: ${entries}")

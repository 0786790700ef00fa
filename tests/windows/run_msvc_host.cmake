# Runs the MSVC-mode host in a folder laid out as a user's host folder:
#   FOLDER/msvc_host.exe, FOLDER/kestrune.dll, FOLDER/Gear/Psycle/<machine>.dll
# and, when LIBGCC is given, FOLDER/libgcc_s_dw2-1.dll. The folder is made anew each run.
#   cmake -DEMULATOR=wine -DHOST=... -DLIBRARY=... -DMACHINE=... -DFOLDER=... [-DLIBGCC=...]
#         -DARGUMENTS="drive;m.dll;delete" -P run_msvc_host.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${FOLDER})
file(MAKE_DIRECTORY ${FOLDER}/Gear/Psycle)
file(COPY ${HOST} ${LIBRARY} DESTINATION ${FOLDER})
file(COPY ${MACHINE} DESTINATION ${FOLDER}/Gear/Psycle)
if(LIBGCC)
  file(COPY ${LIBGCC} DESTINATION ${FOLDER})
endif()
get_filename_component(host_name ${HOST} NAME)

# The machines show a message box from start_up. Without a display Wine answers it at once; with
# one it would wait for a click.
unset(ENV{DISPLAY})
unset(ENV{WAYLAND_DISPLAY})

# Output into files, not pipes: the first message box makes Wine start its explorer.exe, which
# inherits the host's standard handles and outlives it, so a pipe would stay open.
execute_process(COMMAND ${EMULATOR} ${FOLDER}/${host_name} ${ARGUMENTS}
  WORKING_DIRECTORY ${FOLDER}
  RESULT_VARIABLE status
  OUTPUT_FILE ${FOLDER}/output.txt
  ERROR_FILE ${FOLDER}/errors.txt
  TIMEOUT 100)
file(READ ${FOLDER}/output.txt output)
file(READ ${FOLDER}/errors.txt errors)
string(REPLACE "\r" "" output "${output}")
message("${output}")
if(errors)
  message("stderr:\n${errors}")
endif()
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "msvc_host ${ARGUMENTS} ended with ${status}")
endif()
if(NOT output MATCHES "checks passed, 0 failed")
  message(FATAL_ERROR "msvc_host ${ARGUMENTS} did not finish its checks")
endif()

# Checks a PE file's hygiene from the build machine, with objdump -p:
#   cmake -DOBJDUMP=... -DFILE=x.dll -DIMPORTS=A.dll,B.dll -DEXPORTS=f,g [-DKIND=EXE]
#       -P check_pe.cmake
# - PE32 for i386, a DLL unless KIND is EXE;
# - every imported DLL is one of IMPORTS (compared without regard to case, as Windows does);
#   in particular none of mingw's shared runtime DLLs (libgcc, libstdc++, winpthread);
# - the export table holds exactly EXPORTS, by plain undecorated name, and nothing by ordinal
#   alone.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" IMPORTS "${IMPORTS}")
string(REPLACE "," ";" EXPORTS "${EXPORTS}")

set(problems)
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed (${status})")
endif()

if(NOT dump MATCHES "file format pei-i386")
  list(APPEND problems "not an i386 PE file")
endif()
if(NOT dump MATCHES "Magic[ \t]+010b")
  list(APPEND problems "not PE32 (optional header magic 010b)")
endif()
string(REGEX MATCH "Characteristics 0x[0-9a-fA-F]+[^\n]*\n(\t[^\n]*\n)*" characteristics "${dump}")
if(KIND STREQUAL "EXE")
  if(characteristics MATCHES "\tDLL\n")
    list(APPEND problems "marked as a DLL")
  endif()
elseif(NOT characteristics MATCHES "\tDLL\n")
  list(APPEND problems "not marked as a DLL")
endif()

# Imports.
string(TOLOWER "${IMPORTS}" allowed)
string(REGEX MATCHALL "DLL Name: [^\n]+" import_lines "${dump}")
set(imports)
foreach(entry IN LISTS import_lines)
  string(REGEX REPLACE "^DLL Name: " "" name "${entry}")
  string(STRIP "${name}" name)
  list(APPEND imports ${name})
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST allowed)
    list(APPEND problems "imports ${name}")
  endif()
  if(lower MATCHES "libgcc|libstdc|winpthread")
    list(APPEND problems "depends on mingw's shared runtime ${name}")
  endif()
endforeach()

# Exports: the names of the [Ordinal/Name Pointer] table, and the entries of the address table
# (lld-link leaves an empty entry 0, which objdump doesn't list).
set(exports)
set(address_count 0)
set(part "")
string(REPLACE ";" "," lines "${dump}")
string(REPLACE "\n" ";" lines "${lines}")
foreach(entry IN LISTS lines)
  if(entry MATCHES "^Export Address Table -- ")
    set(part addresses)
  elseif(entry MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(part names)
  elseif(NOT entry MATCHES "^\t\\[")
    set(part "")
  elseif(part STREQUAL "addresses")
    math(EXPR address_count "${address_count} + 1")
  elseif(part STREQUAL "names" AND entry MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    set(name "${CMAKE_MATCH_1}")
    list(APPEND exports ${name})
    if(name MATCHES "[@?]" OR name MATCHES "^_")
      list(APPEND problems "export ${name} is decorated")
    endif()
  endif()
endforeach()
set(expected ${EXPORTS})
list(SORT expected)
list(SORT exports)
if(NOT "${exports}" STREQUAL "${expected}") # quoted: either may be empty
  list(APPEND problems "exports [${exports}], expected exactly [${expected}]")
endif()
list(LENGTH expected expected_count)
if(NOT address_count EQUAL expected_count)
  list(APPEND problems "${address_count} exported addresses for ${expected_count} names")
endif()

# With REPORT set, the verdict goes into that file instead (for a test that runs where the tools
# are not), and the script itself always succeeds.
include(${CMAKE_CURRENT_LIST_DIR}/report.cmake)
finish_check("${FILE}: imports [${imports}], exports [${exports}]" "${problems}")

# The test side of a static check made at build time: cmake -DREPORT=file -P show_report.cmake
# prints the report and fails unless it says "ok".
cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS ${REPORT})
  message(FATAL_ERROR "no report ${REPORT}: the check did not run at build time")
endif()
file(READ ${REPORT} report)
message("${report}")
if(NOT report MATCHES "^ok\n")
  message(FATAL_ERROR "check failed")
endif()

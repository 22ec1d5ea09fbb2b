# Writes zelvorn(1), gzipped, from zelvorn.1.in with what `zelvorn --help` prints as its
# synopsis, so that the manual never disagrees with the program about its commands and options.
# Run by the build: cmake -DZELVORN=<executable> -DPROJECT_VERSION=<version> -DTEMPLATE=<zelvorn.1.in>
#   -DOUTPUT=<zelvorn.1> -P ManPage.cmake
execute_process(COMMAND ${ZELVORN} --help OUTPUT_VARIABLE SYNOPSIS RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${ZELVORN} --help failed: ${status}")
endif()
string(REGEX REPLACE "^usage: " "" SYNOPSIS "${SYNOPSIS}")
# The continuation lines lose the indent that lined them up behind "usage: ".
string(REGEX REPLACE "\n       " "\n" SYNOPSIS "${SYNOPSIS}")
string(REPLACE "\\" "\\e" SYNOPSIS "${SYNOPSIS}")
string(REPLACE "-" "\\-" SYNOPSIS "${SYNOPSIS}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
execute_process(COMMAND gzip -9nf ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${OUTPUT} failed: ${status}")
endif()

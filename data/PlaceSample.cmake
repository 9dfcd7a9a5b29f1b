# Copies one sample table (SAMPLE.dbf and SAMPLE.dbt) to TARGET.dbf and
# TARGET.dbt, unless a table of that name is there that the build did not
# put there: then both are left as they are, with a warning.
#
# usage: cmake -DSAMPLE=build/sample/pc -DTARGET=build/bin/pc -P PlaceSample.cmake
#
# SAMPLE.placed records the SHA-256 of each file as last copied. A file at
# the target counts as the build's own when it matches that record (the
# sample of an earlier build, untouched since) or the sample about to be
# copied; anything else was written by somebody else. The record is written
# (or touched) every time, so that the build runs this again only when the
# sample changes.
cmake_minimum_required(VERSION 3.21)
if(NOT SAMPLE OR NOT TARGET)
  message(FATAL_ERROR "usage: cmake -DSAMPLE=... -DTARGET=... -P PlaceSample.cmake")
endif()
set(_record "${SAMPLE}.placed")
set(_placed "")
if(EXISTS "${_record}")
  file(STRINGS "${_record}" _placed)
endif()

set(_ours TRUE)
foreach(ext IN ITEMS dbf dbt)
  if(EXISTS "${TARGET}.${ext}")
    file(SHA256 "${TARGET}.${ext}" _there)
    file(SHA256 "${SAMPLE}.${ext}" _new)
    list(FIND _placed "${ext} ${_there}" _known)
    if(NOT _there STREQUAL _new AND _known EQUAL -1)
      set(_ours FALSE)
    endif()
  endif()
endforeach()

if(NOT _ours)
  message(WARNING "${TARGET}.dbf and ${TARGET}.dbt were not written by the build: "
                  "they are left as they are. The sample table is ${SAMPLE}.dbf.")
  file(TOUCH "${_record}")
  return()
endif()

set(_lines "")
foreach(ext IN ITEMS dbf dbt)
  file(COPY_FILE "${SAMPLE}.${ext}" "${TARGET}.${ext}")
  file(SHA256 "${TARGET}.${ext}" _sum)
  string(APPEND _lines "${ext} ${_sum}\n")
endforeach()
file(WRITE "${_record}" "${_lines}")

# A scratch project of two folders, top/ and low/, where low/ may include
# from no other folder. It configures and builds clean; then each row plants
# one include of top/ into one of low's files after the configure step, and
# the next build must stop naming that file, its line and low/README.md.
# Last, two lists that allow each other must stop the configure step.
cmake_minimum_required(VERSION 3.25)
set(build ${WORK}/build)

function(run expect what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(expect STREQUAL "pass" AND failed)
    message(FATAL_ERROR "${what}: refused, though it is allowed:\n${out}")
  elseif(NOT expect STREQUAL "pass" AND (NOT failed OR NOT out MATCHES "${expect}"))
    message(FATAL_ERROR "${what}: not refused with \"${expect}\":\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/cmake/FolderLibraries.cmake ${SOURCE}/cmake/CheckIncludes.cmake
     DESTINATION ${WORK}/cmake)
file(WRITE ${WORK}/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(Scratch LANGUAGES CXX)
include_directories(\${CMAKE_SOURCE_DIR})
include(cmake/FolderLibraries.cmake)
add_subdirectory(top)
add_subdirectory(low)
")
file(WRITE ${WORK}/top/CMakeLists.txt "tellumo_allowed_includes(low)\n")
file(WRITE ${WORK}/low/CMakeLists.txt
     "tellumo_allowed_includes(\${LOW_ALLOWS})\nadd_library(low STATIC Low.cpp)\n")
file(WRITE ${WORK}/top/Top.h "")
file(WRITE ${WORK}/top/Top.hpp "")
file(WRITE ${WORK}/low/Own.hh "")
# Includes within the folder and system headers are allowed, in every form.
set(clean "#include \"low/Own.hh\"\n# include \"Own.hh\"\n#include <low/Own.hh>\n#include <cstdint>\n")
file(WRITE ${WORK}/low/Low.cpp "${clean}")
file(WRITE ${WORK}/low/Low.hpp "")

run(pass "configure" ${CMAKE_COMMAND} -S ${WORK} -B ${build} -G ${GENERATOR})
run(pass "clean build" ${CMAKE_COMMAND} --build ${build} --target low)

# file | the line planted after the clean ones
set(rows
    "Low.cpp|#include \"top/Top.h\""
    "Low.cpp|#include <top/Top.h>"
    "Low.cpp|#  include \"top/Top.h\""
    "Low.cpp|\t#\tinclude\t<top/Top.h>"
    "Low.cpp|#include \"../top/Top.h\""
    "Low.cpp|#include \"../low/../top/Top.h\""
    "Low.cpp|#include \"top/Top.hpp\""
    "Low.hpp|#include \"top/Top.h\"")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 file)
  list(GET row 1 planted)
  file(READ ${WORK}/low/${file} before)
  file(WRITE ${WORK}/low/${file} "${clean}${planted}\n")
  run("low/${file}:5: includes top/.*low/README.md" "${planted} in ${file}"
      ${CMAKE_COMMAND} --build ${build} --target low)
  file(WRITE ${WORK}/low/${file} "${before}")
endforeach()

run("circle:.*(top|low)/ -> (top|low)/ -> (top|low)/" "low/ and top/ allowing each other"
    ${CMAKE_COMMAND} -S ${WORK} -B ${build} -DLOW_ALLOWS=top)

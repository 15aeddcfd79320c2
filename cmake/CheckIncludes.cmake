# The include check of one folder, run by the build whenever one of the
# folder's sources changes (see tellumo_allowed_includes):
#   cmake -DROOT=<source dir> -DFOLDER=<folder> -DALLOWED=<a,b,...>
#         -DSOURCES=<file,file,...> -DSTAMP=<file> -P CheckIncludes.cmake
# Every #include that reaches a file of the tree must land in FOLDER itself
# or in a folder ALLOWED names; anything else stops the build with the file,
# the line and the README that says what the folder may use. STAMP is
# touched when all pass.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" allowed "${ALLOWED}")
string(REPLACE "," ";" sources "${SOURCES}")

# The file an include names, as the compiler finds it in this tree: quotes
# look beside the including file first, both forms then in the source root
# (the one include directory). Empty for anything else, a system header.
function(resolve_include form name here result)
  set(${result} "" PARENT_SCOPE)
  if(form STREQUAL "\"" AND EXISTS "${here}/${name}" AND NOT IS_DIRECTORY "${here}/${name}")
    set(found "${here}/${name}")
  elseif(EXISTS "${ROOT}/${name}" AND NOT IS_DIRECTORY "${ROOT}/${name}")
    set(found "${ROOT}/${name}")
  else()
    return()
  endif()
  cmake_path(NORMAL_PATH found)
  cmake_path(IS_PREFIX ROOT "${found}" NORMALIZE inside)
  if(inside)
    file(RELATIVE_PATH relative "${ROOT}" "${found}")
    set(${result} "${relative}" PARENT_SCOPE)
  endif()
endfunction()

set(refusals "")
foreach(source IN LISTS sources)
  file(READ "${source}" text)
  # Only the include lines are read; the characters that would split or join
  # CMake list items go, so that each line stays one item.
  foreach(special "\\" ";" "[" "]")
    string(REPLACE "${special}" " " text "${text}")
  endforeach()
  string(REPLACE "\n" ";" lines "${text}")
  get_filename_component(here "${source}" DIRECTORY)
  file(RELATIVE_PATH shown "${ROOT}" "${source}")
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    resolve_include("${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${here}" target)
    if(NOT target)
      continue()
    endif()
    get_filename_component(folder "${target}" DIRECTORY)
    if(NOT folder STREQUAL FOLDER AND NOT folder IN_LIST allowed)
      string(APPEND refusals "\n  ${shown}:${number}: includes ${target}, from ${folder}/, "
             "which ${FOLDER}/README.md does not allow")
    endif()
  endforeach()
endforeach()

if(refusals)
  message(FATAL_ERROR "Includes the folder may not use:${refusals}\n"
          "Take the include out, or allow the folder in ${FOLDER}/CMakeLists.txt "
          "(tellumo_allowed_includes) and ${FOLDER}/README.md alike.")
endif()
file(TOUCH "${STAMP}")

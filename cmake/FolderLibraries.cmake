# tellumo_folder_libraries(<folder> CORE_LIBS <...> UI_LIBS <...>)
# Builds <folder>_core from the folder's sources and <folder>_ui from its
# window and widget sources (Form*, *Widget.*, *Window.*, *.qrc). The core
# library gets no widgets, so a message box cannot sneak into it.
function(tellumo_folder_libraries folder)
  cmake_parse_arguments(F "" "" "CORE_LIBS;UI_LIBS" ${ARGN})
  file(GLOB ui CONFIGURE_DEPENDS Form*.cpp Form*.h *Widget.cpp *Widget.h *Window.cpp *Window.h *.qrc)
  file(GLOB core CONFIGURE_DEPENDS *.cpp *.h)
  if(ui)
    list(REMOVE_ITEM core ${ui})
  endif()
  foreach(kind core ui)
    if(${kind})
      add_library(${folder}_${kind} STATIC ${${kind}})
      set(scope PUBLIC)
    else()
      add_library(${folder}_${kind} INTERFACE)
      set(scope INTERFACE)
    endif()
    string(TOUPPER ${kind} KIND)
    target_link_libraries(${folder}_${kind} ${scope} ${F_${KIND}_LIBS})
  endforeach()
  target_link_libraries(${folder}_ui ${scope} ${folder}_core)
endfunction()

# tellumo_allowed_includes(<folder>...): stops the configure step when a source
# of the calling folder includes a header of a folder not listed (its own is
# always allowed). Linking alone cannot catch a header-only arrow, such as a
# template from a floor above.
function(tellumo_allowed_includes)
  file(RELATIVE_PATH self ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB sources CONFIGURE_DEPENDS *.cpp *.h)
  foreach(source ${sources})
    file(STRINGS ${source} lines REGEX "^#include \"[a-z/]+/[A-Za-z0-9_]+\\.h\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^#include \"(.+)/[^/]+\"$" "\\1" dir "${line}")
      if(NOT dir STREQUAL self AND NOT dir IN_LIST ARGN)
        message(FATAL_ERROR "${source} includes from ${dir}/, which ${self}/README.md does not allow")
      endif()
    endforeach()
  endforeach()
endfunction()

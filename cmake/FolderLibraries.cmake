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

set(TELLUMO_INCLUDE_CHECK ${CMAKE_CURRENT_LIST_DIR}/CheckIncludes.cmake)

# tellumo_allowed_includes(<folder>...): the folders the calling folder's
# sources may include from (its own is always allowed). Linking alone cannot
# catch a header-only arrow, such as a template from a floor above, so the
# build reads every #include of the folder (CheckIncludes.cmake) whenever one
# of its sources changes, and every library and program of the folder waits
# for that. No two lists may allow each other, round any circle.
function(tellumo_allowed_includes)
  file(RELATIVE_PATH self ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB sources CONFIGURE_DEPENDS *.cpp *.cc *.h *.hpp *.hh *.hxx *.inl)
  string(REPLACE ";" "," source_arg "${sources}")
  string(REPLACE ";" "," allowed_arg "${ARGN}")
  string(MAKE_C_IDENTIFIER "${self}_includes" check)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/includes_checked.stamp)
  add_custom_command(
      OUTPUT ${stamp}
      COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -DFOLDER=${self}
              -DALLOWED=${allowed_arg} -DSOURCES=${source_arg} -DSTAMP=${stamp}
              -P ${TELLUMO_INCLUDE_CHECK}
      DEPENDS ${sources} ${TELLUMO_INCLUDE_CHECK}
      COMMENT "Checking the includes of ${self}/"
      VERBATIM)
  add_custom_target(${check} ALL DEPENDS ${stamp})
  set_property(GLOBAL APPEND PROPERTY TELLUMO_INCLUDE_FOLDERS ${self})
  set_property(GLOBAL PROPERTY TELLUMO_ALLOWS_${self} ${ARGN})
  set_property(DIRECTORY PROPERTY TELLUMO_INCLUDE_CHECK ${check})
  cmake_language(DEFER CALL tellumo_wait_for_include_check)
endfunction()

# Run at the end of a folder's CMakeLists.txt: its targets wait for its check.
function(tellumo_wait_for_include_check)
  get_property(check DIRECTORY PROPERTY TELLUMO_INCLUDE_CHECK)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(NOT type STREQUAL "UTILITY")
      add_dependencies(${target} ${check})
    endif()
  endforeach()
endfunction()

# Run at the end of the configure step: follows every folder's list and stops
# when one leads back to the folder itself.
function(tellumo_check_include_circles)
  get_property(folders GLOBAL PROPERTY TELLUMO_INCLUDE_FOLDERS)
  foreach(start ${folders})
    set(queue ${start})
    set(reached "")
    while(queue)
      list(POP_FRONT queue folder)
      get_property(allows GLOBAL PROPERTY TELLUMO_ALLOWS_${folder})
      list(REMOVE_ITEM allows ${folder} ${reached})
      foreach(next ${allows})
        set(via_${next} ${folder})
        if(next STREQUAL start)
          set(round ${start}/)
          while(NOT folder STREQUAL start)
            string(PREPEND round "${folder}/ -> ")
            set(folder ${via_${folder}})
          endwhile()
          message(FATAL_ERROR "The folders' include lists go round in a circle:\n"
                  "  ${start}/ -> ${round}\n"
                  "each allows the next in its CMakeLists.txt and README.md.")
        endif()
        list(APPEND reached ${next})
        list(APPEND queue ${next})
      endforeach()
    endwhile()
  endforeach()
endfunction()
cmake_language(DEFER CALL tellumo_check_include_circles)

# tellumo_man_page(<target> "<what it is>" [INCLUDE <file.h2m>])
# Makes <target>'s section 1 man page from the program's own --help at build
# time with Debian's help2man, so the page cannot say anything the program
# does not, and installs it compressed. INCLUDE adds sections of help2man's
# include format. Without help2man the configure says so and there is no page.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(STATUS "help2man not found (Debian package help2man): the man pages are not made")
endif()

function(tellumo_man_page target description)
  cmake_parse_arguments(M "" "INCLUDE" "" ${ARGN})
  if(NOT HELP2MAN)
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  set(extra)
  set(depends ${target})
  if(M_INCLUDE)
    set(extra --include=${CMAKE_CURRENT_SOURCE_DIR}/${M_INCLUDE})
    list(APPEND depends ${CMAKE_CURRENT_SOURCE_DIR}/${M_INCLUDE})
  endif()
  add_custom_command(
    OUTPUT ${page}.gz
    # Run by its bare name, so the page's usage line names no build folder.
    COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${target}>:$ENV{PATH}"
            QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 LC_ALL=C.UTF-8
            ${HELP2MAN} --no-info --section=1 --name=${description}
            --version-string=${PROJECT_VERSION} ${extra} --output=${page} ${target}
    COMMAND gzip -9nf ${page}
    DEPENDS ${depends}
    COMMENT "Making ${target}(1) from ${target} --help"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# The installed layout: programs in bin/, libmorlix.so in a private folder
# under lib/<multiarch>/ (only the program loads it, by path; the linker's
# cache needs no update for it), data under share/.
include(GNUInstallDirs)

if(CMAKE_LIBRARY_ARCHITECTURE)
  set(VELQUIN_LIBRARY_INSTALL_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/velquin")
else()
  set(VELQUIN_LIBRARY_INSTALL_DIR "lib/velquin")
endif()
file(RELATIVE_PATH VELQUIN_LIBRARY_FROM_PROGRAM
  "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_PREFIX}/${VELQUIN_LIBRARY_INSTALL_DIR}")

find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_target(velquin_man_pages ALL)

# Installs a command-line program into bin/ with its manual page,
# docs/man/NAME.1 (which must exist). Each program's CMakeLists.txt calls
# this once: velquin_install_program(NAME).
function(velquin_install_program target)
  set(page "${PROJECT_SOURCE_DIR}/docs/man/${target}.1")
  if(NOT EXISTS "${page}")
    message(FATAL_ERROR "${target} is installed but has no manual page ${page}")
  endif()
  set(packed "${PROJECT_BINARY_DIR}/man/${target}.1.gz")
  # -n: no name or time stamp inside, so the package builds the same twice.
  add_custom_command(OUTPUT "${packed}"
    COMMAND ${CMAKE_COMMAND} -E copy "${page}" "${PROJECT_BINARY_DIR}/man/${target}.1"
    COMMAND ${GZIP_PROGRAM} -9nf "${PROJECT_BINARY_DIR}/man/${target}.1"
    DEPENDS "${page}"
    VERBATIM)
  add_custom_target(${target}_man_page DEPENDS "${packed}")
  add_dependencies(velquin_man_pages ${target}_man_page)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${packed}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

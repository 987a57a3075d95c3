# Installation as a Debian program: the programs, a desktop entry and icon,
# man pages made from each program's --help (with help2man, when present), and
# a .deb through `cpack -G DEB` whose dependencies are the shared libraries the
# programs load (found by dpkg-shlibdeps), not the -dev packages of the build.
include(GNUInstallDirs)

set(CORVANE_PROGRAMS corvane-volume corvane-correct corvane-evaluate corvane-phantom corvane-simulate)
if(CORVANE_BUILD_GUI)
  list(PREPEND CORVANE_PROGRAMS corvane)
endif()
set(CORVANE_INSTALLED_PROGRAMS "")
foreach(program ${CORVANE_PROGRAMS})
  if(TARGET ${program})
    list(APPEND CORVANE_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()
install(TARGETS ${CORVANE_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(CORVANE_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/data/corvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/corvane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

find_program(HELP2MAN help2man)
# Sanitizer builds are for tests; their programs are never installed.
if(HELP2MAN AND CORVANE_SANITIZE STREQUAL "")
  set(pages "")
  foreach(program ${CORVANE_INSTALLED_PROGRAMS})
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    # help2man runs the program's --help (the window answers it without a display);
    # the version is given, so a program without --version still gets its page.
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION} --output=${page}
              $<TARGET_FILE:${program}>
      DEPENDS ${program}
      COMMENT "Man page of ${program}"
      VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(NOT HELP2MAN)
  message(STATUS "help2man not found: no man pages (scripts/install-deps.sh installs it)")
endif()

set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane developers <corvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "correct a 3-D prostate segmentation on an MR volume with scribbles")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # corvane_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

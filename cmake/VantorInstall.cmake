# Installation and packages.
#
# Linux and macOS: the programs in bin, their manual pages in man1 (gzipped,
# as distributions keep them), README, CHANGELOG and docs/ in the doc
# directory (GNUInstallDirs). Windows: one folder, the two programs at its
# top beside README.md and CHANGELOG.md, the guide and notes in docs/.
#
# CPack makes a Debian package (cpack --preset deb) and, from the MinGW
# build, a zip (cpack --preset windows-zip).

set(CMAKE_INSTALL_DOCDIR "share/doc/vantor" CACHE PATH "Documentation (DATAROOTDIR/doc/vantor)")
include(GNUInstallDirs)

if(WIN32)
  set(vantor_bin_dir .)
  set(vantor_doc_dir .)
else()
  set(vantor_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(vantor_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()

# The programs: on Windows the dialog (Vantor.exe) and the console program,
# elsewhere the console program with the virtual board and h8run.
set(vantor_programs vantor)
if(WIN32)
  list(APPEND vantor_programs Vantor)
else()
  list(APPEND vantor_programs vantor-board h8run)
endif()
install(TARGETS ${vantor_programs} RUNTIME DESTINATION ${vantor_bin_dir})

# The documents: the README and the changelog, and every page of docs/ with
# its pictures (the manual pages' sources excepted).
install(FILES README.md CHANGELOG.md DESTINATION ${vantor_doc_dir})
install(DIRECTORY docs/ DESTINATION ${vantor_doc_dir}/docs
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png"
  PATTERN "man" EXCLUDE)

# The manual pages, compressed without a time stamp (gzip -n) so that two
# builds of one tree give the same package.
if(NOT WIN32)
  find_program(VANTOR_GZIP gzip REQUIRED)
  set(vantor_man_pages)
  foreach(page vantor vantor-board h8run)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
    set(packed ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${VANTOR_GZIP} -9 -n -c ${source} > ${packed}
      DEPENDS ${source}
      COMMENT "Compressing the manual page ${page}(1)")
    list(APPEND vantor_man_pages ${packed})
  endforeach()
  add_custom_target(vantor_man_pages ALL DEPENDS ${vantor_man_pages})
  install(FILES ${vantor_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# ---- Packages ----
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VENDOR "Vantor developers")
set(CPACK_PACKAGE_CONTACT "Vantor developers <dev@vantor.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial flash writer for the Renesas H8S/2215")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vantor-${PROJECT_VERSION}-win64)
  # The zip holds one folder of that name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The long description; CPack puts the summary in front of it and
  # indents it as the control file wants.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
Vantor writes program images (Motorola S-records .mot, packed records .qpf)
into the 256 KiB on-chip flash of a Renesas H8S/2215 over a serial line: it
brings the chip up in its serial boot mode, sends it Vantor's own
write-control program, configures that program for the chip's clock and
writes every non-blank 128-byte block at 9600 bit/s.

The package holds the console program vantor, with a virtual board built
in (port name sim) for trying a write without hardware; vantor-board, the
same emulated board on a pseudo-terminal; and h8run, which runs H8S machine
code on the bare emulated core.

Users need access to the serial device, usually through membership of the
dialout group.")
endif()
include(CPack)

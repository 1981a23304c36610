# What `cmake --install` puts where, and the packages cpack makes from it:
#   bin/                          lapmon, linestat (and brisim when it is built)
#   share/man/man1/               lapmon.1.gz, linestat.1.gz, brisim.1.gz
#   share/bri-tools/scenarios/    brisim's scenario files
#   share/bri-tools/              an example registry export
#   share/doc/bri-tools/          the README
# On Linux `cpack -G DEB` makes a Debian package; the MinGW build's `cpack -G ZIP` makes a zip of
# the Windows programs (statically linked, see cmake/mingw-w64-x86_64.cmake).
include(GNUInstallDirs)

set(BRI_DATA_DIR ${CMAKE_INSTALL_DATADIR}/bri-tools)

install(TARGETS lapmon linestat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET brisim AND NOT WIN32)  # brisim.exe needs the relay driver of the test rig
  install(TARGETS brisim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(WIN32)
  # The zip: programs, README, the example registry export, and the tools' manual pages as plain
  # text (Windows has no man), when groff is at hand to render them.
  install(FILES README.md DESTINATION .)
  install(FILES docs/registry-example.reg DESTINATION .)
  find_program(BRI_GROFF groff)
  if(BRI_GROFF)
    foreach(page lapmon linestat)
      set(text ${CMAKE_BINARY_DIR}/docs/${page}.txt)
      install(CODE "
        file(MAKE_DIRECTORY \"${CMAKE_BINARY_DIR}/docs\")
        execute_process(COMMAND \"${BRI_GROFF}\" -man -Tascii -P-cbou
                                \"${PROJECT_SOURCE_DIR}/docs/${page}.1\"
                        OUTPUT_FILE \"${text}\" RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
          message(FATAL_ERROR \"groff could not render ${page}.1\")
        endif()")
      install(FILES ${text} DESTINATION .)
    endforeach()
  endif()
else()
  # Man pages are installed compressed, as Debian packages carry them (man reads them so).
  find_program(BRI_GZIP gzip REQUIRED)
  set(BRI_MAN_PAGES "")
  foreach(page lapmon linestat brisim)
    set(compressed ${CMAKE_BINARY_DIR}/docs/${page}.1.gz)
    add_custom_command(OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/docs
      COMMAND sh -c "\"$1\" -9 -n -c \"$2\" > \"$3\"" sh ${BRI_GZIP} ${PROJECT_SOURCE_DIR}/docs/${page}.1 ${compressed}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}.1
      VERBATIM)
    list(APPEND BRI_MAN_PAGES ${compressed})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${BRI_MAN_PAGES})
  install(FILES ${BRI_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(DIRECTORY sim/scenarios/ DESTINATION ${BRI_DATA_DIR}/scenarios
          FILES_MATCHING PATTERN "*.json" PATTERN "*.pcap" PATTERN "*.md")
  install(FILES docs/registry-example.reg DESTINATION ${BRI_DATA_DIR})
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME bri-tools)
set(CPACK_PACKAGE_VENDOR "The bri-tools authors")
set(CPACK_PACKAGE_CONTACT "The bri-tools authors <bri-tools@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ISDN BRI adapter diagnostics: D-channel trace, line status, adapter simulator")
set(CPACK_PACKAGE_DESCRIPTION
    "lapmon traces the D-channel frames of an ISDN BRI adapter's lines and decodes them\n(Q.921 and Q.931); linestat prints each line's layer status or dumps its status areas;\nbrisim simulates the adapter's driver so that both tools run without the hardware.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Dependencies come from the shared libraries the programs really link (dpkg-shlibdeps): the
  # C and C++ runtime for all three, and whatever brisim links beyond it. The JSON and
  # command-line libraries brisim is built with are header-only and need nothing at run time.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)

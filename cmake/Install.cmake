# SPDX-License-Identifier: BSD-2-Clause
# What `cmake --install` puts where, and the packages cpack makes from it.
#
# The programs the packages ship, one a line. A program NAME has its manual page docs/NAME.1.
#   BRI_TOOLS: the Windows console tools, in the Debian package and in both Windows zips.
#   BRI_LINUX_PROGRAMS: in the Debian package only (brisim.exe needs the relay driver of the test rig).
# Every build that makes packages (scripts/package, the presets) builds all of its targets, so a
# program added here is built and shipped without a list of its own anywhere else.
set(BRI_TOOLS
  lapmon
  linestat
  lapdecode
  bricap
  check_bri)
set(BRI_LINUX_PROGRAMS
  brisim)
#
# Linux (`cpack -G DEB`, a Debian package):
#   bin/                          the programs
#   share/man/man1/               their manual pages, gzipped
#   share/bri-tools/scenarios/    brisim's scenario files
#   share/bri-tools/              an example registry export
#   share/doc/bri-tools/          README for users of the package, SCENARIOS.md (brisim's scenario
#                                 files), copyright, changelog.Debian.gz
#   lib/systemd/system/           check_bri-textfile.service and .timer: check_bri's metrics for
#                                 node_exporter every 15 s (not enabled by the package)
# Windows (`cpack -G ZIP` in a MinGW-w64 build, x86-64 or i686: bri-tools-VERSION-win64.zip or
# -win32.zip): the programs (statically linked), README.txt, LICENSE.txt, the manual pages as
# NAME.txt and check_bri-task.xml (a scheduled task for windows_exporter), all text with CRLF line
# ends.
include(GNUInstallDirs)

set(BRI_DATA_DIR ${CMAKE_INSTALL_DATADIR}/bri-tools)
# The Debian revision of the package: 2.51-1 is the first package of 2.51.
set(BRI_DEB_REVISION 1)
set(BRI_MAINTAINER "bri-tools maintainers <maintainers@bri-tools.org>")

set(BRI_SHIPPED "")
foreach(program IN LISTS BRI_TOOLS)
  if(TARGET ${program})
    list(APPEND BRI_SHIPPED ${program})
  endif()
endforeach()
if(NOT WIN32)
  foreach(program IN LISTS BRI_LINUX_PROGRAMS)
    if(TARGET ${program})
      list(APPEND BRI_SHIPPED ${program})
    endif()
  endforeach()
endif()
if(WIN32)
  install(TARGETS ${BRI_SHIPPED} RUNTIME DESTINATION .)  # beside README.txt, at the top of the zip
else()
  install(TARGETS ${BRI_SHIPPED} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The list, for the package checks (scripts/lib/docs_checks.sh).
string(REPLACE ";" "\n" _bri_shipped_lines "${BRI_SHIPPED}")
file(WRITE ${CMAKE_BINARY_DIR}/shipped-programs.txt "${_bri_shipped_lines}\n")

if(WIN32)
  # Text for Windows: CRLF line ends; the manual pages rendered to plain text with groff.
  find_program(BRI_GROFF groff)
  if(NOT BRI_GROFF)
    message(WARNING "groff not found: the Windows zip will lack the manual pages (install groff-base)")
  endif()
  set(_bri_text_dir ${CMAKE_BINARY_DIR}/windows-text)
  set(_bri_texts "README.txt:${PROJECT_SOURCE_DIR}/docs/README-windows.txt"
                 "LICENSE.txt:${PROJECT_SOURCE_DIR}/LICENSE")
  if(TARGET check_bri)
    list(APPEND _bri_texts "check_bri-task.xml:${PROJECT_SOURCE_DIR}/monitoring/check_bri-task.xml")
  endif()
  if(BRI_GROFF)
    foreach(program IN LISTS BRI_SHIPPED)
      list(APPEND _bri_texts "${program}.txt:${PROJECT_SOURCE_DIR}/docs/${program}.1")
    endforeach()
  endif()
  foreach(entry IN LISTS _bri_texts)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 source)
    install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\" -DSOURCE=${source} -DOUTPUT=${_bri_text_dir}/${name}
                                          -DGROFF=${BRI_GROFF} -P \"${PROJECT_SOURCE_DIR}/cmake/WindowsText.cmake\"
                                  RESULT_VARIABLE status)
                  if(NOT status EQUAL 0)
                    message(FATAL_ERROR \"cannot make ${name} for the Windows zip\")
                  endif()")
    install(FILES ${_bri_text_dir}/${name} DESTINATION .)
  endforeach()
else()
  # Compressed as Debian packages carry them (gzip -9n: no name, no time stamp, the same bytes on
  # every build): the manual pages, and the Debian changelog.
  find_program(BRI_GZIP gzip REQUIRED)
  set(BRI_MAN_PAGES "")
  set(_bri_gz_dir ${CMAKE_BINARY_DIR}/docs)
  function(bri_gzip source compressed)
    add_custom_command(OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_bri_gz_dir}
      COMMAND sh -c "\"$1\" -9 -n -c \"$2\" > \"$3\"" sh ${BRI_GZIP} ${source} ${compressed}
      DEPENDS ${source}
      VERBATIM)
  endfunction()
  foreach(program IN LISTS BRI_SHIPPED)
    bri_gzip(${PROJECT_SOURCE_DIR}/docs/${program}.1 ${_bri_gz_dir}/${program}.1.gz)
    list(APPEND BRI_MAN_PAGES ${_bri_gz_dir}/${program}.1.gz)
  endforeach()

  # The Debian changelog names the package's version: it must be this one.
  set(_bri_changelog ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_bri_changelog})
  file(STRINGS ${_bri_changelog} _bri_changelog_head LIMIT_COUNT 1)
  if(NOT _bri_changelog_head MATCHES "^bri-tools \\(${PROJECT_VERSION}-${BRI_DEB_REVISION}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog starts with \"${_bri_changelog_head}\", "
                        "not with bri-tools (${PROJECT_VERSION}-${BRI_DEB_REVISION}): add an entry")
  endif()
  bri_gzip(${_bri_changelog} ${_bri_gz_dir}/changelog.Debian.gz)

  # The copyright file in Debian's machine-readable form, its licence text taken from LICENSE.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE _bri_license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${_bri_license}")
  set(BRI_COPYRIGHT "${CMAKE_MATCH_1}")
  string(REPLACE "," "" BRI_COPYRIGHT "${BRI_COPYRIGHT}")
  string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" _bri_terms "${_bri_license}")
  string(REGEX REPLACE "\n+$" "" _bri_terms "${_bri_terms}")
  string(REPLACE "\n\n" "\n.\n" _bri_terms "${_bri_terms}")
  string(REPLACE "\n" "\n " BRI_LICENSE_TERMS " ${_bri_terms}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${_bri_gz_dir}/copyright @ONLY)

  add_custom_target(man_pages ALL DEPENDS ${BRI_MAN_PAGES} ${_bri_gz_dir}/changelog.Debian.gz)
  install(FILES ${BRI_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(DIRECTORY sim/scenarios/ DESTINATION ${BRI_DATA_DIR}/scenarios
          FILES_MATCHING PATTERN "*.json" PATTERN "*.pcap")
  install(FILES docs/registry-example.reg DESTINATION ${BRI_DATA_DIR})
  if(TARGET check_bri)
    install(FILES monitoring/check_bri-textfile.service monitoring/check_bri-textfile.timer
            DESTINATION lib/systemd/system)
  endif()
  include(cmake/Extcap.cmake)  # bricap's link in Wireshark's extcap folder
  install(FILES docs/README-linux.txt DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME README)
  install(FILES sim/SCENARIOS.md ${_bri_gz_dir}/copyright ${_bri_gz_dir}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME bri-tools)
set(CPACK_PACKAGE_VENDOR "The bri-tools authors")
set(CPACK_PACKAGE_CONTACT "${BRI_MAINTAINER}")
# The summary and every line of the description stay within 80 columns (Debian's control file).
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ISDN BRI adapter diagnostics: D-channel trace and line status")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Console tools for an ISDN Basic Rate Interface adapter:\n"
    " - lapmon traces the D-channel frames of the adapter's lines and decodes\n"
    "   them (Q.921/LAPD with TEI management, Q.931);\n"
    " - linestat prints each line's Layer 1/2/3 verdict or dumps its status areas;\n"
    " - check_bri checks the lines for Nagios and Icinga and writes Prometheus\n"
    "   metrics for node_exporter;\n"
    " - brisim simulates the adapter's driver, so that both tools run without\n"
    "   the hardware, and plays LAPD captures (pcap, pcapng) for lapmon to decode.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${BRI_DEB_REVISION})
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRI_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Folders 0755 and files 0644 (programs 0755), whatever the umask of the build.
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  # Dependencies come from the shared libraries the programs really link (dpkg-shlibdeps): the
  # C and C++ runtime for all three, and whatever brisim links beyond it. The JSON and
  # command-line libraries brisim is built with are header-only and need nothing at run time.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)

# SPDX-License-Identifier: BSD-2-Clause
# Text for the Windows zip, with CRLF line ends (Notepad of older Windows shows LF-only text as
# one line). A manual page (SOURCE ending in .N) is rendered to plain text with groff first.
#   cmake -DSOURCE=FILE -DOUTPUT=FILE [-DGROFF=groff] -P cmake/WindowsText.cmake
if(SOURCE MATCHES "\\.[1-9]$")
  if(NOT GROFF)
    message(FATAL_ERROR "groff is needed to render ${SOURCE}")
  endif()
  # ASCII, no overstriking or underlining, 78 columns as man shows them on an 80-column console.
  execute_process(COMMAND "${GROFF}" -man -Tascii -P-cbou -rLL=78n "${SOURCE}"
                  OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "groff could not render ${SOURCE}")
  endif()
else()
  file(READ "${SOURCE}" text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${OUTPUT}" "${text}")

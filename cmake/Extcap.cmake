# SPDX-License-Identifier: BSD-2-Clause
# bricap is also a Wireshark extcap program: `cmake --install` (and so the .deb) puts a relative
# link to it into Wireshark's global extcap folder. The folder is BRI_EXTCAP_DIR when given, else
# what pkg-config says of the wireshark package, else Debian's. An install without the right to
# write there (a user's `--prefix ~/.local`) says so and goes on; the README tells how to use the
# personal folder ~/.config/wireshark/extcap instead.
set(BRI_EXTCAP_DIR "" CACHE PATH "Wireshark's global extcap folder for the bricap link")
set(bri_extcap_dir "${BRI_EXTCAP_DIR}")
if(NOT bri_extcap_dir)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_get_variable(bri_extcap_dir wireshark extcap_dir)
  endif()
endif()
if(NOT bri_extcap_dir)
  set(bri_extcap_dir /usr/lib/x86_64-linux-gnu/wireshark/extcap)
endif()
install(CODE "
  set(dir \"\$ENV{DESTDIR}${bri_extcap_dir}\")
  file(RELATIVE_PATH target \"${bri_extcap_dir}\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/bricap\")
  execute_process(COMMAND \"${CMAKE_COMMAND}\" -E make_directory \"\${dir}\" RESULT_VARIABLE made)
  if(made EQUAL 0)
    file(CREATE_LINK \"\${target}\" \"\${dir}/bricap\" RESULT linked SYMBOLIC)
  endif()
  if(made EQUAL 0 AND linked EQUAL 0)
    message(STATUS \"Installing: \${dir}/bricap -> \${target}\")
  else()
    message(WARNING \"No bricap link in \${dir} (not writable): \"
                    \"for Wireshark, link bricap into ~/.config/wireshark/extcap\")
  endif()")

# SPDX-License-Identifier: BSD-2-Clause
# BRI_HARDENING: the hardening flags Debian builds its packages with, as dpkg-buildflags gives them
# (with DEB_BUILD_MAINT_OPTIONS=hardening=+all): stack protector, stack clash and control-flow
# protection, _FORTIFY_SOURCE (optimised builds only: it needs the optimiser) and a read-only,
# immediately bound relocation table (relro, bindnow). On by default on Linux when dpkg-buildflags
# is at hand; off for Windows and for sanitizer and fuzz builds, which bring their own runtime.
find_program(BRI_DPKG_BUILDFLAGS dpkg-buildflags)
set(_bri_hardening_default OFF)
if(BRI_DPKG_BUILDFLAGS AND NOT WIN32 AND NOT BRI_SANITIZE AND NOT BRI_BUILD_FUZZ)
  set(_bri_hardening_default ON)
endif()
option(BRI_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ${_bri_hardening_default})

if(BRI_HARDENING)
  if(NOT BRI_DPKG_BUILDFLAGS)
    message(FATAL_ERROR "BRI_HARDENING needs dpkg-buildflags (dpkg-dev)")
  endif()
  function(bri_buildflags kind out)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${BRI_DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(${out} ${flags} PARENT_SCOPE)
  endfunction()
  bri_buildflags(CPPFLAGS _bri_cppflags)
  bri_buildflags(CXXFLAGS _bri_cxxflags)
  bri_buildflags(LDFLAGS _bri_ldflags)
  # Only the hardening part of the compiler flags: optimisation and debug information stay the
  # build type's, warnings the project's.
  foreach(flag IN LISTS _bri_cppflags _bri_cxxflags)
    if(flag MATCHES "^-D_FORTIFY_SOURCE=")
      # A packager's own _FORTIFY_SOURCE in CXXFLAGS wins.
      if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
        add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
      endif()
    elseif(flag MATCHES "^-f(stack-protector|stack-clash-protection|cf-protection|PIE|pie)")
      add_compile_options(${flag})
    endif()
  endforeach()
  foreach(flag IN LISTS _bri_ldflags)
    if(flag MATCHES "^-Wl,-z,|^-pie$")
      add_link_options(${flag})
    endif()
  endforeach()
endif()

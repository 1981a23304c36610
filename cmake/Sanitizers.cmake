# SPDX-License-Identifier: BSD-2-Clause
# BRI_SANITIZE="address;undefined" or "thread": applied to every target, aborting on the first report.
if(BRI_SANITIZE)
  string(REPLACE ";" "," _bri_san "${BRI_SANITIZE}")
  add_compile_options(-fsanitize=${_bri_san} -fno-omit-frame-pointer -fno-sanitize-recover=all -g)
  add_link_options(-fsanitize=${_bri_san})
endif()

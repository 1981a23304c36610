# Warnings are errors for every target of the project.
add_library(bri_warnings INTERFACE)
if(MSVC)
  target_compile_options(bri_warnings INTERFACE /W4 /WX)
else()
  target_compile_options(bri_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wconversion -Wsign-conversion -Wformat=2
    -Wold-style-cast -Wcast-qual -Wundef)
  # GCC 12 reports false overlaps inside libstdc++'s string code at -O3 (-Wrestrict).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(bri_warnings INTERFACE -Wno-restrict)
  endif()
endif()

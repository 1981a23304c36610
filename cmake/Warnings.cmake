# Warnings are errors for every target of the project.
add_library(bri_warnings INTERFACE)
if(MSVC)
  target_compile_options(bri_warnings INTERFACE /W4 /WX)
else()
  target_compile_options(bri_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wconversion -Wsign-conversion -Wformat=2
    -Wold-style-cast -Wcast-qual -Wundef)
endif()

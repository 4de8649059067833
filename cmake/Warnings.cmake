# Warnings are errors in every build of this project.
add_library(bspp_warnings INTERFACE)
if(MSVC)
  target_compile_options(bspp_warnings INTERFACE /W4 /WX)
else()
  target_compile_options(bspp_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wcast-align -Werror
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual>)
endif()

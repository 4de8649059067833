# Warnings for the project's own code. The project's presets make them errors
# (BSPP_WARNINGS_AS_ERRORS=ON); a plain build from source, as a packager or
# a newer compiler does it, reports them without failing.
option(BSPP_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

add_library(bspp_warnings INTERFACE)
if(MSVC)
  target_compile_options(bspp_warnings INTERFACE /W4 $<$<BOOL:${BSPP_WARNINGS_AS_ERRORS}>:/WX>)
else()
  target_compile_options(bspp_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wcast-align
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual>
    $<$<BOOL:${BSPP_WARNINGS_AS_ERRORS}>:-Werror>)
endif()

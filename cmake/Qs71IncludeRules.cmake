# A floor that must not reach up: the configure fails when one of its files includes a header
# of a floor above it.
#
#   qs71_refuse_includes(FILES <files...> HEADERS <regex> ABOVE <what the message names>)
#
# HEADERS matches what follows `#include "` (a folder, or names with their closing quote).
function(qs71_refuse_includes)
  cmake_parse_arguments(ARG "" "HEADERS;ABOVE" "FILES" ${ARGN})
  foreach(file ${ARG_FILES})
    file(STRINGS ${file} upward REGEX "#include \"${ARG_HEADERS}")
    if(upward)
      message(FATAL_ERROR "${file} includes ${ARG_ABOVE}: ${upward}")
    endif()
  endforeach()
endfunction()

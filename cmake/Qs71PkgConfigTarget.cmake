# One INTERFACE target for libraries that pkg_check_modules found under prefix: linked
# statically with their .pc files' private libraries (the Windows cross-builds' own static
# libraries), or as the system has them, shared.
function(qs71_pkg_config_target target prefix static)
  add_library(${target} INTERFACE)
  if(static)
    set(found ${prefix}_STATIC)
    target_link_libraries(${target} INTERFACE -static ${${found}_LIBRARIES})
  else()
    set(found ${prefix})
    target_link_libraries(${target} INTERFACE ${${found}_LIBRARIES})
  endif()
  target_include_directories(${target} SYSTEM INTERFACE ${${found}_INCLUDE_DIRS})
  target_compile_options(${target} INTERFACE ${${found}_CFLAGS_OTHER})
  target_link_directories(${target} INTERFACE ${${found}_LIBRARY_DIRS})
endfunction()

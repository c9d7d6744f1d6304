# Applies the project's warning flags to one target.
function(trackmend_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()

# A library whose sources are every .cpp file under the given directories.
# Libraries that are still being built up may have no sources yet; they are
# then header-only interface targets.
function(trackmend_glob_sources out)
  set(files)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND files ${found})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

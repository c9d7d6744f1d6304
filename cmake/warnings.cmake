# Applies the project's warning flags to one target.
function(trackmend_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    # g++ 12 reports overlapping memcpy in std::string concatenation inlined
    # at -O2 and above, a known false positive of that release.
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
endfunction()

# Every .cpp file under the given directories, for one library target.
function(trackmend_glob_sources out)
  set(files)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND files ${found})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

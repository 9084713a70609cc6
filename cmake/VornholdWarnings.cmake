# The project's own code builds without a single warning, with the flags of
# the compiler at hand: g++ and clang, or Visual C++.
function(vornhold_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${VORNHOLD_WARNINGS_AS_ERRORS}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                                             $<$<BOOL:${VORNHOLD_WARNINGS_AS_ERRORS}>:-Werror>)
  endif()
endfunction()

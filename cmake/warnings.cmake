function(tivlink_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # GCC 12 reports false -Wrestrict overlaps inside std::string concatenation
  # once it inlines deeply (-O3); its own headers, not our code, trip it.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TIVLINK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

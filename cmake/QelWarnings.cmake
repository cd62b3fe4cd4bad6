# qel_warnings(<target>): the project's warning set, kept PRIVATE so it never
# leaks into code that merely uses our headers.
function(qel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(QEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

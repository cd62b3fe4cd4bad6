# Applies QEL_SANITIZE (for example "address,undefined" or "thread") to every
# target of the build, including tests and tools.
if(QEL_SANITIZE)
  if(QEL_SANITIZE MATCHES "thread" AND QEL_SANITIZE MATCHES "address")
    message(FATAL_ERROR "QEL_SANITIZE: thread cannot be combined with address")
  endif()
  add_compile_options(-fsanitize=${QEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QEL_SANITIZE})
  # GCC's uninitialised-use analysis misfires on sanitizer-instrumented
  # libstdc++ <regex> (pulled in by cxxopts), which -Werror turns into errors.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  message(STATUS "Sanitizers: ${QEL_SANITIZE}")
endif()

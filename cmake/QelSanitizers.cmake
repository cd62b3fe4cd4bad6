# Applies QEL_SANITIZE (for example "address,undefined" or "thread") to every
# target of the build, including tests and tools.
if(QEL_SANITIZE)
  if(QEL_SANITIZE MATCHES "thread" AND QEL_SANITIZE MATCHES "address")
    message(FATAL_ERROR "QEL_SANITIZE: thread cannot be combined with address")
  endif()
  add_compile_options(-fsanitize=${QEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QEL_SANITIZE})
  message(STATUS "Sanitizers: ${QEL_SANITIZE}")
endif()

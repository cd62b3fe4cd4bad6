# Turns a file's bytes into a read-only byte array in a generated C++ source,
# so that the program carries the file without depending on where it runs.
# Run as: cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name>
#               -DNAMESPACE=<ns> -P EmbedBytes.cmake
# The array is SYMBOL (with one extra zero byte so that an empty file still
# gives a valid array) and SYMBOL_size holds the file's true length.
foreach(var INPUT OUTPUT SYMBOL NAMESPACE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "EmbedBytes.cmake: ${var} is not set")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes to a line keeps the generated file readable in a debugger.
# (CMake's regular expressions have no {n} repetition.)
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 sixteen)
string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")

set(text "// Generated from ${INPUT} by EmbedBytes.cmake; do not edit.\n")
string(APPEND text "#include <cstddef>\n\nnamespace ${NAMESPACE} {\n\n")
string(APPEND text "extern const unsigned char ${SYMBOL}[] = {\n    ${bytes}0x00};\n")
string(APPEND text "extern const std::size_t ${SYMBOL}_size = ${size};\n\n")
string(APPEND text "}  // namespace ${NAMESPACE}\n")

# Leave an unchanged output alone so that dependants are not rebuilt.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")

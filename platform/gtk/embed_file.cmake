# Turns a file into a C++ header holding its bytes, so that the executable carries it.
# Usage: cmake -DINPUT=<file> -DOUTPUT=<header> -DSYMBOL=<name> -P embed_file.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
       "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
     "// Generated from ${INPUT}; do not edit.\n#pragma once\n#include <cstddef>\n"
     "inline constexpr unsigned char ${SYMBOL}[] = {\n${bytes}0x00};\n"
     "// The size without the terminating zero added above.\n"
     "inline constexpr std::size_t ${SYMBOL}Size = ${size};\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)

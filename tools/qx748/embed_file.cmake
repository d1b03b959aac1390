# cmake -DIN=file -DOUT=file.cpp -DSYMBOL=name -P embed_file.cmake
# Writes the bytes of IN as `const unsigned char SYMBOL[]` and `SYMBOL` Size.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
set(sixteen "")
foreach(i RANGE 1 16)
  string(APPEND sixteen "0x[0-9a-f][0-9a-f],")
endforeach()
string(REGEX REPLACE "(${sixteen})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp"
  "// Generated from ${IN}; do not edit.\n#include <cstddef>\n"
  "extern const unsigned char ${SYMBOL}[];\nextern const size_t ${SYMBOL}Size;\n"
  "const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
  "const size_t ${SYMBOL}Size = ${size};\n")
file(RENAME "${OUT}.tmp" "${OUT}")

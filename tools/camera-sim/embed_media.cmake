# Turns one media file into a C++ source that defines a byte array and its size:
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -P embed_media.cmake
# The array is std::uint8_t <SYMBOL>[] and std::size_t <SYMBOL>Size in namespace norvane::sim.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR byteCount "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the initializer into lines of 32 bytes to keep the generated file readable by tools.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}"
    "// Generated from ${INPUT} by embed_media.cmake; do not edit.\n"
    "#include <cstddef>\n#include <cstdint>\n\n"
    "namespace norvane::sim {\n"
    "extern const std::uint8_t ${SYMBOL}[];\n"
    "extern const std::size_t ${SYMBOL}Size;\n"
    "const std::uint8_t ${SYMBOL}[] = {\n${bytes}\n};\n"
    "const std::size_t ${SYMBOL}Size = ${byteCount};\n"
    "} // namespace norvane::sim\n")

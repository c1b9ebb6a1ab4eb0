# Writes OUTPUT, a C++ source that defines the page in INPUT as MONITOR_DASHBOARD_HTML (every
# byte as a \xHH escape of a string literal, so any byte of the page survives and a char of
# either signedness takes it) and its length as MONITOR_DASHBOARD_HTML_LENGTH.
# Run with cmake -DINPUT=... -DOUTPUT=... -P embed_page.cmake.
file(READ "${INPUT}" page HEX)
string(LENGTH "${page}" digits)
math(EXPR length "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${page}")
# One literal per 32 bytes; adjacent literals join into one array. (CMake's regular
# expressions have no counted repetition, so the pattern spells out the 32 bytes.)
string(REPEAT "\\\\x[0-9a-f][0-9a-f]" 32 line)
string(REGEX REPLACE "(${line})" "\\1\"\n    \"" escaped "${escaped}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by cmake/embed_page.cmake; edit the page, not this file.\n"
  "#include \"monitor/dashboard_page.h\"\n\n"
  "const char MONITOR_DASHBOARD_HTML[] =\n    \"${escaped}\";\n"
  "const size_t MONITOR_DASHBOARD_HTML_LENGTH = ${length};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")

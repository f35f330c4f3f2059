# cmake -DFILES="a.cpp;b.h" -P CheckNoQt.cmake
# Fails, naming file and line, when one of FILES includes a Qt header.
set(found)
foreach(file IN LISTS FILES)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]Q")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    list(APPEND found "${file}: ${line}")
  endforeach()
endforeach()
if(found)
  list(JOIN found "\n  " text)
  message(FATAL_ERROR "Qt is for the windows only (src/windows); these files include it:\n  ${text}")
endif()

# cmake -DHEADER=<javac header> -DTABLE=<core/method_table.h> -DSTAMP=<file> -P check_signatures.cmake
#
# Every row of the method table must name a native method that the Java class
# declares, with the same JNI signature.
file(READ "${HEADER}" header)
file(STRINGS "${TABLE}" rows REGEX "^CORVANE_METHOD\\(")
foreach(row IN LISTS rows)
  string(REGEX MATCH "^CORVANE_METHOD\\(([A-Za-z0-9_]+), [A-Za-z0-9_]+, \"([^\"]+)\"" _ "${row}")
  set(name "${CMAKE_MATCH_1}")
  set(signature "${CMAKE_MATCH_2}")
  string(REGEX MATCH "Method:    ${name}\n \\* Signature: ([^\n]+)\n" found "${header}")
  if(NOT found)
    message(FATAL_ERROR "${HEADER}: the Java class declares no native method ${name}")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL signature)
    message(FATAL_ERROR "${name}: the Java class declares ${CMAKE_MATCH_1}, the method table ${signature}")
  endif()
endforeach()
file(TOUCH "${STAMP}")

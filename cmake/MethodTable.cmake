# The build's view of core/method_table.h: the rows, their checks, and the
# export lists generated from them.

set(CORVANE_METHOD_TABLE "${PROJECT_SOURCE_DIR}/core/method_table.h")

# Argument bytes of a 32-bit stdcall JNI function with this signature:
# JNIEnv* and jclass, 4 per int or reference, 8 per double.
function(corvane_signature_bytes signature out)
  string(REGEX REPLACE "^\\(([^)]*)\\).*$" "\\1" params "${signature}")
  string(REGEX REPLACE "\\[*L[^;]*;" "R" params "${params}")  # references
  string(REGEX REPLACE "\\[+[ZBCSIJFD]" "R" params "${params}")  # primitive arrays
  set(bytes 8)
  string(LENGTH "${params}" count)
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      string(SUBSTRING "${params}" ${i} 1 c)
      if(c STREQUAL "D" OR c STREQUAL "J")
        math(EXPR bytes "${bytes} + 8")
      else()
        math(EXPR bytes "${bytes} + 4")
      endif()
    endforeach()
  endif()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# The rows of the table, one list element each. JNI signatures hold ";" and
# "[", which CMake lists take for separators and brackets: they are read as
# "<semicolon>" and "<bracket>"; corvane_signature_text turns them back.
function(corvane_table_rows table out)
  file(READ "${table}" text)
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<bracket>" text "${text}")
  string(REGEX MATCHALL "\nCORVANE_METHOD\\([^\n]*" rows "${text}")
  list(TRANSFORM rows STRIP)
  set(${out} "${rows}" PARENT_SCOPE)
endfunction()

macro(corvane_signature_text var)
  string(REPLACE "<semicolon>" ";" ${var} "${${var}}")
  string(REPLACE "<bracket>" "[" ${var} "${${var}}")
endmacro()

# Reads the table into CORVANE_METHODS (names) and, per name,
# CORVANE_<name>_MANGLED and _BYTES; fails on a row that
# contradicts itself.
function(corvane_read_method_table)
  corvane_table_rows("${CORVANE_METHOD_TABLE}" rows)
  set(names "")
  foreach(row IN LISTS rows)
    if(NOT row MATCHES "^CORVANE_METHOD\\(([A-Za-z0-9_]+), ([A-Za-z0-9_]+), \"([^\"]+)\", ([0-9]+), .+\\)$")
      message(FATAL_ERROR "method table: can't read row: ${row}")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(mangled "${CMAKE_MATCH_2}")
    set(signature "${CMAKE_MATCH_3}")
    set(bytes "${CMAKE_MATCH_4}")
    corvane_signature_text(signature)
    string(REPLACE "_" "_1" expected "${name}")
    if(NOT mangled STREQUAL expected)
      message(FATAL_ERROR "method table: ${name} mangles to ${expected}, not ${mangled}")
    endif()
    corvane_signature_bytes("${signature}" expected)
    if(NOT bytes EQUAL expected)
      message(FATAL_ERROR "method table: ${name} ${signature} takes ${expected} bytes, not ${bytes}")
    endif()
    list(APPEND names ${name})
    set(CORVANE_${name}_MANGLED "${mangled}" PARENT_SCOPE)
    set(CORVANE_${name}_BYTES "${bytes}" PARENT_SCOPE)
  endforeach()
  set(CORVANE_METHODS ${names} PARENT_SCOPE)
endfunction()

# Writes the export list of one binding: a module-definition file on Windows
# (short names, and with DECORATED the "_name@N" aliases of the same
# functions), a version script elsewhere (the JNI names, all else local).
function(corvane_write_exports class_mangled out)
  cmake_parse_arguments(E "DECORATED" "" "" ${ARGN})
  corvane_read_method_table()
  if(WIN32)
    set(text "LIBRARY Corvane_jniexport32.dll\nEXPORTS\n")
    foreach(name IN LISTS CORVANE_METHODS)
      set(short "Java_${class_mangled}_${CORVANE_${name}_MANGLED}")
      set(object "${short}@${CORVANE_${name}_BYTES}")
      string(APPEND text "  ${short} = ${object}\n")
      if(E_DECORATED)
        string(APPEND text "  _${object} = ${object}\n")
      endif()
    endforeach()
  else()
    set(text "{\n  global:\n")
    foreach(name IN LISTS CORVANE_METHODS)
      string(APPEND text "    Java_${class_mangled}_${CORVANE_${name}_MANGLED};\n")
    endforeach()
    string(APPEND text "  local: *;\n};\n")
  endif()
  set(old "")
  if(EXISTS "${out}")
    file(READ "${out}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${out}" "${text}")
  endif()
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CORVANE_METHOD_TABLE}")
endfunction()

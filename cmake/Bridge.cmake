# corvane_add_bridge(<binding> JAVA_CLASS <package.Class> [DECORATED] SOURCES <variant sources>)
#
# One deliverable: the bridge compiled for one Java class, with the variant
# sources that the binding chooses, exported by the list generated from the
# method table, built as Corvane_jniexport32 into <build>/<binding>/ and
# installed into <prefix>/<binding>/.

set(CORVANE_BRIDGE_SOURCES
  ${PROJECT_SOURCE_DIR}/core/module_state.cpp
  ${PROJECT_SOURCE_DIR}/core/load_entry_point.cpp
  ${PROJECT_SOURCE_DIR}/core/report.cpp
  ${PROJECT_SOURCE_DIR}/core/text.cpp
  ${PROJECT_SOURCE_DIR}/core/settings_methods.cpp
  ${PROJECT_SOURCE_DIR}/marshal/arrays.cpp
  ${PROJECT_SOURCE_DIR}/marshal/slots.cpp
  ${PROJECT_SOURCE_DIR}/marshal/bitmap_to_pixels.cpp
  ${PROJECT_SOURCE_DIR}/methods/stream_codec_methods.cpp
  ${PROJECT_SOURCE_DIR}/methods/image_file_methods.cpp
  ${PROJECT_SOURCE_DIR}/methods/grayscale_methods.cpp)

function(corvane_add_bridge binding)
  cmake_parse_arguments(B "DECORATED" "JAVA_CLASS" "SOURCES" ${ARGN})
  string(REPLACE "." "_" header "${B_JAVA_CLASS}")
  string(REPLACE "_" "_1" class_mangled "${B_JAVA_CLASS}")
  string(REPLACE "." "_" class_mangled "${class_mangled}")
  set(target bridge_${binding})

  # The method table must agree with the Java declarations.
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/signatures.checked")
  add_custom_command(OUTPUT "${stamp}"
    COMMAND ${CMAKE_COMMAND} -DHEADER=${CMAKE_BINARY_DIR}/jni-headers/${header}.h
            -DTABLE=${CORVANE_METHOD_TABLE} -DSTAMP=${stamp} -P ${PROJECT_SOURCE_DIR}/cmake/check_signatures.cmake
    DEPENDS corvane_java ${CORVANE_METHOD_TABLE} ${PROJECT_SOURCE_DIR}/cmake/check_signatures.cmake
    COMMENT "Checking the method table against ${B_JAVA_CLASS}")
  add_custom_target(${target}_signatures DEPENDS "${stamp}")

  if(WIN32)
    set(exports "${CMAKE_CURRENT_BINARY_DIR}/Corvane_jniexport32.def")
  else()
    set(exports "${CMAKE_CURRENT_BINARY_DIR}/exports.map")
  endif()
  if(B_DECORATED)
    corvane_write_exports(${class_mangled} "${exports}" DECORATED)
  else()
    corvane_write_exports(${class_mangled} "${exports}")
  endif()

  add_library(${target} SHARED ${CORVANE_BRIDGE_SOURCES} ${B_SOURCES})
  add_dependencies(${target} ${target}_signatures)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE
    CORVANE_JNI_CLASS=${class_mangled} CORVANE_JNI_HEADER="${header}.h")
  target_link_libraries(${target} PRIVATE corvane_jni corvane_java_headers)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -O2)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME Corvane_jniexport32
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${binding}"
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${binding}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS "${exports}")
  if(WIN32)
    # SSE2 moves doubles bit for bit (x87 loads would quieten a signalling
    # NaN); the runtimes are linked in, so only system DLLs are imported.
    target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
    target_sources(${target} PRIVATE "${exports}")
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    target_link_libraries(${target} PRIVATE user32 gdi32)
    set_target_properties(${target} PROPERTIES PREFIX "")
  else()
    target_link_libraries(${target} PRIVATE corvane_posix)
    target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}" "LINKER:--no-undefined-version")
    if(NOT CORVANE_FUZZ)  # clang leaves the sanitizer runtime to the executable
      target_link_options(${target} PRIVATE "LINKER:--no-undefined")
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/..")
  endif()
  install(TARGETS ${target} LIBRARY DESTINATION ${binding} RUNTIME DESTINATION ${binding})
endfunction()

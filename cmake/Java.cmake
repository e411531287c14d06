# The Java classes: compiled into dist/java/corvane.jar by the host JDK, with
# the JNI headers that the bridge is compiled against, and the jni.h of the
# target platform.
find_package(Java 17 REQUIRED COMPONENTS Development)
include(UseJava)

get_filename_component(CORVANE_JDK "${Java_JAVAC_EXECUTABLE}" REALPATH)
get_filename_component(CORVANE_JDK "${CORVANE_JDK}" DIRECTORY)
get_filename_component(CORVANE_JDK "${CORVANE_JDK}" DIRECTORY)

add_library(corvane_jni INTERFACE)
if(WIN32)
  # jni.h with our own jni_md.h: stdcall, 32-bit long jint.
  target_include_directories(corvane_jni INTERFACE "${CORVANE_JDK}/include" "${PROJECT_SOURCE_DIR}/cmake/jni_md")
else()
  target_include_directories(corvane_jni INTERFACE "${CORVANE_JDK}/include" "${CORVANE_JDK}/include/linux")
endif()

set(CMAKE_JAVA_COMPILE_FLAGS -Xlint:all -Werror)
add_jar(corvane_java
  SOURCES java/wsq_sun_java/Corvane.java java/wsq_sun_java/Tessaly.java
  OUTPUT_NAME corvane
  GENERATE_NATIVE_HEADERS corvane_java_headers DESTINATION "${CMAKE_BINARY_DIR}/jni-headers")

if(NOT WIN32)
  install_jar(corvane_java DESTINATION ../java)
endif()

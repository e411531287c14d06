/* Machine-dependent JNI types for 32-bit Windows (i686-w64-mingw32).
 *
 * A 32-bit Windows JVM calls native methods with the stdcall convention and
 * binds them by name; the exports come from module-definition files, so
 * JNIEXPORT stays empty (a dllexport attribute would add a third, undecorated
 * name "Java_x_y@N" to the export directory). */
#ifndef CORVANE_JNI_MD_H
#define CORVANE_JNI_MD_H

#define JNIEXPORT
#define JNIIMPORT
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif

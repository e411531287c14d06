// Java strings and the image library's text: NUL-terminated modified UTF-8.
#pragma once

#include <jni.h>

namespace corvane {

// The text rule: the modified UTF-8 copy that GetStringUTFChars makes. It is
// never released, so the image library may keep the pointer for the rest of
// the process; each call leaves its own copy behind. Null, with a Java
// exception pending, for a null string (NullPointerException naming
// `parameter`) or when the JVM can make no copy (OutOfMemoryError).
const char* JavaText(JNIEnv* env, jstring string, const char* parameter);

// Throws NullPointerException naming `parameter` when `reference` is null.
bool RequireNonNull(JNIEnv* env, jobject reference, const char* parameter);

// A new Java string from the image library's text; null for null text.
// Text that is not modified UTF-8 (which NewStringUTF requires) still gives a
// string: each byte that starts no valid sequence becomes U+FFFD.
jstring NewJavaString(JNIEnv* env, const char* text);

// Throws a new exception of `exception_class` ("java/lang/NullPointerException").
void ThrowJava(JNIEnv* env, const char* exception_class, const char* message);

}  // namespace corvane

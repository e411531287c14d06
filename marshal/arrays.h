// The rules by which Java arrays cross the bridge. Each rule checks what a
// caller can get wrong before the image library is called (a Java exception:
// NullPointerException, ArrayIndexOutOfBoundsException), and stops where the
// JVM fails (null, with OutOfMemoryError pending).
#pragma once

#include <jni.h>

#include <cstdint>

namespace corvane {

// Throws NullPointerException naming `parameter` when `array` is null.
bool RequireArray(JNIEnv* env, jarray array, const char* parameter);

// Throws ArrayIndexOutOfBoundsException when `array` holds fewer than
// `needed` elements.
bool RequireLength(JNIEnv* env, jarray array, std::int64_t needed, const char* parameter);

// Throws ArrayIndexOutOfBoundsException when width and height are both
// positive and `array` holds fewer than width × height elements (the product
// taken in 64 bits, so an overflowing product is always too long).
bool RequireElements(JNIEnv* env, jarray array, jint width, jint height, const char* parameter);

// Input byte array: the elements as the image library receives them, never
// released, so the image library may keep the pointer. Null, with
// OutOfMemoryError pending, when the JVM can't hand them out.
unsigned char* InputBytes(JNIEnv* env, jbyteArray array);

// The number of bytes in a width × height image of one byte per pixel as the
// image library reported it; -1 for a negative size or one beyond 2^31 - 1.
jint PixelCount(jint width, jint height);

// Result byte array: a new array of `count` bytes copied in one block from
// the image library's buffer, which stays the image library's. Null, with
// nothing pending, when the report can't be copied (a negative count, or a
// positive count with a null buffer); null with OutOfMemoryError pending when
// the JVM can't make the array.
jbyteArray ResultBytes(JNIEnv* env, const unsigned char* buffer, jint count);

// InfoArray: width, height and depth into elements 0, 1 and 2, in one call.
// A shorter array leaves ArrayIndexOutOfBoundsException pending.
void FillInfoArray(JNIEnv* env, jintArray info, jint width, jint height, jint depth);

}  // namespace corvane

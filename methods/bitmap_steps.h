// Steps that the bitmap methods share around their entry-point call.
#pragma once

#include <jni.h>

#include "marshal/arrays.h"
#include "marshal/bitmaps.h"

namespace corvane {

inline const WCHAR* const kUnableToGetBitmap = CORVANE_WIDE("Unable to get HBITMAP");
inline const WCHAR* const kUnableToCreateBitmap = CORVANE_WIDE("Unable to create HBITMAP");

// SizeArray must be non-null and hold two elements before the image library
// is called.
inline bool RequireSizeArray(JNIEnv* env, jintArray size) {
  return RequireArray(env, size, "sizeArray") && RequireLength(env, size, 2, "sizeArray");
}

// An input PixelArray must be non-null and hold width × height elements.
inline bool RequirePixels(JNIEnv* env, jintArray pixels, jint width, jint height) {
  return RequireArray(env, pixels, "pixels") && RequireElements(env, pixels, width, height, "pixels");
}

// False after "Unable to create HBITMAP" when PixelsToBitmap made no bitmap
// (or the JVM failed, with its exception pending).
template <typename Call>
bool HaveBitmap(JNIEnv* env, Call& call, const BitmapFromPixels& bitmap) {
  if (bitmap.get()) return true;
  if (!env->ExceptionCheck()) call.Report(kUnableToCreateBitmap);
  return false;
}

// The pixels of a bitmap that the image library returned, with its size in
// SizeArray; null after "Unable to get HBITMAP" when there is no bitmap, or
// one that GDI can't read or whose size can't be a Java array.
template <typename Call>
jintArray PixelsOfReturnedBitmap(JNIEnv* env, Call& call, HBITMAP bitmap, jintArray size) {
  jint width = 0, height = 0;
  if (!bitmap || !QueryBitmap(bitmap, &width, &height)) {
    call.Report(kUnableToGetBitmap);
    return nullptr;
  }
  return BitmapToPixels(env, bitmap, width, height, size);
}

}  // namespace corvane

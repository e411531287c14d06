// Pixels and GDI bitmaps. A PixelArray is width × height ints, row-major, top
// row first, each 0x00RRGGBB, which in memory is the row layout of an
// uncompressed 32-bit top-down DIB.
#pragma once

#include <jni.h>

#include "marshal/arrays.h"
#include "platform/winapi.h"

namespace corvane {

// --- Shared by both bindings. ---

// BitmapToPixels, steps after the query: the size into SizeArray, then a new
// PixelArray that GDI fills straight from the bitmap, top row first. Null,
// with OutOfMemoryError pending, when the JVM can't provide the arrays.
jintArray BitmapToPixels(JNIEnv* env, HBITMAP bitmap, jint width, jint height, jintArray size);

// The bitmap's width and height through GDI's query `GetObjectFn`; false
// when GDI can't read the handle or its size can't be a Java array.
template <auto GetObjectFn>
bool QueryBitmapThrough(HBITMAP bitmap, jint* width, jint* height) {
  BITMAP record{};
  if (GetObjectFn(bitmap, sizeof record, &record) < static_cast<int>(sizeof record)) return false;
  if (PixelCount(record.bmWidth, record.bmHeight) < 0) return false;
  *width = record.bmWidth;
  *height = record.bmHeight;
  return true;
}

// --- One variant per binding. ---

// QueryBitmapThrough GetObjectW in the demo binding, GetObjectA in the
// library binding.
bool QueryBitmap(HBITMAP bitmap, jint* width, jint* height);

// PixelsToBitmap: a bitmap of the pixels for the image library, or null when
// none could be made. Every call is paired with EndBitmapUse once the image
// library is done with the bitmap and what it returned has been read (it may
// return the very bitmap it received).
HBITMAP PixelsToBitmap(JNIEnv* env, jintArray pixels, jint width, jint height);
void EndBitmapUse(HBITMAP made);

// The bitmap of a method call, from PixelsToBitmap to EndBitmapUse.
class BitmapFromPixels {
 public:
  BitmapFromPixels(JNIEnv* env, jintArray pixels, jint width, jint height)
      : made_(PixelsToBitmap(env, pixels, width, height)) {}
  ~BitmapFromPixels() { EndBitmapUse(made_); }
  BitmapFromPixels(const BitmapFromPixels&) = delete;
  BitmapFromPixels& operator=(const BitmapFromPixels&) = delete;

  HBITMAP get() const { return made_; }

 private:
  HBITMAP made_;
};

}  // namespace corvane

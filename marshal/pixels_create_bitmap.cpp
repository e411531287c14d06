// The library binding's PixelsToBitmap: GDI makes a new 32-bit bitmap
// straight from the Java array's memory, whose layout is GDI's own. The
// bridge deletes that bitmap once the image library is done with it and what
// it returned has been read, also when that is the very same bitmap: GDI
// objects are few (some 10,000 per process), and one per call would run out.
#include <cstdint>
#include <cstdlib>

#include "marshal/bitmaps.h"
#include "marshal/scoped_critical.h"

namespace corvane {

bool QueryBitmap(HBITMAP bitmap, jint* width, jint* height) {
  return QueryBitmapThrough<GetObjectA>(bitmap, width, height);
}

HBITMAP PixelsToBitmap(JNIEnv* env, jintArray pixels, jint width, jint height) {
  // GDI takes a negative width or height by its magnitude and reads that many
  // pixels: when the array holds fewer, no bitmap is made of it. (Positive
  // sizes were checked against the array before.)
  const std::int64_t magnitude = std::abs(std::int64_t{width}) * std::abs(std::int64_t{height});
  if (magnitude > env->GetArrayLength(pixels)) return nullptr;
  ScopedCritical elements(env, pixels, JNI_ABORT);
  if (!elements) return nullptr;
  const HBITMAP bitmap = CreateBitmap(width, height, 1, 32, elements.get<jint>());
  elements.Release();
  return bitmap;
}

void EndBitmapUse(HBITMAP made) {
  if (made) DeleteObject(made);
}

}  // namespace corvane

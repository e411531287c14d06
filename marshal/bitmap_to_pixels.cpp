#include "marshal/bitmaps.h"
#include "marshal/scoped_critical.h"

namespace corvane {

jintArray BitmapToPixels(JNIEnv* env, HBITMAP bitmap, jint width, jint height, jintArray size) {
  {
    ScopedCritical sizes(env, size, 0);
    if (!sizes) return nullptr;
    sizes.get<jint>()[0] = width;
    sizes.get<jint>()[1] = height;
  }

  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  header.bmiHeader.biWidth = width;
  header.bmiHeader.biHeight = -height;  // top row first
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;

  const HDC dc = CreateCompatibleDC(nullptr);
  const jintArray pixels = env->NewIntArray(width * height);
  if (pixels && width > 0 && height > 0) {
    ScopedCritical elements(env, pixels, 0);
    // 32 bits per pixel: rows need no padding, row r starts at element r × width.
    if (elements) GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), elements.get<jint>(), &header, DIB_RGB_COLORS);
  }
  DeleteDC(dc);
  return env->ExceptionCheck() ? nullptr : pixels;
}

}  // namespace corvane

// The demo binding's PixelsToBitmap: the pixels go into SharedBitmap, one
// 24-bit bitmap object per module that every call rebuilds; its handle stays
// valid for the image library until the next rebuild. The three methods that
// rebuild it are serialised from the rebuild until the image library's result
// has been read, so that overlapping calls never delete a bitmap in use. The
// lock is taken before the critical region opens: a thread never waits for
// another while it holds one.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "marshal/bitmaps.h"
#include "marshal/scoped_critical.h"
#include "marshal/shared_bitmap.h"

namespace corvane {

namespace {
// Module state, never destroyed: the last object lives until the process ends.
Dib24* SharedBitmap = nullptr;
std::mutex SharedBitmapInUse;

// Blue, green and red of each element, three bytes a pixel; bits 24-31 are
// dropped. Four pixels at a time go out as three 32-bit words holding
// exactly those twelve bytes; the rest of the row one pixel at a time.
void PackRow24(const jint* row, int columns, unsigned char* out) {
  int c = 0;
  for (; c + 4 <= columns; c += 4, out += 12) {
    const auto p0 = static_cast<std::uint32_t>(row[c]), p1 = static_cast<std::uint32_t>(row[c + 1]);
    const auto p2 = static_cast<std::uint32_t>(row[c + 2]), p3 = static_cast<std::uint32_t>(row[c + 3]);
    const std::uint32_t words[3] = {(p0 & 0xFFFFFF) | p1 << 24, (p1 >> 8 & 0xFFFF) | p2 << 16,
                                    (p2 >> 16 & 0xFF) | p3 << 8};
    std::memcpy(out, words, sizeof words);  // little-endian: the bytes in pixel order
  }
  for (; c < columns; ++c, out += 3) {
    const auto e = static_cast<std::uint32_t>(row[c]);
    out[0] = static_cast<unsigned char>(e);
    out[1] = static_cast<unsigned char>(e >> 8);
    out[2] = static_cast<unsigned char>(e >> 16);
  }
}

}  // namespace

bool QueryBitmap(HBITMAP bitmap, jint* width, jint* height) {
  return QueryBitmapThrough<GetObjectW>(bitmap, width, height);
}

HBITMAP PixelsToBitmap(JNIEnv* env, jintArray pixels, jint width, jint height) {
  SharedBitmapInUse.lock();  // until EndBitmapUse
  ScopedCritical elements(env, pixels, JNI_ABORT);
  if (!elements) return nullptr;
  delete SharedBitmap;  // and with it the bitmap the previous call handed out
  SharedBitmap = new (std::nothrow) Dib24;
  if (!SharedBitmap) return nullptr;
  SharedBitmap->SetWidth(width);
  SharedBitmap->SetHeight(height);
  SharedBitmap->SetPixelFormat24();

  const jint* source = elements.get<jint>();
  const int rows = SharedBitmap->height(), columns = SharedBitmap->width();
  for (int r = 0; r < rows; ++r) {
    PackRow24(source + static_cast<std::size_t>(r) * columns, columns, SharedBitmap->Row(r));
  }
  const HBITMAP handle = SharedBitmap->Handle();
  elements.Release();
  return handle;
}

void EndBitmapUse(HBITMAP) { SharedBitmapInUse.unlock(); }

}  // namespace corvane

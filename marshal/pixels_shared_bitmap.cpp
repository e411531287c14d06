// The demo binding's PixelsToBitmap: the pixels go into SharedBitmap, one
// 24-bit bitmap object per module that every call rebuilds; its handle stays
// valid for the image library until the next rebuild. The three methods that
// rebuild it are serialised from the rebuild until the image library's result
// has been read, so that overlapping calls never delete a bitmap in use. The
// lock is taken before the critical region opens: a thread never waits for
// another while it holds one.
#include <cstdint>
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
// dropped. The plain byte loop: compilers turn it into byte shuffles where
// the processor has SSSE3, which doubles its speed; the bridge itself only
// assumes SSE2, so that variant is chosen at run time.
inline __attribute__((always_inline)) void PackRow24Loop(const jint* __restrict row, int columns,
                                                         unsigned char* __restrict out) {
  for (int c = 0; c < columns; ++c) {
    const auto e = static_cast<std::uint32_t>(row[c]);
    out[3 * c] = static_cast<unsigned char>(e);
    out[3 * c + 1] = static_cast<unsigned char>(e >> 8);
    out[3 * c + 2] = static_cast<unsigned char>(e >> 16);
  }
}

#if defined(__clang__)
#define CORVANE_VECTORIZE __attribute__((target("ssse3")))
#else
#define CORVANE_VECTORIZE __attribute__((target("ssse3"), optimize("tree-vectorize")))
#endif

CORVANE_VECTORIZE void PackRow24Ssse3(const jint* row, int columns, unsigned char* out) {
  PackRow24Loop(row, columns, out);
}
void PackRow24Sse2(const jint* row, int columns, unsigned char* out) { PackRow24Loop(row, columns, out); }

using PackRow24Fn = void (*)(const jint*, int, unsigned char*);
PackRow24Fn PackRow24ForThisProcessor() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") ? PackRow24Ssse3 : PackRow24Sse2;
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

  static const PackRow24Fn PackRow24 = PackRow24ForThisProcessor();
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

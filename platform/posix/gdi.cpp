// GDI bitmaps in memory: device-dependent bitmaps, DIB sections and memory
// device contexts behind handles, and GetDIBits converting any of them to a
// 24- or 32-bit BI_RGB buffer.
//
// Handles are numbers from a counter, never addresses, so a deleted handle
// never names a later object. The table is guarded by one mutex; a call that
// reads pixels holds a reference to the bitmap, not the lock, while it copies.
#include <sys/mman.h>
#include <tmmintrin.h>

#include <algorithm>
#include <array>
#include <utility>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "posix/posix_hooks.h"

namespace {

// Largest pixel storage accepted: what a signed 32-bit size can express.
constexpr std::uint64_t kMaxStorage = std::numeric_limits<std::int32_t>::max();

// Row sizes: DDB rows are padded to 2 bytes, DIB rows to 4.
constexpr std::uint64_t DdbStride(std::uint64_t width, unsigned bpp) { return (width * bpp + 15) / 16 * 2; }
constexpr std::uint64_t DibStride(std::uint64_t width, unsigned bpp) { return (width * bpp + 31) / 32 * 4; }

// Pixel storage of 2 MiB and more is aligned to, and advised for, 2 MiB
// pages, and the last two such blocks freed are kept for the next bitmap of
// the same size: faulting in a fresh 64 MiB image costs more than copying it,
// and a bitmap per call of the same size is the common case.
class Storage {
 public:
  static constexpr std::size_t kLargePage = std::size_t{2} << 20;
  static constexpr std::size_t kLargestKept = std::size_t{256} << 20;

  static std::uint8_t* Allocate(std::size_t size, bool zeroed) {
    if (size < kLargePage) return static_cast<std::uint8_t*>(zeroed ? std::calloc(size, 1) : std::malloc(size));
    const std::size_t rounded = Rounded(size);
    void* pixels = Kept().Take(rounded);
    if (!pixels) {
      pixels = std::aligned_alloc(kLargePage, rounded);
      if (!pixels) return nullptr;
      madvise(pixels, rounded, MADV_HUGEPAGE);  // only advice: fine if it is not taken
    }
    if (zeroed) std::memset(pixels, 0, size);
    return static_cast<std::uint8_t*>(pixels);
  }

  static void Free(std::uint8_t* pixels, std::size_t size) {
    if (!pixels) return;
    if (size < kLargePage || Rounded(size) > kLargestKept) {
      std::free(pixels);
      return;
    }
    Kept().Put(pixels, Rounded(size));
  }

 private:
  static std::size_t Rounded(std::size_t size) { return (size + kLargePage - 1) / kLargePage * kLargePage; }

  struct Block {
    void* pixels = nullptr;
    std::size_t size = 0;
  };
  class Cache {
   public:
    void* Take(std::size_t size) {
      std::lock_guard lock(mutex_);
      for (Block& b : blocks_) {
        if (b.pixels && b.size == size) return std::exchange(b.pixels, nullptr);
      }
      return nullptr;
    }
    void Put(void* pixels, std::size_t size) {
      void* evicted;
      {
        std::lock_guard lock(mutex_);
        Block& oldest = blocks_[next_];
        next_ = (next_ + 1) % blocks_.size();
        evicted = std::exchange(oldest.pixels, pixels);
        oldest.size = size;
      }
      std::free(evicted);
    }

   private:
    std::mutex mutex_;
    std::array<Block, 2> blocks_{};
    std::size_t next_ = 0;
  };
  static Cache& Kept() {
    static Cache* cache = new Cache;  // never destroyed: bitmaps may outlive static destructors
    return *cache;
  }
};

struct Bitmap {
  Bitmap() = default;
  ~Bitmap() { Storage::Free(pixels, storage_size); }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  int width = 0;
  int height = 0;  // always positive
  unsigned bpp = 0;
  bool dib = false;        // DIB section: bmBits is reported
  bool bottom_up = false;  // storage holds the bottom row first
  std::size_t stride = 0;
  std::uint8_t* pixels = nullptr;
  std::size_t storage_size = 0;
  std::array<RGBQUAD, 256> colors{};  // 1, 4 and 8 bits per pixel; unused entries black

  // Row `y` counted from the top of the image.
  const std::uint8_t* Row(int y) const {
    return pixels + static_cast<std::size_t>(bottom_up ? height - 1 - y : y) * stride;
  }
};

std::shared_ptr<Bitmap> NewBitmap(int width, int height, unsigned bpp, std::uint64_t stride, bool zeroed) {
  const std::uint64_t size = stride * static_cast<std::uint64_t>(height);
  if (size > kMaxStorage) return nullptr;
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->pixels = Storage::Allocate(static_cast<std::size_t>(size), zeroed);
  if (!bitmap->pixels) return nullptr;
  bitmap->storage_size = static_cast<std::size_t>(size);
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bpp = bpp;
  bitmap->stride = static_cast<std::size_t>(stride);
  return bitmap;
}

// The one stock bitmap: 1×1 monochrome, black, never deleted.
constexpr std::uintptr_t kStockBitmap = 0x100;

class Table {
 public:
  Table() {
    auto stock = NewBitmap(1, 1, 1, DdbStride(1, 1), true);
    stock->colors[1] = {255, 255, 255, 0};
    bitmaps_.emplace(kStockBitmap, std::move(stock));
  }

  void* AddBitmap(std::shared_ptr<Bitmap> bitmap) {
    std::lock_guard lock(mutex_);
    const std::uintptr_t handle = next_++;
    bitmaps_.emplace(handle, std::move(bitmap));
    return reinterpret_cast<void*>(handle);
  }

  void* AddDc() {
    std::lock_guard lock(mutex_);
    const std::uintptr_t handle = next_++;
    dcs_.insert(handle);
    return reinterpret_cast<void*>(handle);
  }

  std::shared_ptr<const Bitmap> FindBitmap(const void* handle) const {
    std::lock_guard lock(mutex_);
    const auto found = bitmaps_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == bitmaps_.end() ? nullptr : found->second;
  }

  bool IsDc(const void* handle) const {
    std::lock_guard lock(mutex_);
    return dcs_.contains(reinterpret_cast<std::uintptr_t>(handle));
  }

  // The bitmap's storage is freed here unless a reader still holds it.
  bool RemoveBitmap(const void* handle) {
    const auto key = reinterpret_cast<std::uintptr_t>(handle);
    std::shared_ptr<Bitmap> removed;
    std::lock_guard lock(mutex_);
    if (key == kStockBitmap) return true;
    const auto found = bitmaps_.find(key);
    if (found == bitmaps_.end()) return false;
    removed = std::move(found->second);  // released after the lock
    bitmaps_.erase(found);
    return true;
  }

  bool RemoveDc(const void* handle) {
    std::lock_guard lock(mutex_);
    return dcs_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
  }

  int Count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(bitmaps_.size() - 1 + dcs_.size());
  }

 private:
  mutable std::mutex mutex_;
  std::uintptr_t next_ = 0x10000;
  std::unordered_map<std::uintptr_t, std::shared_ptr<Bitmap>> bitmaps_;
  std::unordered_set<std::uintptr_t> dcs_;
};

Table& Objects() {
  static Table table;
  return table;
}

// 24-bit pixels to 32 bits, the fourth byte 0. With SSSE3, four pixels at a
// time through one byte shuffle; each 16-byte load uses 12 bytes, so the
// loop stops while 18 bytes remain and the last two to five pixels go one at
// a time. Without SSSE3, one pixel at a time.
void UnpackRow24Plain(const std::uint8_t* s, std::uint8_t* d, int count) {
  for (int i = 0; i < count; ++i) {
    d[4 * i] = s[3 * i];
    d[4 * i + 1] = s[3 * i + 1];
    d[4 * i + 2] = s[3 * i + 2];
    d[4 * i + 3] = 0;
  }
}
__attribute__((target("ssse3"))) void UnpackRow24Ssse3(const std::uint8_t* s, std::uint8_t* d, int count) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128);
  int i = 0;
  for (; i + 6 <= count; i += 4) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * i), _mm_shuffle_epi8(in, order));
  }
  UnpackRow24Plain(s + 3 * i, d + 4 * i, count - i);
}

using UnpackRow24Fn = void (*)(const std::uint8_t*, std::uint8_t*, int);
UnpackRow24Fn UnpackRow24ForThisProcessor() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") ? UnpackRow24Ssse3 : UnpackRow24Plain;
}

// Converts `count` pixels of one source row to B,G,R (and 0 when N is 4).
template <int N>
void ConvertRow(const Bitmap& source, const std::uint8_t* __restrict s, std::uint8_t* __restrict d, int count) {
  const auto put = [](std::uint8_t* p, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    p[0] = b;
    p[1] = g;
    p[2] = r;
    if constexpr (N == 4) p[3] = 0;
  };
  switch (source.bpp) {
    case 32:
      if constexpr (N == 4) {
        std::memcpy(d, s, static_cast<std::size_t>(count) * 4);  // all four bytes as they are
      } else {
        for (int i = 0; i < count; ++i) put(d + 3 * i, s[4 * i], s[4 * i + 1], s[4 * i + 2]);
      }
      break;
    case 24: {
      if constexpr (N == 4) {
        static const auto unpack = UnpackRow24ForThisProcessor();
        unpack(s, d, count);
      } else {
        for (int i = 0; i < count; ++i) put(d + N * i, s[3 * i], s[3 * i + 1], s[3 * i + 2]);
      }
      break;
    }
    case 16:  // 5-5-5, blue in the low bits
      for (int i = 0; i < count; ++i) {
        const unsigned v = s[2 * i] | s[2 * i + 1] << 8;
        const auto expand = [v](int shift) {
          const unsigned c = v >> shift & 31;
          return static_cast<std::uint8_t>(c << 3 | c >> 2);
        };
        put(d + N * i, expand(0), expand(5), expand(10));
      }
      break;
    case 8:
      for (int i = 0; i < count; ++i) {
        const RGBQUAD& c = source.colors[s[i]];
        put(d + N * i, c.rgbBlue, c.rgbGreen, c.rgbRed);
      }
      break;
    default: {  // 1 or 4: the leftmost pixel in the high bits of each byte
      const unsigned bpp = source.bpp;
      const unsigned per_byte = 8 / bpp;
      const unsigned mask = (1u << bpp) - 1;
      for (int i = 0; i < count; ++i) {
        const unsigned shift = 8 - bpp * (i % per_byte + 1);
        const RGBQUAD& c = source.colors[s[i / per_byte] >> shift & mask];
        put(d + N * i, c.rgbBlue, c.rgbGreen, c.rgbRed);
      }
    }
  }
}

// The query form of GetDIBits: with biBitCount 0 it describes the bitmap,
// otherwise it gives the image size of the described buffer.
int DescribeForGetDIBits(const Bitmap& source, BITMAPINFOHEADER& header) {
  if (header.biBitCount == 0) {
    header.biWidth = source.width;
    header.biHeight = source.height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(source.bpp);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(DibStride(source.width, source.bpp) * source.height);
    header.biClrUsed = 0;
    return source.height;
  }
  if ((header.biBitCount != 24 && header.biBitCount != 32) || header.biCompression != BI_RGB ||
      header.biWidth <= 0 || header.biHeight == 0) {
    return 0;
  }
  const std::uint64_t rows = header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
  const std::uint64_t size = DibStride(header.biWidth, header.biBitCount) * rows;
  if (size > std::numeric_limits<DWORD>::max()) return 0;
  header.biSizeImage = static_cast<DWORD>(size);
  return source.height;
}

}  // namespace

extern "C" {

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bits_per_pixel, const void* bits) {
  // A negative size counts by its magnitude, as GDI takes it.
  if (width == std::numeric_limits<int>::min() || height == std::numeric_limits<int>::min()) return nullptr;
  width = width < 0 ? -width : width;
  height = height < 0 ? -height : height;
  if (planes != 1) return nullptr;
  if (bits_per_pixel != 1 && bits_per_pixel != 16 && bits_per_pixel != 24 && bits_per_pixel != 32) return nullptr;
  if (width == 0 || height == 0) return reinterpret_cast<HBITMAP>(kStockBitmap);
  try {
    const std::uint64_t stride = DdbStride(width, bits_per_pixel);
    auto bitmap = NewBitmap(width, height, bits_per_pixel, stride, bits == nullptr);
    if (!bitmap) return nullptr;
    // Stored as given: top row first, rows padded to 2 bytes.
    if (bits) std::memcpy(bitmap->pixels, bits, stride * static_cast<std::size_t>(height));
    if (bits_per_pixel == 1) bitmap->colors[1] = {255, 255, 255, 0};
    return static_cast<HBITMAP>(Objects().AddBitmap(std::move(bitmap)));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD) {
  if (bits) *bits = nullptr;
  // The device context only matters for palette-index colour tables, which
  // are not supported; neither are file-mapping sections.
  if (!info || usage != DIB_RGB_COLORS || section) return nullptr;
  const BITMAPINFOHEADER& header = info->bmiHeader;
  const unsigned bpp = header.biBitCount;
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 || header.biCompression != BI_RGB) {
    return nullptr;
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
  if (header.biWidth <= 0 || header.biHeight == 0) return nullptr;
  const std::int64_t height = header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
  if (height > std::numeric_limits<int>::max()) return nullptr;
  try {
    auto bitmap = NewBitmap(header.biWidth, static_cast<int>(height), bpp, DibStride(header.biWidth, bpp), true);
    if (!bitmap) return nullptr;
    bitmap->dib = true;
    bitmap->bottom_up = header.biHeight > 0;
    if (bpp <= 8) {
      // The colour table follows the header; biClrUsed 0 means a full table,
      // more entries than the depth can index are ignored.
      const DWORD full = 1u << bpp;
      const DWORD used = header.biClrUsed == 0 ? full : std::min(header.biClrUsed, full);
      const auto* table = reinterpret_cast<const std::uint8_t*>(info) + header.biSize;
      std::memcpy(bitmap->colors.data(), table, used * sizeof(RGBQUAD));
    }
    void* pixels = bitmap->pixels;
    const HBITMAP handle = static_cast<HBITMAP>(Objects().AddBitmap(std::move(bitmap)));
    if (bits) *bits = pixels;
    return handle;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int GetObjectW(HANDLE object, int size, LPVOID record) {
  const auto bitmap = Objects().FindBitmap(object);
  if (!bitmap) return 0;
  if (!record) return sizeof(BITMAP);
  if (size < static_cast<int>(sizeof(BITMAP))) return 0;
  BITMAP filled{};
  filled.bmType = 0;
  filled.bmWidth = bitmap->width;
  filled.bmHeight = bitmap->height;
  filled.bmWidthBytes = static_cast<LONG>(bitmap->stride);
  filled.bmPlanes = 1;
  filled.bmBitsPixel = static_cast<WORD>(bitmap->bpp);
  filled.bmBits = bitmap->dib ? bitmap->pixels : nullptr;
  std::memcpy(record, &filled, sizeof filled);
  return sizeof(BITMAP);
}

// A BITMAP record holds no text: both forms are the same.
int GetObjectA(HANDLE object, int size, LPVOID record) { return GetObjectW(object, size, record); }

HDC CreateCompatibleDC(HDC dc) {
  if (dc && !Objects().IsDc(dc)) return nullptr;
  try {
    return static_cast<HDC>(Objects().AddDc());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

BOOL DeleteDC(HDC dc) { return Objects().RemoveDc(dc) ? 1 : 0; }

int GetDIBits(HDC dc, HBITMAP handle, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
  if (!info || usage != DIB_RGB_COLORS || !Objects().IsDc(dc)) return 0;
  const auto bitmap = Objects().FindBitmap(handle);
  if (!bitmap) return 0;
  const Bitmap& source = *bitmap;
  BITMAPINFOHEADER& header = info->bmiHeader;
  if (header.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (!bits) return DescribeForGetDIBits(source, header);

  const unsigned depth = header.biBitCount;
  if ((depth != 24 && depth != 32) || header.biCompression != BI_RGB || header.biWidth <= 0 || header.biHeight == 0) {
    return 0;
  }
  // Scan line k of the buffer holds scan line start + k of the image; scan
  // lines count from the bottom for a bottom-up buffer, from the top for a
  // top-down one. Only the part of the image inside the buffer is copied.
  const bool top_down = header.biHeight < 0;
  const std::int64_t buffer_rows = top_down ? -std::int64_t{header.biHeight} : header.biHeight;
  if (start >= static_cast<UINT>(source.height)) return 0;
  const int count = static_cast<int>(std::min<std::int64_t>({lines, buffer_rows, source.height - std::int64_t{start}}));
  if (count == 0) return 0;
  const int columns = std::min<int>(header.biWidth, source.width);
  const std::size_t stride = DibStride(header.biWidth, depth);
  const auto image_row = [&](int k) {
    const int line = static_cast<int>(start) + k;
    return top_down ? line : source.height - 1 - line;
  };
  auto* out = static_cast<std::uint8_t*>(bits);

  if (depth == 32 && source.bpp == 32) {
    const std::uint8_t* first = source.Row(image_row(0));
    const bool contiguous = static_cast<std::size_t>(columns) * 4 == stride && source.stride == stride &&
                            (count == 1 || source.Row(image_row(1)) == first + stride);
    if (contiguous) {
      std::memcpy(out, first, stride * static_cast<std::size_t>(count));
      return count;
    }
  }
  for (int k = 0; k < count; ++k) {
    std::uint8_t* row = out + stride * static_cast<std::size_t>(k);
    if (depth == 32) {
      ConvertRow<4>(source, source.Row(image_row(k)), row, columns);
    } else {
      ConvertRow<3>(source, source.Row(image_row(k)), row, columns);
    }
  }
  return count;
}

BOOL DeleteObject(HGDIOBJ object) { return Objects().RemoveBitmap(object) ? 1 : 0; }

int CorvanePosix_GdiObjectCount() { return Objects().Count(); }

}  // extern "C"

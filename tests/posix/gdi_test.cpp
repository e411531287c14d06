// GDI bitmaps of the POSIX layer: every source format read back through
// GetDIBits, the BITMAP record, handle lifetimes and the limits of each call.
#include <gtest/gtest.h>

#include <climits>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "posix/posix_hooks.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Pixel = std::array<std::uint8_t, 4>;

struct BitmapDeleter {
  void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using OwnedBitmap = std::unique_ptr<HBITMAP__, BitmapDeleter>;

struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using OwnedDc = std::unique_ptr<HDC__, DcDeleter>;

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 64;

enum class Kind { Ddb, DibBottomUp, DibTopDown };

BITMAPINFOHEADER Header(int width, int height, int bpp) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bpp);
  header.biCompression = BI_RGB;
  return header;
}

// A buffer of `rows` top-down rows of the given row size, followed by a guard.
struct Destination {
  Destination(std::size_t stride, int rows) : stride(stride), bytes(stride * rows + kGuardBytes, kGuard) {}
  const std::uint8_t* Row(int y) const { return bytes.data() + stride * y; }
  Pixel At(int x, int y, int size = 4) const {
    Pixel p{};
    std::memcpy(p.data(), Row(y) + x * size, size);
    return p;
  }
  bool Untouched(std::size_t from, std::size_t to) const {
    for (std::size_t i = from; i < to; ++i) {
      if (bytes[i] != kGuard) return false;
    }
    return true;
  }
  bool GuardIntact() const { return Untouched(bytes.size() - kGuardBytes, bytes.size()); }
  std::size_t stride;
  Bytes bytes;
};

// Reads `rows` rows of `width` pixels, 32 bits each, top row first.
int ReadTopDown32(HBITMAP bitmap, int width, int rows, Destination& out, UINT start = 0) {
  const OwnedDc dc(CreateCompatibleDC(nullptr));
  BITMAPINFO info{};
  info.bmiHeader = Header(width, -rows, 32);
  return GetDIBits(dc.get(), bitmap, start, static_cast<UINT>(rows), out.bytes.data(), &info, DIB_RGB_COLORS);
}

// A source image: pixel (x, y), y counted from the top, as a raw value of
// the format, stored with the row padding and row order of `kind`.
struct Source {
  Kind kind;
  int bpp;
  int width;
  int height;
  DWORD colors_used;  // DIB colour tables: 0 for a full table

  // More entries than the depth can index are not read.
  int TableSize() const { return bpp > 8 ? 0 : colors_used ? std::min<int>(colors_used, 1 << bpp) : 1 << bpp; }

  std::uint32_t Raw(int x, int y) const {
    const std::uint32_t hash = (x * 7u + y * 13u + 5u) * 2654435761u;
    if (bpp == 1 || bpp == 4 || bpp == 8) return hash % static_cast<std::uint32_t>(TableSize());
    return bpp == 32 ? hash : hash & ((1u << bpp) - 1);  // 16: bit 15 set at times, and ignored
  }

  // Colour table entry k; the reserved byte must not reach the output.
  static RGBQUAD Color(int k) {
    return {static_cast<BYTE>(10 * k + 1), static_cast<BYTE>(20 * k + 2), static_cast<BYTE>(30 * k + 3), 0x77};
  }

  Pixel Expected(int x, int y) const {
    const std::uint32_t v = Raw(x, y);
    const auto five = [v](int shift) { const unsigned c = v >> shift & 31; return static_cast<std::uint8_t>(c << 3 | c >> 2); };
    switch (bpp) {
      case 32: return std::bit_cast<Pixel>(v);  // stored as these four bytes, kept as they are
      case 24: return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16), 0};
      case 16: return {five(0), five(5), five(10), 0};
      default: {
        if (kind == Kind::Ddb) return v ? Pixel{255, 255, 255, 0} : Pixel{0, 0, 0, 0};
        const RGBQUAD c = Color(static_cast<int>(v));
        return {c.rgbBlue, c.rgbGreen, c.rgbRed, 0};
      }
    }
  }

  std::size_t Stride() const {
    const std::size_t bits = static_cast<std::size_t>(width) * bpp;
    return kind == Kind::Ddb ? (bits + 15) / 16 * 2 : (bits + 31) / 32 * 4;
  }

  // All padding bits are set, so that a reader that strays into them shows.
  void Store(std::uint8_t* storage) const {
    std::memset(storage, 0xFF, Stride() * height);
    for (int y = 0; y < height; ++y) {
      std::uint8_t* row = storage + Stride() * (kind == Kind::DibBottomUp ? height - 1 - y : y);
      for (int x = 0; x < width; ++x) {
        const std::uint32_t v = Raw(x, y);
        if (bpp >= 8) {
          for (int b = 0; b < bpp / 8; ++b) row[x * (bpp / 8) + b] = static_cast<std::uint8_t>(v >> 8 * b);
        } else {
          const int shift = 8 - bpp * (x % (8 / bpp) + 1);
          std::uint8_t& byte = row[x * bpp / 8];
          byte = static_cast<std::uint8_t>((byte & ~(((1 << bpp) - 1) << shift)) | v << shift);
        }
      }
    }
  }

  OwnedBitmap Create() const {
    if (kind == Kind::Ddb) {
      Bytes data(Stride() * height);
      Store(data.data());
      return OwnedBitmap(CreateBitmap(width, height, 1, bpp, data.data()));
    }
    std::vector<std::uint8_t> storage(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* info = reinterpret_cast<BITMAPINFO*>(storage.data());
    info->bmiHeader = Header(width, kind == Kind::DibBottomUp ? height : -height, bpp);
    info->bmiHeader.biClrUsed = colors_used;
    auto* table = reinterpret_cast<RGBQUAD*>(storage.data() + sizeof(BITMAPINFOHEADER));
    for (int k = 0; k < TableSize(); ++k) table[k] = Color(k);
    void* bits = nullptr;
    OwnedBitmap bitmap(CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits, nullptr, 0));
    std::memset(table, 0x5A, 256 * sizeof(RGBQUAD));  // the section keeps a copy
    if (bits) Store(static_cast<std::uint8_t*>(bits));
    return bitmap;
  }

  std::string Name() const {
    const char* kinds[] = {"DDB", "DIB bottom-up", "DIB top-down"};
    return std::string(kinds[static_cast<int>(kind)]) + " " + std::to_string(bpp) + " bpp, " + std::to_string(width) +
           "x" + std::to_string(height) + ", " + std::to_string(colors_used) + " colours";
  }
};

std::vector<Source> AllSources() {
  std::vector<Source> sources;
  for (const int width : {3, 5, 17}) {
    for (const int bpp : {1, 16, 24, 32}) sources.push_back({Kind::Ddb, bpp, width, 3, 0});
    for (const Kind kind : {Kind::DibBottomUp, Kind::DibTopDown}) {
      for (const int bpp : {1, 4, 8, 16, 24, 32}) sources.push_back({kind, bpp, width, 3, 0});
      sources.push_back({kind, 4, width, 3, 5});
      sources.push_back({kind, 8, width, 3, 20});
      sources.push_back({kind, 1, width, 3, 300});
    }
  }
  return sources;
}

class GdiTest : public ::testing::Test {
 protected:
  // Every test leaves the object count where it found it.
  void TearDown() override { EXPECT_EQ(CorvanePosix_GdiObjectCount(), objects_at_start_); }
  const int objects_at_start_ = CorvanePosix_GdiObjectCount();
};

TEST_F(GdiTest, EverySourceFormatReadsBackAsTopDown32) {
  for (const Source& source : AllSources()) {
    SCOPED_TRACE(source.Name());
    const OwnedBitmap bitmap = source.Create();
    ASSERT_TRUE(bitmap);
    Destination out(source.width * 4u, source.height);
    EXPECT_EQ(ReadTopDown32(bitmap.get(), source.width, source.height, out), source.height);
    for (int y = 0; y < source.height; ++y) {
      for (int x = 0; x < source.width; ++x) ASSERT_EQ(out.At(x, y), source.Expected(x, y)) << "at " << x << "," << y;
    }
    EXPECT_TRUE(out.GuardIntact());
  }
}

TEST_F(GdiTest, BottomUpBufferHoldsTheBottomRowFirst) {
  for (const Source& source : {Source{Kind::Ddb, 32, 3, 3, 0}, Source{Kind::DibTopDown, 24, 5, 3, 0},
                               Source{Kind::DibBottomUp, 8, 5, 3, 0}}) {
    SCOPED_TRACE(source.Name());
    const OwnedBitmap bitmap = source.Create();
    const OwnedDc dc(CreateCompatibleDC(nullptr));
    BITMAPINFO info{};
    info.bmiHeader = Header(source.width, source.height, 32);
    Destination out(source.width * 4u, source.height);
    ASSERT_EQ(GetDIBits(dc.get(), bitmap.get(), 0, 3, out.bytes.data(), &info, DIB_RGB_COLORS), 3);
    for (int row = 0; row < 3; ++row) {
      for (int x = 0; x < source.width; ++x) EXPECT_EQ(out.At(x, row), source.Expected(x, 2 - row));
    }
    EXPECT_TRUE(out.GuardIntact());
  }
}

TEST_F(GdiTest, ReadsInto24BitRowsLeavingTheirPaddingAlone) {
  for (const Source& source : {Source{Kind::Ddb, 32, 3, 2, 0}, Source{Kind::DibBottomUp, 24, 3, 2, 0},
                               Source{Kind::DibTopDown, 4, 5, 2, 0}}) {
    SCOPED_TRACE(source.Name());
    const OwnedBitmap bitmap = source.Create();
    const OwnedDc dc(CreateCompatibleDC(nullptr));
    BITMAPINFO info{};
    info.bmiHeader = Header(source.width, -2, 24);
    const std::size_t stride = (source.width * 3u + 3) / 4 * 4;
    Destination out(stride, 2);
    ASSERT_EQ(GetDIBits(dc.get(), bitmap.get(), 0, 2, out.bytes.data(), &info, DIB_RGB_COLORS), 2);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < source.width; ++x) {
        Pixel expected = source.Expected(x, y);
        expected[3] = 0;
        EXPECT_EQ(out.At(x, y, 3), expected);
      }
      EXPECT_TRUE(out.Untouched(stride * y + source.width * 3u, stride * (y + 1))) << "padding of row " << y;
    }
    EXPECT_TRUE(out.GuardIntact());
  }
}

TEST_F(GdiTest, ScanLineRangesAreClampedToImageAndBuffer) {
  const Source source{Kind::DibBottomUp, 32, 5, 4, 0};
  const OwnedBitmap bitmap = source.Create();
  const OwnedDc dc(CreateCompatibleDC(nullptr));
  struct Case {
    int buffer_height;  // negative: top-down
    UINT start, lines;
    int copied;
    int first_image_row;  // of buffer row 0, from the top
  };
  for (const Case c : {Case{-2, 1, 2, 2, 1}, Case{-4, 2, 9, 2, 2}, Case{-2, 0, 9, 2, 0}, Case{1, 0, 1, 1, 3},
                       Case{2, 1, 2, 2, 2}, Case{-4, 4, 1, 0, 0}, Case{4, 7, 1, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << "height " << c.buffer_height << ", start " << c.start << ", lines " << c.lines);
    BITMAPINFO info{};
    info.bmiHeader = Header(5, c.buffer_height, 32);
    const int rows = std::abs(c.buffer_height);
    Destination out(20, rows);
    ASSERT_EQ(GetDIBits(dc.get(), bitmap.get(), c.start, c.lines, out.bytes.data(), &info, DIB_RGB_COLORS), c.copied);
    for (int k = 0; k < c.copied; ++k) {
      const int image_row = c.buffer_height < 0 ? c.first_image_row + k : c.first_image_row - k;
      for (int x = 0; x < 5; ++x) EXPECT_EQ(out.At(x, k), source.Expected(x, image_row)) << "buffer row " << k;
    }
    EXPECT_TRUE(out.Untouched(20u * c.copied, out.bytes.size()));
  }
}

TEST_F(GdiTest, BufferOfAnotherSizeGetsTheOverlapOnly) {
  const Source source{Kind::Ddb, 24, 5, 3, 0};
  const OwnedBitmap bitmap = source.Create();
  const OwnedDc dc(CreateCompatibleDC(nullptr));
  for (const auto& [width, height] : {std::pair{2, 2}, std::pair{7, 5}, std::pair{3, 6}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    BITMAPINFO info{};
    info.bmiHeader = Header(width, -height, 32);
    Destination out(width * 4u, height);
    const int rows = std::min(height, 3);
    ASSERT_EQ(GetDIBits(dc.get(), bitmap.get(), 0, static_cast<UINT>(height), out.bytes.data(), &info, DIB_RGB_COLORS),
              rows);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (y < rows && x < 5) {
          EXPECT_EQ(out.At(x, y), source.Expected(x, y));
        } else {
          EXPECT_EQ(out.At(x, y), (Pixel{kGuard, kGuard, kGuard, kGuard})) << "outside the image at " << x << "," << y;
        }
      }
    }
    EXPECT_TRUE(out.GuardIntact());
  }
}

TEST_F(GdiTest, CreateBitmapWithoutBitsIsBlack) {
  const OwnedBitmap bitmap(CreateBitmap(3, 2, 1, 32, nullptr));
  ASSERT_TRUE(bitmap);
  Destination out(12, 2);
  ASSERT_EQ(ReadTopDown32(bitmap.get(), 3, 2, out), 2);
  EXPECT_EQ(Bytes(out.bytes.begin(), out.bytes.begin() + 24), Bytes(24, 0));
  EXPECT_TRUE(out.GuardIntact());
}

// Storage of several MiB is allocated another way than small storage.
TEST_F(GdiTest, LargeBitmapsKeepTheirContent) {
  constexpr int kWidth = 1024, kHeight = 1030;
  std::vector<std::uint32_t> pixels(kWidth * kHeight);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint32_t>(i * 2654435761u);
  const OwnedBitmap ddb(CreateBitmap(kWidth, kHeight, 1, 32, pixels.data()));
  ASSERT_TRUE(ddb);
  Destination out(kWidth * 4u, kHeight);
  ASSERT_EQ(ReadTopDown32(ddb.get(), kWidth, kHeight, out), kHeight);
  EXPECT_EQ(std::memcmp(out.bytes.data(), pixels.data(), pixels.size() * 4), 0);
  EXPECT_TRUE(out.GuardIntact());

  BITMAPINFO info{};
  info.bmiHeader = Header(kWidth, kHeight, 24);
  void* bits = nullptr;
  const OwnedBitmap dib(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_NE(bits, nullptr);
  const auto* storage = static_cast<const std::uint8_t*>(bits);
  EXPECT_TRUE(std::all_of(storage, storage + kWidth * 3 * kHeight, [](std::uint8_t b) { return b == 0; }));
  Destination zero(kWidth * 4u, kHeight);
  ASSERT_EQ(ReadTopDown32(dib.get(), kWidth, kHeight, zero), kHeight);
  EXPECT_TRUE(std::all_of(zero.bytes.begin(), zero.bytes.end() - kGuardBytes, [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(zero.GuardIntact());
}

TEST_F(GdiTest, GetObjectDescribesEachBitmap) {
  struct Case {
    Source source;
    LONG width_bytes;
  };
  for (const Case& c : {Case{{Kind::Ddb, 1, 5, 3, 0}, 2}, Case{{Kind::Ddb, 1, 17, 3, 0}, 4},
                        Case{{Kind::Ddb, 16, 3, 3, 0}, 6}, Case{{Kind::Ddb, 24, 3, 3, 0}, 10},
                        Case{{Kind::Ddb, 32, 3, 3, 0}, 12}, Case{{Kind::DibBottomUp, 1, 5, 3, 0}, 4},
                        Case{{Kind::DibTopDown, 4, 3, 3, 0}, 4}, Case{{Kind::DibBottomUp, 16, 3, 3, 0}, 8},
                        Case{{Kind::DibTopDown, 24, 3, 3, 0}, 12}, Case{{Kind::DibBottomUp, 32, 5, 3, 0}, 20}}) {
    SCOPED_TRACE(c.source.Name());
    std::vector<std::uint8_t> storage(sizeof(BITMAPINFOHEADER) + 16 * sizeof(RGBQUAD));
    auto* info = reinterpret_cast<BITMAPINFO*>(storage.data());
    void* bits = nullptr;
    OwnedBitmap bitmap;
    if (c.source.kind == Kind::Ddb) {
      bitmap.reset(CreateBitmap(c.source.width, c.source.height, 1, c.source.bpp, nullptr));
    } else {
      info->bmiHeader = Header(c.source.width, c.source.kind == Kind::DibTopDown ? -3 : 3, c.source.bpp);
      bitmap.reset(CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits, nullptr, 0));
      ASSERT_NE(bits, nullptr);
    }
    ASSERT_TRUE(bitmap);
    for (const auto get : {GetObjectW, GetObjectA}) {
      BITMAP record;
      std::memset(&record, 0xCC, sizeof record);
      ASSERT_EQ(get(bitmap.get(), sizeof record, &record), static_cast<int>(sizeof record));
      EXPECT_EQ(record.bmType, 0);
      EXPECT_EQ(record.bmWidth, c.source.width);
      EXPECT_EQ(record.bmHeight, 3);
      EXPECT_EQ(record.bmWidthBytes, c.width_bytes);
      EXPECT_EQ(record.bmPlanes, 1);
      EXPECT_EQ(record.bmBitsPixel, c.source.bpp);
      EXPECT_EQ(record.bmBits, bits);
      EXPECT_EQ(get(bitmap.get(), 0, nullptr), static_cast<int>(sizeof(BITMAP)));
    }
  }
}

TEST_F(GdiTest, GetObjectLeavesATooSmallRecordAlone) {
  const OwnedBitmap bitmap(CreateBitmap(2, 2, 1, 32, nullptr));
  std::array<std::uint8_t, sizeof(BITMAP)> record;
  record.fill(0xCC);
  EXPECT_EQ(GetObjectW(bitmap.get(), sizeof record - 1, record.data()), 0);
  std::array<std::uint8_t, sizeof(BITMAP)> untouched;
  untouched.fill(0xCC);
  EXPECT_EQ(record, untouched);
}

TEST_F(GdiTest, ZeroWidthOrHeightGivesTheOneStockBitmap) {
  const HBITMAP stock = CreateBitmap(0, 4, 1, 32, nullptr);
  ASSERT_NE(stock, nullptr);
  EXPECT_EQ(CreateBitmap(4, 0, 1, 1, nullptr), stock);
  EXPECT_EQ(CreateBitmap(0, 0, 1, 24, nullptr), stock);
  EXPECT_EQ(CorvanePosix_GdiObjectCount(), objects_at_start_) << "the stock bitmap is not counted";
  EXPECT_TRUE(DeleteObject(stock));
  BITMAP record{};
  ASSERT_EQ(GetObjectW(stock, sizeof record, &record), static_cast<int>(sizeof record)) << "deleting it did nothing";
  EXPECT_EQ(record.bmWidth, 1);
  EXPECT_EQ(record.bmHeight, 1);
  EXPECT_EQ(record.bmWidthBytes, 2);
  EXPECT_EQ(record.bmBitsPixel, 1);
  EXPECT_EQ(record.bmBits, nullptr);
  Destination out(4, 1);
  EXPECT_EQ(ReadTopDown32(stock, 1, 1, out), 1);
  EXPECT_EQ(out.At(0, 0), (Pixel{0, 0, 0, 0}));
}

TEST_F(GdiTest, ColourIndexBeyondTheTableIsBlack) {
  std::vector<std::uint8_t> storage(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0xEE);
  auto* info = reinterpret_cast<BITMAPINFO*>(storage.data());
  info->bmiHeader = Header(2, -1, 8);
  info->bmiHeader.biClrUsed = 2;
  void* bits = nullptr;
  const OwnedBitmap bitmap(CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_NE(bits, nullptr);
  static_cast<std::uint8_t*>(bits)[0] = 1;
  static_cast<std::uint8_t*>(bits)[1] = 200;
  Destination out(8, 1);
  ASSERT_EQ(ReadTopDown32(bitmap.get(), 2, 1, out), 1);
  EXPECT_EQ(out.At(0, 0), (Pixel{0xEE, 0xEE, 0xEE, 0}));
  EXPECT_EQ(out.At(1, 0), (Pixel{0, 0, 0, 0}));
}

TEST_F(GdiTest, CreateBitmapRejectsWhatItCannotHold) {
  struct Case {
    int width, height;
    UINT planes, bpp;
  };
  for (const Case c : {Case{INT_MIN, 4, 1, 32}, Case{4, INT_MIN, 1, 32}, Case{4, 4, 2, 32}, Case{4, 4, 0, 32},
                       Case{4, 4, 1, 7}, Case{4, 4, 1, 64}, Case{65536, 65536, 1, 32}, Case{0x7FFFFFFF, 9, 1, 1},
                       Case{32768, 16384, 1, 32}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << ", " << c.planes << " planes, " << c.bpp << " bpp");
    EXPECT_EQ(CreateBitmap(c.width, c.height, c.planes, c.bpp, nullptr), nullptr);
  }
}

// As Windows GDI does (seen under Wine): a negative size counts by its
// magnitude, and a zero one still gives the stock bitmap.
TEST_F(GdiTest, CreateBitmapTakesNegativeSizesByTheirMagnitude) {
  const std::uint32_t pixels[6] = {1, 2, 3, 4, 5, 6};
  struct Case {
    int width, height, expected_width, expected_height;
  };
  for (const Case c : {Case{-3, 2, 3, 2}, Case{3, -2, 3, 2}, Case{-2, -3, 2, 3}}) {
    const HBITMAP bitmap = CreateBitmap(c.width, c.height, 1, 32, pixels);
    BITMAP record{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof record, &record), static_cast<int>(sizeof record));
    EXPECT_EQ(record.bmWidth, c.expected_width);
    EXPECT_EQ(record.bmHeight, c.expected_height);
    DeleteObject(bitmap);
  }
  EXPECT_EQ(CreateBitmap(-1, 0, 1, 32, nullptr), CreateBitmap(0, 1, 1, 32, nullptr)) << "the stock bitmap";
}

TEST_F(GdiTest, CreateDIBSectionRejectsWhatItCannotHold) {
  struct Case {
    const char* name;
    void (*change)(BITMAPINFOHEADER&);
    UINT usage = DIB_RGB_COLORS;
  };
  const Case cases[] = {
      {"width 0", [](BITMAPINFOHEADER& h) { h.biWidth = 0; }},
      {"height 0", [](BITMAPINFOHEADER& h) { h.biHeight = 0; }},
      {"negative width", [](BITMAPINFOHEADER& h) { h.biWidth = -4; }},
      {"bit fields", [](BITMAPINFOHEADER& h) { h.biCompression = 3; }},
      {"7 bpp", [](BITMAPINFOHEADER& h) { h.biBitCount = 7; }},
      {"2 planes", [](BITMAPINFOHEADER& h) { h.biPlanes = 2; }},
      {"short header", [](BITMAPINFOHEADER& h) { h.biSize = 12; }},
      {"over 32-bit size", [](BITMAPINFOHEADER& h) { h.biWidth = h.biHeight = 65536; }},
      {"over 32-bit size, top-down", [](BITMAPINFOHEADER& h) { h.biWidth = 2, h.biHeight = -0x7FFFFFFF - 1; }},
      {"palette indices", [](BITMAPINFOHEADER&) {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BITMAPINFO info{};
    info.bmiHeader = Header(4, 4, 32);
    c.change(info.bmiHeader);
    void* bits = &info;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, c.usage, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
  }
  void* bits = nullptr;
  EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

TEST_F(GdiTest, ObjectsAreCountedUntilDeleted) {
  EXPECT_EQ(objects_at_start_, 0) << "nothing is alive between tests";
  const HBITMAP ddb = CreateBitmap(4, 4, 1, 32, nullptr);
  BITMAPINFO info{};
  info.bmiHeader = Header(4, 4, 24);
  void* bits = nullptr;
  const HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HDC dc = CreateCompatibleDC(nullptr);
  const HDC second = CreateCompatibleDC(dc);
  ASSERT_TRUE(ddb && dib && dc && second);
  EXPECT_EQ(std::set<void*>({ddb, dib, dc, second}).size(), 4u);
  EXPECT_EQ(CorvanePosix_GdiObjectCount(), objects_at_start_ + 4);
  EXPECT_TRUE(DeleteObject(ddb));
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_EQ(CorvanePosix_GdiObjectCount(), objects_at_start_ + 2);
  EXPECT_TRUE(DeleteObject(dib));
  EXPECT_TRUE(DeleteDC(second));
}

TEST_F(GdiTest, DeletedAndBogusHandlesNameNothing) {
  const HBITMAP deleted_bitmap = CreateBitmap(2, 2, 1, 32, nullptr);
  const HDC deleted_dc = CreateCompatibleDC(nullptr);
  ASSERT_TRUE(DeleteObject(deleted_bitmap));
  ASSERT_TRUE(DeleteDC(deleted_dc));
  const OwnedBitmap bitmap(CreateBitmap(2, 2, 1, 32, nullptr));
  const OwnedDc dc(CreateCompatibleDC(nullptr));
  int local = 0;
  void* const bogus[] = {nullptr, reinterpret_cast<void*>(1), &local, deleted_bitmap, deleted_dc};

  for (void* handle : bogus) {
    SCOPED_TRACE(testing::Message() << "handle " << handle);
    EXPECT_FALSE(DeleteObject(handle));
    EXPECT_FALSE(DeleteDC(static_cast<HDC>(handle)));
    std::array<std::uint8_t, sizeof(BITMAP)> record;
    record.fill(0xCC);
    EXPECT_EQ(GetObjectW(handle, sizeof record, record.data()), 0);
    EXPECT_EQ(GetObjectA(handle, sizeof record, record.data()), 0);
    EXPECT_EQ(GetObjectW(handle, 0, nullptr), 0);
    EXPECT_TRUE(std::all_of(record.begin(), record.end(), [](std::uint8_t b) { return b == 0xCC; }));

    BITMAPINFO info{};
    info.bmiHeader = Header(2, -2, 32);
    Destination out(8, 2);
    EXPECT_EQ(GetDIBits(dc.get(), static_cast<HBITMAP>(handle), 0, 2, out.bytes.data(), &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(static_cast<HDC>(handle), bitmap.get(), 0, 2, out.bytes.data(), &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(static_cast<HDC>(handle), bitmap.get(), 0, 2, nullptr, &info, DIB_RGB_COLORS), 0);
    EXPECT_TRUE(out.Untouched(0, out.bytes.size()));
    if (handle) {
      EXPECT_EQ(CreateCompatibleDC(static_cast<HDC>(handle)), nullptr);
    }
  }
  // A bitmap is no device context, and the other way round; both stay alive.
  EXPECT_FALSE(DeleteDC(reinterpret_cast<HDC>(bitmap.get())));
  EXPECT_FALSE(DeleteObject(dc.get()));
  EXPECT_EQ(GetObjectW(dc.get(), sizeof(BITMAP), nullptr), 0);
  EXPECT_EQ(GetObjectW(bitmap.get(), sizeof(BITMAP), nullptr), static_cast<int>(sizeof(BITMAP)));
  Destination out(8, 2);
  EXPECT_EQ(ReadTopDown32(bitmap.get(), 2, 2, out), 2);
}

TEST_F(GdiTest, HandlesAreNotReused) {
  const HBITMAP first = CreateBitmap(8, 8, 1, 32, nullptr);
  const HDC first_dc = CreateCompatibleDC(nullptr);
  DeleteObject(first);
  DeleteDC(first_dc);
  for (int i = 0; i < 200; ++i) {
    const HBITMAP bitmap = CreateBitmap(8, 8, 1, 32, nullptr);
    const HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_NE(static_cast<void*>(bitmap), first);
    EXPECT_NE(static_cast<void*>(dc), first_dc);
    EXPECT_NE(static_cast<void*>(bitmap), first_dc);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  EXPECT_EQ(GetObjectW(first, 0, nullptr), 0);
}

TEST_F(GdiTest, QueryFormDescribesBitmapOrBufferSize) {
  const OwnedBitmap bitmap(CreateBitmap(5, 3, 1, 24, nullptr));
  const OwnedDc dc(CreateCompatibleDC(nullptr));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  EXPECT_NE(GetDIBits(dc.get(), bitmap.get(), 0, 0, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.bmiHeader.biWidth, 5);
  EXPECT_EQ(info.bmiHeader.biHeight, 3);
  EXPECT_EQ(info.bmiHeader.biBitCount, 24);
  EXPECT_EQ(info.bmiHeader.biPlanes, 1);
  EXPECT_EQ(info.bmiHeader.biSizeImage, 48u) << "16-byte rows as a DIB";

  info.bmiHeader = Header(5, -3, 32);
  EXPECT_NE(GetDIBits(dc.get(), bitmap.get(), 0, 3, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.bmiHeader.biSizeImage, 60u);
}

TEST_F(GdiTest, UnsupportedBufferFormatsCopyNothing) {
  const OwnedBitmap bitmap(CreateBitmap(2, 2, 1, 32, nullptr));
  const OwnedDc dc(CreateCompatibleDC(nullptr));
  for (const BITMAPINFOHEADER header : {Header(2, -2, 8), Header(2, -2, 16), Header(0, -2, 32), Header(2, 0, 32)}) {
    BITMAPINFO info{};
    info.bmiHeader = header;
    Destination out(8, 2);
    EXPECT_EQ(GetDIBits(dc.get(), bitmap.get(), 0, 2, out.bytes.data(), &info, DIB_RGB_COLORS), 0);
    EXPECT_TRUE(out.Untouched(0, out.bytes.size()));
  }
  BITMAPINFO info{};
  info.bmiHeader = Header(2, -2, 32);
  Destination out(8, 2);
  EXPECT_EQ(GetDIBits(dc.get(), bitmap.get(), 0, 2, out.bytes.data(), nullptr, DIB_RGB_COLORS), 0);
  EXPECT_EQ(GetDIBits(dc.get(), bitmap.get(), 0, 2, out.bytes.data(), &info, 1), 0);
  EXPECT_TRUE(out.Untouched(0, out.bytes.size()));
}

TEST_F(GdiTest, ThreadsGetHandlesOfTheirOwn) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::vector<std::vector<void*>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&seen, t] {
      for (int i = 0; i < kRounds; ++i) {
        const std::uint32_t pixel = 0x01020304u * (t + 1);
        const HBITMAP bitmap = CreateBitmap(1, 1, 1, 32, &pixel);
        const HDC dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader = Header(1, -1, 32);
        std::uint32_t out = 0;
        if (GetDIBits(dc, bitmap, 0, 1, &out, &info, DIB_RGB_COLORS) != 1 || out != pixel) return;
        seen[t].push_back(bitmap);
        seen[t].push_back(dc);
        DeleteObject(bitmap);
        DeleteDC(dc);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<void*> all;
  for (const auto& handles : seen) {
    EXPECT_EQ(handles.size(), 2u * kRounds);
    all.insert(handles.begin(), handles.end());
  }
  EXPECT_EQ(all.size(), 2u * kRounds * kThreads);
}

}  // namespace

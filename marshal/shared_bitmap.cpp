#include "marshal/shared_bitmap.h"

#include <cstdint>
#include <limits>

namespace corvane {

Dib24::~Dib24() {
  if (bitmap_) DeleteObject(bitmap_);
}

void Dib24::SetPixelFormat24() {
  if (width_ <= 0 || height_ <= 0) return;
  const std::uint64_t stride = (std::uint64_t{static_cast<unsigned>(width_)} * 24 + 31) / 32 * 4;
  if (stride * static_cast<unsigned>(height_) > std::numeric_limits<std::int32_t>::max()) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = height_;  // positive: rows stored bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap_ || !bits) {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = nullptr;
    return;
  }
  bits_ = static_cast<unsigned char*>(bits);
  stride_ = static_cast<std::size_t>(stride);
}

}  // namespace corvane

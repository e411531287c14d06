// The demo binding's bitmap object: a 24-bit bottom-up DIB section whose rows
// the bridge writes one pixel at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/winapi.h"

namespace corvane {

class Dib24 {
 public:
  Dib24() = default;  // empty: no size, no bitmap
  ~Dib24();           // deletes the bitmap with the object
  Dib24(const Dib24&) = delete;
  Dib24& operator=(const Dib24&) = delete;

  void SetWidth(int width) { width_ = width; }
  void SetHeight(int height) { height_ = height; }
  // Makes the bitmap: a DIB section of width × height pixels, 24 bits, one
  // plane, BI_RGB, rows bottom-up and padded to 4 bytes. No bitmap when the
  // width or height is 0 or below or GDI can't make one that large.
  void SetPixelFormat24();

  int width() const { return bitmap_ ? width_ : 0; }
  int height() const { return bitmap_ ? height_ : 0; }
  // The first byte of row `r` counted from the top (0 <= r < height()):
  // width pixels of blue, green, red.
  unsigned char* Row(int r) const { return bits_ + static_cast<std::size_t>(height_ - 1 - r) * stride_; }
  // The bitmap, or null when there is none.
  HBITMAP Handle() const { return bitmap_; }

 private:
  int width_ = 0;
  int height_ = 0;
  HBITMAP bitmap_ = nullptr;
  unsigned char* bits_ = nullptr;
  std::size_t stride_ = 0;
};

}  // namespace corvane

// The control surface of the image library test double: what it recorded of
// every call and what it answers. Tests reach it through the exported
// function CorvaneDouble_State of the very module the bridge loaded.
#pragma once

#include <cstdint>

namespace corvane::test {

// One index per entry point, in method-table order.
enum class Entry : int {
#define CORVANE_METHOD(Name, Mangled, Signature, N, Type) Name,
#include "core/method_table.h"
  kCount
};

// Left in the floating-point unit when an entry point returns.
struct FpuScramble {
  bool enabled;
  bool raise_x87_flags;  // a masked x87 zero divide first, leaving its flag pending
  unsigned short x87_control;
  unsigned int mxcsr;
};

struct DoubleState {
  int calls[static_cast<int>(Entry::kCount)];

  // The settings: each write stores what arrived, each read answers it.
  std::uint64_t bitrate_bits;  // the 8 bytes of the double
  int ppi;
  const char* comment;  // the pointer as it arrived (or as scripted)
  char comment_bytes[512];  // its bytes at the time of the call, NUL-terminated
  int tiff_compression;
  int tiff_predictor;
  int show_file_properties;

  FpuScramble scramble;
};

using DoubleStateFn = DoubleState* (*)();
inline constexpr const char* kDoubleStateSymbol = "CorvaneDouble_State";

}  // namespace corvane::test

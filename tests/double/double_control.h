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

// What the stream codec entry points saw in their latest call.
struct DecodeCall {
  const unsigned char* stream;
  int length;
  unsigned char** output_slot;
  const unsigned char* output_at_entry;  // what the slot held when the call came
  int sizes_at_entry[3];                 // width, height, depth as preset
  std::uint32_t* aux_slot;
};

struct EncodeCall {
  const unsigned char* pixels;
  int width;
  int height;
  std::uint64_t bitrate_bits;
  int ppi;
  const char* comment;
  char comment_bytes[64];
  unsigned char** output_slot;
  const unsigned char* output_at_entry;
  int* length_slot;
};

// What they answer. A null `output` stores the address of the calling
// thread's own buffer, whose bytes are (thread tag × 31 + index) mod 256;
// `null_output` stores null instead.
struct DecodeAnswer {
  bool write_sizes;
  int width;
  int height;
  int depth;
  const unsigned char* output;
  bool null_output;
};

struct EncodeAnswer {
  bool write_length;
  int length;
  const unsigned char* output;
  bool null_output;
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

  DecodeCall decode;
  DecodeAnswer decode_answer;
  EncodeCall encode;
  EncodeAnswer encode_answer;

  FpuScramble scramble;
};

// The byte at `index` of the buffer that the stream codec hands a thread
// whose tag is `tag`.
inline unsigned char ThreadBufferByte(int tag, int index) {
  return static_cast<unsigned char>(tag * 31 + index);
}

using DoubleStateFn = DoubleState* (*)();
// Sets the calling thread's tag (0 at first).
using DoubleSetThreadTagFn = void (*)(int tag);
inline constexpr const char* kDoubleSetThreadTagSymbol = "CorvaneDouble_SetThreadTag";
inline constexpr const char* kDoubleStateSymbol = "CorvaneDouble_State";

}  // namespace corvane::test

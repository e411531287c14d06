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

// A bitmap an entry point received, as GDI showed it during the call.
struct ReceivedBitmap {
  void* handle;
  bool readable;
  int width;
  int height;
  int bits_per_pixel;
  int width_bytes;
  unsigned char raw[64];     // the first bytes of a DIB section's storage, as stored
  std::uint32_t pixels[64];  // the first pixels as GDI delivers them: 32 bits, top row first
};

// The latest call of an image file, WSQ buffer or grey-scale entry point.
struct ImageCall {
  ReceivedBitmap bitmap;
  const char* name;  // file name text as it arrived
  char name_bytes[128];
  const unsigned char* bytes;
  int length;
  int flags;
};

// Hostile mode: every entry point answers at random, within and beyond what
// an image library promises: extreme, negative and overflowing sizes and
// counts, null and stale buffers with positive counts, bitmaps of every depth,
// null, deleted and bogus handles, the handle it received, texts that are not
// modified UTF-8 or the same pointer twice, a scrambled FPU. The bytes of its
// buffers are the thread's (ThreadBufferByte); a buffer it hands out with a
// count the bridge can copy is never shorter than that count.
struct Hostile {
  bool enabled;
  // Where the choices come from: `draw(context, bound)` returns a number
  // below `bound` (a fuzzer's input); null for the double's own generator,
  // started from `seed`.
  std::uint64_t (*draw)(void* context, std::uint64_t bound);
  void* context;
  std::uint64_t seed;
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

  ImageCall image;
  void* bitmap_answer;   // what the bitmap-returning entry points return
  bool return_received;  // _ConvertHBITMAPtoGrayScale256 hands back what it received
  int int_answer;        // the result of the two int-returning save entry points

  FpuScramble scramble;
  Hostile hostile;
};

// The byte at `index` of the buffer that the stream codec hands a thread
// whose tag is `tag`.
inline unsigned char ThreadBufferByte(int tag, int index) {
  return static_cast<unsigned char>(tag * 31 + index);
}

// The calling thread's state: the shared one, or after
// CorvaneDouble_UseThreadState the thread's own.
using DoubleStateFn = DoubleState* (*)();
// From now on the calling thread records and answers through a state of its
// own, a copy of the shared one, until the thread ends.
using DoubleUseThreadStateFn = DoubleState* (*)();
inline constexpr const char* kDoubleUseThreadStateSymbol = "CorvaneDouble_UseThreadState";
// Sets the calling thread's tag (0 at first).
using DoubleSetThreadTagFn = void (*)(int tag);
inline constexpr const char* kDoubleSetThreadTagSymbol = "CorvaneDouble_SetThreadTag";
inline constexpr const char* kDoubleStateSymbol = "CorvaneDouble_State";

}  // namespace corvane::test

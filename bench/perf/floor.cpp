// Floors for bench/perf: a JNI module of its own (class corvane_bench.Floor)
// whose native methods do the least each measured bridge call could do.
//   (a) return a constant;
//   (b) call the double's entry point through a pointer, then reset the FPU
//       the cheapest way that leaves the state each binding must leave: the
//       x87 control word with no flag pending (demo), or the x87 control
//       word and MXCSR's control bits (library);
//   memcpy floors and a decode floor making the bridge's JNI calls.
// It also scripts the image library double through CorvaneDouble_State.
#include <dlfcn.h>
#include <jni.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "double/double_control.h"

using corvane::test::DoubleState;

namespace {

using IntFn = int (*)();
using DoubleFn = double (*)();
using VoidDoubleFn = void (*)(double);
using DecodeFn = void (*)(unsigned char*, int, unsigned char**, int*, int*, int*, std::uint32_t*);
using EncodeFn = void (*)(unsigned char*, int, int, double, int, const char*, unsigned char**, int*);

IntFn read_ppi;
DoubleFn read_bitrate;
VoidDoubleFn write_bitrate;
DecodeFn decode;
EncodeFn encode;
DoubleState* state;

constexpr unsigned short kMasksPrecisionRounding = 0x023D;
constexpr unsigned short kDenormalMask = 0x0002;
constexpr unsigned short kPendingFlags = 0x80FF;
constexpr unsigned int kMxcsrMasksRounding = 0x1E80 | 0x6000;  // IM ZM OM UM PM and RC (DM, FZ, DAZ kept)
constexpr unsigned int kMxcsrDefault = 0x1E80;                 // IM ZM OM UM PM masked, nearest (DM kept)

inline __attribute__((always_inline)) void ResetX87() {
  unsigned short control, status;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  __asm__ volatile("fnstsw %0" : "=a"(status));
  if (status & kPendingFlags) __asm__ volatile("fnclex");
  const unsigned short wanted = kMasksPrecisionRounding | (control & kDenormalMask);
  if ((control & ~0x0040) != wanted) __asm__ volatile("fldcw %0" : : "m"(wanted));
}

// The library binding's state: the x87 control word and MXCSR's masks and
// rounding; no exception flag is cleared.
inline __attribute__((always_inline)) void ResetX87AndMxcsr() {
  unsigned short control;
  unsigned int csr;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  __asm__ volatile("stmxcsr %0" : "=m"(csr));
  const unsigned short wanted_control = kMasksPrecisionRounding | (control & kDenormalMask);
  if ((control & ~0x0040) != wanted_control) __asm__ volatile("fldcw %0" : : "m"(wanted_control));
  const unsigned int wanted = (csr & ~kMxcsrMasksRounding) | kMxcsrDefault;
  if (wanted != csr) __asm__ volatile("ldmxcsr %0" : : "m"(wanted));
}

void* Symbol(void* module, const char* name) {
  void* p = module ? dlsym(module, name) : nullptr;
  if (!p) std::abort();
  return p;
}

unsigned char* buffer_a;
unsigned char* buffer_b;
std::size_t buffer_size;

void EnsureBuffers(std::size_t bytes) {
  if (bytes <= buffer_size) return;
  std::free(buffer_a);
  std::free(buffer_b);
  buffer_a = static_cast<unsigned char*>(std::malloc(bytes));
  buffer_b = static_cast<unsigned char*>(std::malloc(bytes));
  if (!buffer_a || !buffer_b) std::abort();
  std::memset(buffer_a, 1, bytes);
  std::memset(buffer_b, 2, bytes);
  buffer_size = bytes;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM*, void*) {
  void* module = dlopen("libCorvane.so", RTLD_NOW | RTLD_LOCAL);
  read_ppi = reinterpret_cast<IntFn>(Symbol(module, "_ReadWSQ_ppi"));
  read_bitrate = reinterpret_cast<DoubleFn>(Symbol(module, "_ReadWSQ_bitrate"));
  write_bitrate = reinterpret_cast<VoidDoubleFn>(Symbol(module, "_WriteWSQ_bitrate"));
  decode = reinterpret_cast<DecodeFn>(Symbol(module, "_WSQ_decode_stream"));
  encode = reinterpret_cast<EncodeFn>(Symbol(module, "_WSQ_encode_stream"));
  state = reinterpret_cast<corvane::test::DoubleStateFn>(Symbol(module, corvane::test::kDoubleStateSymbol))();
  return JNI_VERSION_1_8;
}

// (a) constants.
JNIEXPORT jint JNICALL Java_corvane_1bench_Floor_constInt(JNIEnv*, jclass) { return 500; }
JNIEXPORT jdouble JNICALL Java_corvane_1bench_Floor_constDouble(JNIEnv*, jclass) { return 0.75; }
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_voidDouble(JNIEnv*, jclass, jdouble) {}

// (b) the entry point through a pointer, then the x87 reset (demo)...
JNIEXPORT jint JNICALL Java_corvane_1bench_Floor_ppiX87(JNIEnv*, jclass) {
  const int r = read_ppi();
  ResetX87();
  return r;
}
JNIEXPORT jdouble JNICALL Java_corvane_1bench_Floor_readBitrateX87(JNIEnv*, jclass) {
  const double r = read_bitrate();
  ResetX87();
  return r;
}
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_writeBitrateX87(JNIEnv*, jclass, jdouble v) {
  write_bitrate(v);
  ResetX87();
}
// ... and the x87 and MXCSR reset (library).
JNIEXPORT jint JNICALL Java_corvane_1bench_Floor_ppiX87Sse(JNIEnv*, jclass) {
  const int r = read_ppi();
  ResetX87AndMxcsr();
  return r;
}
JNIEXPORT jdouble JNICALL Java_corvane_1bench_Floor_readBitrateX87Sse(JNIEnv*, jclass) {
  const double r = read_bitrate();
  ResetX87AndMxcsr();
  return r;
}
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_writeBitrateX87Sse(JNIEnv*, jclass, jdouble v) {
  write_bitrate(v);
  ResetX87AndMxcsr();
}

// The FPU reset alone, `count` times in a native loop: ns per reset.
// variant 0: x87 (demo), 1: x87 and MXCSR (library); the state is already
// the wanted one, as after an entry point that leaves it alone.
JNIEXPORT jdouble JNICALL Java_corvane_1bench_Floor_resetLoop(JNIEnv*, jclass, jint variant, jint count) {
  const auto start = std::chrono::steady_clock::now();
  if (variant == 0) {
    for (int i = 0; i < count; ++i) ResetX87();
  } else {
    for (int i = 0; i < count; ++i) ResetX87AndMxcsr();
  }
  const auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(end - start).count() / count;
}

// memcpy floors between native buffers: `copies` copies of `bytes` bytes.
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_memcpyFloor(JNIEnv*, jclass, jlong bytes, jint copies) {
  const auto n = static_cast<std::size_t>(bytes);
  EnsureBuffers(n);
  for (int i = 0; i < copies; ++i) {
    if (i % 2 == 0) {
      std::memcpy(buffer_b, buffer_a, n);
    } else {
      std::memcpy(buffer_a, buffer_b, n);
    }
  }
  __asm__ volatile("" : : "r"(buffer_a), "r"(buffer_b) : "memory");
}
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_prepare(JNIEnv*, jclass, jlong bytes) {
  EnsureBuffers(static_cast<std::size_t>(bytes));
}

// The decode floor: the JNI calls the bridge makes for a result, around one
// memcpy of `bytes` native bytes. With `call_double`, the double's decode
// entry point is called first (through a pointer) and its buffer is copied.
JNIEXPORT jbyteArray JNICALL Java_corvane_1bench_Floor_decodeFloor(JNIEnv* env, jclass, jint bytes,
                                                                   jboolean call_double) {
  const unsigned char* source = buffer_a;
  if (call_double) {
    unsigned char stream[16] = {};
    unsigned char* output = nullptr;
    int width = 0, height = 0, depth = 0;
    std::uint32_t aux = 0;
    decode(stream, sizeof stream, &output, &width, &height, &depth, &aux);
    source = output;
    bytes = width * height;
  } else {
    EnsureBuffers(static_cast<std::size_t>(bytes));
  }
  jbyteArray result = env->NewByteArray(bytes);
  if (!result) return nullptr;
  jbyte* elements = env->GetByteArrayElements(result, nullptr);
  if (!elements) return nullptr;
  std::memcpy(elements, source, static_cast<std::size_t>(bytes));
  env->ReleaseByteArrayElements(result, elements, 0);
  return result;
}

// The pixel round trip's floor with the JNI calls the bridge makes: the
// input through the critical interface, one memcpy into native memory (the
// bitmap's), a new int[] of the same size (which the JVM zeroes), and one
// memcpy into it through the critical interface.
JNIEXPORT jintArray JNICALL Java_corvane_1bench_Floor_pixelsFloor(JNIEnv* env, jclass, jintArray pixels) {
  const jsize count = env->GetArrayLength(pixels);
  const auto bytes = static_cast<std::size_t>(count) * 4;
  EnsureBuffers(bytes);
  void* in = env->GetPrimitiveArrayCritical(pixels, nullptr);
  if (!in) return nullptr;
  std::memcpy(buffer_a, in, bytes);
  env->ReleasePrimitiveArrayCritical(pixels, in, JNI_ABORT);
  const jintArray result = env->NewIntArray(count);
  if (!result) return nullptr;
  void* out = env->GetPrimitiveArrayCritical(result, nullptr);
  if (!out) return nullptr;
  std::memcpy(out, buffer_a, bytes);
  env->ReleasePrimitiveArrayCritical(result, out, 0);
  return result;
}

// The encode floor: the JNI calls the bridge makes for an encode (the
// pixels' elements and the comment's text, both kept, as the bridge keeps
// them), the double's encode entry point, then the result as for a decode.
JNIEXPORT jbyteArray JNICALL Java_corvane_1bench_Floor_encodeFloor(JNIEnv* env, jclass, jbyteArray pixels,
                                                                   jstring comment) {
  jbyte* in = env->GetByteArrayElements(pixels, nullptr);
  const char* text = env->GetStringUTFChars(comment, nullptr);
  if (!in || !text) return nullptr;
  unsigned char* output = nullptr;
  int length = 0;
  encode(reinterpret_cast<unsigned char*>(in), 4, 4, 0.75, 500, text, &output, &length);
  jbyteArray result = env->NewByteArray(length);
  if (!result) return nullptr;
  jbyte* elements = env->GetByteArrayElements(result, nullptr);
  if (!elements) return nullptr;
  std::memcpy(elements, output, static_cast<std::size_t>(length));
  env->ReleaseByteArrayElements(result, elements, 0);
  return result;
}

// Scripting the double.
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_setReturnReceived(JNIEnv*, jclass, jboolean on) {
  state->return_received = on;
}
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_setDecodeAnswer(JNIEnv*, jclass, jint width, jint height) {
  state->decode_answer = {};
  state->decode_answer.write_sizes = true;
  state->decode_answer.width = width;
  state->decode_answer.height = height;
  state->decode_answer.depth = 8;
}
JNIEXPORT void JNICALL Java_corvane_1bench_Floor_setEncodeAnswer(JNIEnv*, jclass, jint length) {
  state->encode_answer = {};
  state->encode_answer.write_length = true;
  state->encode_answer.length = length;
}

}  // extern "C"

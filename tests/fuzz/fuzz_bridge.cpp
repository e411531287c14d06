// Coverage-guided fuzzing of the 18 native methods of both bindings against
// our strict JVM and the image library double in its hostile mode. Each input
// is a short sequence of calls: binding, method, arguments, and the choices
// behind what the double answers. Any misuse our JVM
// records, and anything ASan or UBSan sees, aborts with the input kept.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/fpu_state.h"
#include "host/platform.h"
#include "platform/winapi.h"

using namespace corvane::test;

namespace {

struct MethodRow {
  const char* mangled;
  const char* signature;
};

constexpr MethodRow kMethods[] = {
#define CORVANE_METHOD(Name, Mangled, Signature, N, Type) {#Mangled, Signature},
#include "core/method_table.h"
};
constexpr int kMethodCount = sizeof kMethods / sizeof kMethods[0];

jint ExtremeInt(FuzzedDataProvider& in) {
  static constexpr jint kValues[] = {0, -1, 1, 2, 3, 7, 8, 255, 256, 65535, 65536, 46341, -46341,
                                     INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1, -65536};
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return in.PickValueInArray(kValues);
    case 1: return in.ConsumeIntegralInRange<jint>(-4, 16);
    case 2: return in.ConsumeIntegral<jint>();
    default: return in.ConsumeIntegralInRange<jint>(0, 300);
  }
}

jdouble ExtremeDouble(FuzzedDataProvider& in) {
  static constexpr std::uint64_t kBits[] = {
      0x0000000000000000, 0x8000000000000000, 0x7FF8000000000000, 0x7FF0000000000001,  // +0, -0, qNaN, sNaN
      0xFFF8000000000001, 0x7FF0000000000000, 0xFFF0000000000000, 0x0000000000000001,  // -NaN, ±inf, denormal
      0x7FEFFFFFFFFFFFFF, 0x3FE8000000000000};                                          // max, 0.75
  const std::uint64_t bits = in.ConsumeBool() ? in.PickValueInArray(kBits) : in.ConsumeIntegral<std::uint64_t>();
  jdouble d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// Null, or a string from UTF-16 units: U+0000, lone and paired surrogates.
jstring FuzzString(JNIEnv* env, FuzzedDataProvider& in) {
  if (in.ConsumeIntegralInRange(0, 5) == 0) return nullptr;
  std::u16string units;
  const int count = in.ConsumeIntegralInRange(0, 40);
  for (int i = 0; i < count; ++i) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: units += u'\0'; break;
      case 1: units += u"\U0001F600"; break;
      case 2: units += static_cast<char16_t>(in.ConsumeIntegralInRange(0xD800, 0xDFFF)); break;
      case 3: units += static_cast<char16_t>(in.ConsumeIntegral<std::uint16_t>()); break;
      default: units += static_cast<char16_t>(in.ConsumeIntegralInRange('!', '~')); break;
    }
  }
  return env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size()));
}

jsize ArrayLength(FuzzedDataProvider& in, long long wanted) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: return 0;
    case 1: return in.ConsumeIntegralInRange(1, 4);
    case 2: return in.ConsumeIntegralInRange(0, 4096);
    default: return wanted >= 0 && wanted <= 1 << 16 ? static_cast<jsize>(wanted) : 1;  // just enough
  }
}

jbyteArray FuzzBytes(JNIEnv* env, FuzzedDataProvider& in, long long wanted = -1) {
  if (in.ConsumeIntegralInRange(0, 5) == 0) return nullptr;
  const jsize length = ArrayLength(in, wanted);
  const jbyteArray array = env->NewByteArray(length);
  const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(static_cast<std::size_t>(length));
  if (array && !bytes.empty()) {
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte*>(bytes.data()));
  }
  return array;
}

jintArray FuzzInts(JNIEnv* env, FuzzedDataProvider& in, long long wanted = -1) {
  if (in.ConsumeIntegralInRange(0, 5) == 0) return nullptr;
  const jsize length = ArrayLength(in, wanted);
  const jintArray array = env->NewIntArray(length);
  std::vector<jint> values(static_cast<std::size_t>(in.ConsumeIntegralInRange<jsize>(0, std::min(length, 64))));
  for (jint& v : values) v = in.ConsumeIntegral<jint>();
  if (array && !values.empty()) env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
  return array;
}

// The hostile double's choices, drawn from the input: the fuzzer steers
// the image library's answers as it steers the arguments.
std::uint64_t DrawFromInput(void* input, std::uint64_t bound) {
  return static_cast<FuzzedDataProvider*>(input)->ConsumeIntegralInRange<std::uint64_t>(0, bound - 1);
}

// One call of method `m` with arguments from the input.
void CallMethod(const BridgeModule& bridge, JNIEnv* env, FuzzedDataProvider& in, int m) {
  const std::string name = kMethods[m].mangled;
  const std::string sig = kMethods[m].signature;
  Jvm& jvm = TheJvm();
  // An allocation failure is armed after the arguments are made.
  const bool fail = in.ConsumeIntegralInRange(0, 3) == 0;
  const int fail_count = in.ConsumeIntegralInRange(1, 3), fail_after = in.ConsumeIntegralInRange(0, 4);
  auto arm = [&] {
    if (fail) jvm.FailNextAllocations(fail_count, fail_after);
  };
  if (sig == "()V" || sig == "()D" || sig == "()I" || sig == "()Ljava/lang/String;") {
    arm();
    if (sig == "()V") bridge.Call<void>(name);
    if (sig == "()D") bridge.Call<jdouble>(name);
    if (sig == "()I") bridge.Call<jint>(name);
    if (sig == "()Ljava/lang/String;") bridge.Call<jstring>(name);
  } else if (sig == "(D)V") {
    const jdouble d = ExtremeDouble(in);
    arm();
    bridge.Call<void>(name, d);
  } else if (sig == "(I)V") {
    const jint i = ExtremeInt(in);
    arm();
    bridge.Call<void>(name, i);
  } else if (sig == "(Ljava/lang/String;)V") {
    const jstring s = FuzzString(env, in);
    arm();
    bridge.Call<void>(name, s);
  } else if (sig == "([B[I)[B") {
    const jbyteArray stream = FuzzBytes(env, in);
    const jintArray info = FuzzInts(env, in, 3);
    arm();
    bridge.Call<jbyteArray>(name, stream, info);
  } else if (sig == "([BIIDILjava/lang/String;)[B") {
    const jint w = ExtremeInt(in), h = ExtremeInt(in);
    const jbyteArray pixels = FuzzBytes(env, in, 1ll * w * h);
    const jdouble bitrate = ExtremeDouble(in);
    const jint ppi = ExtremeInt(in);
    const jstring comment = FuzzString(env, in);
    arm();
    bridge.Call<jbyteArray>(name, pixels, w, h, bitrate, ppi, comment);
  } else if (sig == "([ILjava/lang/String;)[I") {
    const jintArray size = FuzzInts(env, in, 2);
    const jstring file = FuzzString(env, in);
    arm();
    bridge.Call<jintArray>(name, size, file);
  } else if (sig == "([IIILjava/lang/String;I)V" || sig == "([IIILjava/lang/String;)I") {
    const jint w = ExtremeInt(in), h = ExtremeInt(in);
    const jintArray pixels = FuzzInts(env, in, 1ll * w * h);
    const jstring file = FuzzString(env, in);
    const jint flags = ExtremeInt(in);
    arm();
    if (sig.back() == 'V') {
      bridge.Call<void>(name, pixels, w, h, file, flags);
    } else {
      bridge.Call<jint>(name, pixels, w, h, file);
    }
  } else if (sig == "([I[B)[I") {
    const jintArray size = FuzzInts(env, in, 2);
    const jbyteArray bytes = FuzzBytes(env, in);
    arm();
    bridge.Call<jintArray>(name, size, bytes);
  } else if (sig == "([BLjava/lang/String;I)I") {
    const jbyteArray bytes = FuzzBytes(env, in);
    const jstring file = FuzzString(env, in);
    const jint flags = ExtremeInt(in);
    arm();
    bridge.Call<jint>(name, bytes, file, flags);
  } else if (sig == "([I[III)[I") {
    const jintArray size = FuzzInts(env, in, 2);
    const jint w = ExtremeInt(in), h = ExtremeInt(in);
    const jintArray pixels = FuzzInts(env, in, 1ll * w * h);
    arm();
    bridge.Call<jintArray>(name, size, pixels, w, h);
  } else {
    std::fprintf(stderr, "fuzz_bridge: no arguments for %s %s\n", name.c_str(), sig.c_str());
    std::abort();
  }
  jvm.FailNextAllocations(0, 0);
}

void AbortOnFaults(const char* binding, const char* method) {
  const std::vector<std::string> faults = TheJvm().TakeFaults();
  if (faults.empty()) return;
  std::fprintf(stderr, "fuzz_bridge: %s binding, %s: %zu JVM fault(s)\n", binding, method, faults.size());
  for (const std::string& f : faults) std::fprintf(stderr, "  %s\n", f.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("CORVANE_SCENARIO", "complete", 1);
  setenv("CORVANE_BRIDGE_DEMO", CORVANE_FUZZ_BRIDGE_DEMO, 1);
  setenv("CORVANE_BRIDGE_LIBRARY", CORVANE_FUZZ_BRIDGE_LIBRARY, 1);
  setenv("CORVANE_IMAGE_LIBRARY_DIR", CORVANE_FUZZ_IMAGE_LIBRARY_DIR, 1);
  setenv("CORVANE_DOUBLE_SOURCE", CORVANE_FUZZ_DOUBLE_SOURCE, 1);
  // Loads the double through the RUNPATH before any bridge looks for it.
  if (!ImageLibrary()) {
    std::fprintf(stderr, "fuzz_bridge: libCorvane.so not found through the RUNPATH\n");
    std::abort();
  }
  SharedBridge(Binding::kDemo);
  SharedBridge(Binding::kLibrary);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Jvm& jvm = TheJvm();
  JNIEnv* env = jvm.Env();
  ResetImageLibrary();
  DoubleState& lib = *ImageLibrary();
  lib.hostile = {true, DrawFromInput, &in, 0};
  jvm.SetHandsOutCopies(in.ConsumeBool());
  if (env->PushLocalFrame(256) != 0) std::abort();
  {
    const FpuState fpu = ReadFpu();
    const int calls = in.ConsumeIntegralInRange(1, 4);
    for (int c = 0; c < calls && in.remaining_bytes() > 0; ++c) {
      const Binding binding = in.ConsumeBool() ? Binding::kDemo : Binding::kLibrary;
      const int m = in.ConsumeIntegralInRange(0, kMethodCount - 1);
      CallMethod(SharedBridge(binding), env, in, m);
      WriteFpu(fpu);  // whatever the image library left, for the next call and the tools
      jvm.TakePendingException();
      TakeReports();
      AbortOnFaults(BindingName(binding), kMethods[m].mangled);
    }
  }
  env->PopLocalFrame(nullptr);
  AbortOnFaults("-", "end of input");
  jvm.SetHandsOutCopies(false);
  return 0;
}

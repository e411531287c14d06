// Native memory that each call leaves allocated in HotSpot: the input byte
// arrays and strings that the bridge hands to the image library and never
// releases (HotSpot copies both). Prints the growth of the C heap's bytes in
// use (where HotSpot allocates those copies; the Java heap is not counted)
// per call.
//
//   CORVANE_HOTSPOT_CHECK_JNI=0 CORVANE_BRIDGE_DEMO=... CORVANE_BRIDGE_LIBRARY=... \
//   LD_LIBRARY_PATH=<image library folder> retained_memory
#include <malloc.h>

#include <cstdio>
#include <functional>
#include <string>

#include "host/jvm.h"
#include "host/platform.h"

using namespace corvane::test;

namespace {

long HeapBytesInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>(info.uordblks + info.hblkhd);
}

void Measure(const char* what, int calls, const std::function<void()>& call) {
  JNIEnv* env = TheJvm().Env();
  for (int i = 0; i < 1000; ++i) {  // warm up: first-use loads, allocator pools
    env->PushLocalFrame(16);
    call();
    env->PopLocalFrame(nullptr);
  }
  const long before = HeapBytesInUse();
  for (int i = 0; i < calls; ++i) {
    env->PushLocalFrame(16);
    call();
    env->PopLocalFrame(nullptr);
  }
  const long after = HeapBytesInUse();
  std::printf("%-58s %8.1f bytes/call\n", what, static_cast<double>(after - before) / calls);
}

}  // namespace

int main() {
  JNIEnv* env = TheJvm().Env();
  const BridgeModule& bridge = SharedBridge(Binding::kLibrary);
  DoubleState* lib = ImageLibrary();
  lib->decode_answer = {true, 4, 4, 8, nullptr, false};
  lib->encode_answer = {true, 16, nullptr, false};
  constexpr int kCalls = 100000;
  for (int size : {0, 1024, 16384}) {
    Measure(("WSQ_decode_stream, " + std::to_string(size) + "-byte stream, 16-byte result").c_str(), kCalls, [&] {
      bridge.Call<jbyteArray>("WSQ_1decode_1stream", env->NewByteArray(size), env->NewIntArray(3));
    });
  }
  Measure("WSQ_encode_stream, 1024 pixel bytes, 10-character comment", kCalls, [&] {
    bridge.Call<jbyteArray>("WSQ_1encode_1stream", env->NewByteArray(1024), jint{32}, jint{32}, 0.75, jint{500},
                            env->NewStringUTF("0123456789"));
  });
  Measure("WriteWSQ_comment, 10 characters", kCalls,
          [&] { bridge.Call<void>("WriteWSQ_1comment", env->NewStringUTF("0123456789")); });
  Measure("ReadWSQ_ppi (nothing retained)", kCalls, [&] { bridge.Call<jint>("ReadWSQ_1ppi"); });
  return 0;
}

// The image library double in its hostile mode answers every call at random,
// within and beyond what an image library promises. Whatever it answers, the
// bridge leaves the JVM sound (the fixture's checks), raises no exception,
// shows no report but the bitmap ones, hands back only results that agree
// with the sizes it reported, and resets the FPU after every call it
// completed. The sanitizer legs add that nothing outside owned memory is
// touched.
#include "bridge_test.h"
#include "method_info.h"
#include "sample_calls.h"

namespace corvane::test {
namespace {

constexpr int kRounds = 100;  // calls of each method per binding

using HostileImageLibrary = BridgeTest;
CORVANE_FOR_EACH_BINDING(HostileImageLibrary);

std::vector<jint> Ints(JNIEnv* env, jintArray array) {
  std::vector<jint> v(static_cast<std::size_t>(env->GetArrayLength(array)));
  env->GetIntArrayRegion(array, 0, static_cast<jsize>(v.size()), v.data());
  return v;
}

// The bytes the hostile double hands the main thread (tag 0), as many as the
// result holds.
bool HoldsTheDoublesBytes(JNIEnv* env, jbyteArray result) {
  std::vector<jbyte> bytes(static_cast<std::size_t>(env->GetArrayLength(result)));
  env->GetByteArrayRegion(result, 0, static_cast<jsize>(bytes.size()), bytes.data());
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    if (static_cast<unsigned char>(bytes[k]) != ThreadBufferByte(0, static_cast<int>(k))) return false;
  }
  return true;
}

TEST_P(HostileImageLibrary, NoAnswerHarmsTheJvmOrComesBackWrong) {
  lib().hostile = {true, nullptr, nullptr, binding() == Binding::kDemo ? 1u : 2u};
  const FpuState start = ReadFpu();
  int reports = 0, nonnull_results = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (const MethodInfo& method : kMethods) {
      ASSERT_EQ(env()->PushLocalFrame(16), 0);
      const std::string name = method.name;
      const std::string where = name + ", round " + std::to_string(round);
      const jintArray info = env()->NewIntArray(3);
      const jintArray size = env()->NewIntArray(2);
      jobject result = nullptr;
      if (name == "WSQ_decode_stream") {
        result = Call<jbyteArray>("WSQ_1decode_1stream", env()->NewByteArray(16), info);
      } else if (name == "ConvertHBITMAPtoGrayScale256") {
        result = Call<jintArray>("ConvertHBITMAPtoGrayScale256", size, env()->NewIntArray(4), jint{2}, jint{2});
      } else if (name == "CreateBMPFromFile") {
        result = Call<jintArray>("CreateBMPFromFile", size, env()->NewStringUTF("file"));
      } else if (name == "CreateBMPFromWSQByteArray") {
        result = Call<jintArray>("CreateBMPFromWSQByteArray", size, env()->NewByteArray(16));
      } else {
        const CallResult r = CallWithSampleArguments(bridge(), method);
        if (r.kind == 'L') result = r.value.l;
      }
      const FpuState fpu = ReadFpu();
      EXPECT_EQ(jvm().TakePendingException(), "") << where;

      const std::vector<Report> shown = TakeReports();
      for (const Report& report : shown) {
        EXPECT_TRUE(report.text == u"Unable to get HBITMAP") << where << ": " << Utf8(report.text);
      }
      reports += static_cast<int>(shown.size());
      if (shown.empty()) {
        EXPECT_EQ(fpu.x87_control & 0x1F3D, 0x023D) << where << ": the FPU was not reset";
      }
      WriteFpu(start);  // the next call starts from the JVM's own state

      if (result) {
        ++nonnull_results;
        if (name == "WSQ_decode_stream") {
          const std::vector<jint> sizes = Ints(env(), info);
          EXPECT_EQ(env()->GetArrayLength(static_cast<jarray>(result)), sizes[0] * sizes[1]) << where;
          EXPECT_TRUE(HoldsTheDoublesBytes(env(), static_cast<jbyteArray>(result))) << where;
        } else if (name == "WSQ_encode_stream") {
          EXPECT_TRUE(HoldsTheDoublesBytes(env(), static_cast<jbyteArray>(result))) << where;
        } else if (name.find("BMP") != std::string::npos || name.find("HBITMAP") != std::string::npos) {
          const std::vector<jint> sizes = Ints(env(), size);
          EXPECT_EQ(env()->GetArrayLength(static_cast<jarray>(result)), sizes[0] * sizes[1]) << where;
        }
      }
      env()->PopLocalFrame(nullptr);
    }
  }
  // Answers of every kind came: some bitmaps could not be read, some results were made.
  EXPECT_GT(reports, 0);
  EXPECT_GT(nonnull_results, 0);
}

}  // namespace
}  // namespace corvane::test

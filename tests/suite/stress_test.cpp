// Eight threads calling all 18 methods of both bindings at once. The image
// library answers each thread through a state of that thread's own, with data
// that names the thread and the call; every result must come back to the
// thread that asked, with its own data.
//
// Calls per thread: CORVANE_STRESS_CALLS (default 2,000; the HotSpot leg runs
// 50,000 under -Xcheck:jni, the Wine legs fewer, as each call is emulated).
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bridge_test.h"
#include "method_info.h"
#include "platform/winapi.h"

namespace corvane::test {
namespace {

constexpr int kThreads = 8;
constexpr int kWidth = 4, kHeight = 2, kPixels = kWidth * kHeight;

int CallsPerThread() {
  const char* calls = std::getenv("CORVANE_STRESS_CALLS");
  return calls ? std::atoi(calls) : 2000;
}

// One thread's calls. `Check` notes what came back wrong.
class Caller {
 public:
  Caller(int thread, JNIEnv* env, DoubleState& lib) : tag_(thread + 1), env_(env), lib_(lib) {}
  ~Caller() {
    if (answer_) DeleteObject(answer_);
  }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  std::vector<std::string> failures;

  void Run(int calls) {
    for (int i = 0; i < calls && failures.size() < 5; ++i) {
      const MethodInfo& method = kMethods[(i * 7 + tag_) % std::size(kMethods)];
      const Binding binding = (i / 18 + tag_) % 2 ? Binding::kDemo : Binding::kLibrary;
      env_->PushLocalFrame(32);
      call_ = i;
      value_ = tag_ * 100000 + i;  // names the thread and the call
      where_ = std::string(BindingName(binding)) + " " + method.name + ", call " + std::to_string(i);
      CallOne(SharedBridge(binding), method.name);
      env_->PopLocalFrame(nullptr);
    }
  }

 private:
  void Check(bool ok, const char* what) {
    if (!ok) failures.push_back(where_ + ": " + what);
  }

  std::string Text() const { return "thread " + std::to_string(tag_) + " call " + std::to_string(call_); }
  jstring JavaText() const { return env_->NewStringUTF(Text().c_str()); }
  bool ReceivedText(const char* bytes) const { return bytes == Text(); }

  std::vector<jint> Pixels() const {
    std::vector<jint> p(kPixels);
    for (int k = 0; k < kPixels; ++k) p[k] = static_cast<jint>((value_ * 8 + k) * 0x010203u & 0xFFFFFF);
    return p;
  }
  jintArray JavaPixels() const {
    const std::vector<jint> p = Pixels();
    const jintArray array = env_->NewIntArray(kPixels);
    env_->SetIntArrayRegion(array, 0, kPixels, p.data());
    return array;
  }
  std::vector<jint> FromJava(jintArray array) const {
    std::vector<jint> v(static_cast<std::size_t>(array ? env_->GetArrayLength(array) : 0));
    if (!v.empty()) env_->GetIntArrayRegion(array, 0, static_cast<jsize>(v.size()), v.data());
    return v;
  }
  bool ReceivedPixels() const {
    const ReceivedBitmap& r = lib_.image.bitmap;
    const std::vector<jint> p = Pixels();
    if (!r.readable || r.width != kWidth || r.height != kHeight) return false;
    for (int k = 0; k < kPixels; ++k) {
      if ((r.pixels[k] & 0xFFFFFF) != static_cast<std::uint32_t>(p[k])) return false;
    }
    return true;
  }
  // A bitmap of this call's pixels, as the image library returns one.
  void AnswerWithBitmap() {
    if (answer_) DeleteObject(answer_);
    const std::vector<jint> p = Pixels();
    answer_ = CreateBitmap(kWidth, kHeight, 1, 32, p.data());
    lib_.bitmap_answer = answer_;
  }
  void CheckPixelResult(jintArray result, jintArray size) {
    Check(FromJava(result) == Pixels(), "other pixels came back");
    Check(FromJava(size) == std::vector<jint>{kWidth, kHeight}, "other size came back");
  }
  jbyteArray Bytes(int length) const { return env_->NewByteArray(length); }
  bool ThreadBytes(jbyteArray result, int length) const {
    if (!result || env_->GetArrayLength(result) != length) return false;
    std::vector<jbyte> bytes(static_cast<std::size_t>(length));
    env_->GetByteArrayRegion(result, 0, length, bytes.data());
    for (int k = 0; k < length; ++k) {
      if (static_cast<unsigned char>(bytes[k]) != ThreadBufferByte(tag_, k)) return false;
    }
    return true;
  }

  void CallOne(const BridgeModule& m, const std::string& name) {
    if (name == "WriteWSQ_ppi") {
      m.Call<void>("WriteWSQ_1ppi", jint{value_});
      Check(lib_.ppi == value_, "another value arrived");
    } else if (name == "ReadWSQ_ppi") {
      lib_.ppi = value_;
      Check(m.Call<jint>("ReadWSQ_1ppi") == value_, "another value came back");
    } else if (name == "WriteWSQ_bitrate") {
      m.Call<void>("WriteWSQ_1bitrate", value_ + 0.25);
      Check(lib_.bitrate_bits == Bits(value_ + 0.25), "another bit rate arrived");
    } else if (name == "ReadWSQ_bitrate") {
      lib_.bitrate_bits = Bits(value_ + 0.5);
      Check(Bits(m.Call<jdouble>("ReadWSQ_1bitrate")) == Bits(value_ + 0.5), "another bit rate came back");
    } else if (name == "WriteWSQ_comment") {
      m.Call<void>("WriteWSQ_1comment", JavaText());
      Check(ReceivedText(lib_.comment_bytes), "another comment arrived");
    } else if (name == "ReadWSQ_comment") {
      comment_ = Text();
      lib_.comment = comment_.c_str();
      const jstring result = m.Call<jstring>("ReadWSQ_1comment");
      const char* chars = result ? env_->GetStringUTFChars(result, nullptr) : nullptr;
      Check(chars && comment_ == chars, "another comment came back");
      if (chars) env_->ReleaseStringUTFChars(result, chars);
    } else if (name == "WriteTIFFcompression") {
      m.Call<void>("WriteTIFFcompression", jint{value_});
      Check(lib_.tiff_compression == value_, "another value arrived");
    } else if (name == "WriteTIFFpredictor") {
      m.Call<void>("WriteTIFFpredictor", jint{value_});
      Check(lib_.tiff_predictor == value_, "another value arrived");
    } else if (name == "SetShowFilePropertiesDialog") {
      m.Call<void>("SetShowFilePropertiesDialog", jint{value_});
      Check(lib_.show_file_properties == value_, "another value arrived");
    } else if (name == "ShowFileConverter") {
      const int before = lib_.calls[static_cast<int>(Entry::ShowFileConverter)];
      m.Call<void>("ShowFileConverter");
      Check(lib_.calls[static_cast<int>(Entry::ShowFileConverter)] == before + 1, "the call went elsewhere");
    } else if (name == "WSQ_decode_stream") {
      const int width = 8 + tag_, height = 1 + call_ % 4;
      lib_.decode_answer = {true, width, height, 8, nullptr, false};
      const jintArray info = env_->NewIntArray(3);
      const jbyteArray result = m.Call<jbyteArray>("WSQ_1decode_1stream", Bytes(16 + tag_), info);
      Check(ThreadBytes(result, width * height), "another thread's pixels came back");
      Check(FromJava(info) == std::vector<jint>{width, height, 8}, "other sizes came back");
      Check(lib_.decode.length == 16 + tag_, "another stream arrived");
    } else if (name == "WSQ_encode_stream") {
      const int length = 32 + tag_ + call_ % 4;
      lib_.encode_answer = {true, length, nullptr, false};
      const jbyteArray result = m.Call<jbyteArray>("WSQ_1encode_1stream", Bytes(16), jint{4}, jint{4}, 0.75,
                                                   jint{value_}, JavaText());
      Check(ThreadBytes(result, length), "another thread's stream came back");
      Check(lib_.encode.ppi == value_ && ReceivedText(lib_.encode.comment_bytes), "another encode arrived");
    } else if (name == "CreateBMPFromFile") {
      AnswerWithBitmap();
      const jintArray size = env_->NewIntArray(2);
      CheckPixelResult(m.Call<jintArray>("CreateBMPFromFile", size, JavaText()), size);
      Check(ReceivedText(lib_.image.name_bytes), "another file name arrived");
    } else if (name == "CreateBMPFromWSQByteArray") {
      AnswerWithBitmap();
      const jintArray size = env_->NewIntArray(2);
      CheckPixelResult(m.Call<jintArray>("CreateBMPFromWSQByteArray", size, Bytes(24 + tag_)), size);
      Check(lib_.image.length == 24 + tag_, "another byte array arrived");
    } else if (name == "SaveBMPToFile") {
      m.Call<void>("SaveBMPToFile", JavaPixels(), jint{kWidth}, jint{kHeight}, JavaText(), jint{value_});
      Check(ReceivedPixels(), "other pixels arrived");
      Check(ReceivedText(lib_.image.name_bytes) && lib_.image.flags == value_, "another file arrived");
    } else if (name == "SaveWSQByteArrayToImageFile") {
      lib_.int_answer = value_;
      Check(m.Call<jint>("SaveWSQByteArrayToImageFile", Bytes(40 + tag_), JavaText(), jint{tag_}) == value_,
            "another result came back");
      Check(lib_.image.length == 40 + tag_ && ReceivedText(lib_.image.name_bytes), "another file arrived");
    } else if (name == "ConvertHBITMAPtoGrayScale256") {
      lib_.return_received = true;
      const jintArray size = env_->NewIntArray(2);
      CheckPixelResult(
          m.Call<jintArray>("ConvertHBITMAPtoGrayScale256", size, JavaPixels(), jint{kWidth}, jint{kHeight}), size);
    } else if (name == "SaveHBITMAPtoFileAsGrayScale256BMP") {
      lib_.int_answer = value_;
      Check(m.Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", JavaPixels(), jint{kWidth}, jint{kHeight},
                         JavaText()) == value_,
            "another result came back");
      Check(ReceivedPixels() && ReceivedText(lib_.image.name_bytes), "other pixels arrived");
    } else {
      Check(false, "no stress call for this method");
    }
    Check(TheJvm().TakePendingException().empty(), "an exception was left pending");
  }

  int tag_;
  JNIEnv* env_;
  DoubleState& lib_;
  int call_ = 0;
  int value_ = 0;
  std::string where_;
  std::string comment_;
  HBITMAP answer_ = nullptr;
};

// The binding parameter is not used: every thread calls both bindings.
using Stress = BridgeTest;
INSTANTIATE_TEST_SUITE_P(, Stress, ::testing::Values(Binding::kDemo), [](const auto&) { return "BothBindings"; });

TEST_P(Stress, EightThreadsCallingEveryMethodEachGetTheirOwnResults) {
  const int calls = CallsPerThread();
  RecordProperty("calls_per_thread", calls);
  const int gdi_before = LiveGdiObjects();
  std::vector<std::string> failures[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      JNIEnv* env = jvm().Env();
      DoubleState* own = UseOwnImageLibraryState();
      if (!own) {
        failures[t].push_back("no state of the double's own");
      } else {
        SetImageLibraryThreadTag(t + 1);
        Caller caller(t, env, *own);
        caller.Run(calls);
        failures[t] = std::move(caller.failures);
      }
      jvm().DetachThisThread();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], std::vector<std::string>{}) << "thread " << t + 1;
  EXPECT_EQ(TakeReports().size(), 0u);
  // The demo binding keeps its one last bitmap, which may be new.
  EXPECT_LE(LiveGdiObjects(), gdi_before + 1);
}

}  // namespace
}  // namespace corvane::test

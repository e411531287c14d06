// What calls leave allocated: the strings the bridge converts and the input
// byte arrays whose elements it takes are never released (the image library
// may keep the pointers); critical regions, result arrays and int[] inputs
// are released within the call. Our JVM counts the copies it handed out and
// that are not released yet, so a call that keeps more, or less, shows.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "bridge_test.h"
#include "method_info.h"
#include "platform/winapi.h"
#include "sample_calls.h"

namespace corvane::test {
namespace {

// Unreleased per call on a method's normal path. Our JVM hands out the
// elements of a byte array directly unless it runs in copy mode, so the byte
// arrays count as copies in copy mode only; strings are always copies.
struct Kept {
  const char* method;
  int strings;
  int byte_arrays;
};

constexpr Kept kKept[] = {
    {"WriteWSQ_bitrate", 0, 0},
    {"ReadWSQ_bitrate", 0, 0},
    {"WriteWSQ_ppi", 0, 0},
    {"ReadWSQ_ppi", 0, 0},
    {"WriteWSQ_comment", 1, 0},
    {"ReadWSQ_comment", 0, 0},
    {"WriteTIFFcompression", 0, 0},
    {"WriteTIFFpredictor", 0, 0},
    {"SetShowFilePropertiesDialog", 0, 0},
    {"ShowFileConverter", 0, 0},
    {"CreateBMPFromFile", 1, 0},
    {"SaveBMPToFile", 1, 0},
    {"CreateBMPFromWSQByteArray", 0, 1},
    {"SaveWSQByteArrayToImageFile", 1, 1},
    {"WSQ_decode_stream", 0, 1},
    {"WSQ_encode_stream", 1, 1},
    {"ConvertHBITMAPtoGrayScale256", 0, 0},
    {"SaveHBITMAPtoFileAsGrayScale256BMP", 1, 0},
};

bool InCopyMode() { return std::getenv("CORVANE_JVM_COPIES") != nullptr; }

std::size_t CopiesPerCall(int strings, int byte_arrays) {
  return static_cast<std::size_t>(strings + (InCopyMode() ? byte_arrays : 0));
}

// A 2 x 2 bitmap for the bitmap-returning entry points to answer.
class AnswerBitmap {
 public:
  AnswerBitmap() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = 2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    handle_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  }
  ~AnswerBitmap() { DeleteObject(handle_); }
  AnswerBitmap(const AnswerBitmap&) = delete;
  AnswerBitmap& operator=(const AnswerBitmap&) = delete;
  HBITMAP handle() const { return handle_; }

 private:
  HBITMAP handle_;
};

using Memory = BridgeTest;
CORVANE_FOR_EACH_BINDING(Memory);

TEST_P(Memory, EveryMethodKeepsItsInputCopiesAndNothingElse) {
  CORVANE_REQUIRE_OUR_JVM("count the copies it handed out");
  for (const Kept& kept : kKept) {
    EXPECT_TRUE(std::any_of(std::begin(kMethods), std::end(kMethods),
                            [&](const MethodInfo& m) { return std::strcmp(m.name, kept.method) == 0; }))
        << kept.method << " is not in the method table";
  }
  // Every call takes its normal path and returns a result that is no failure
  // result: the settings read back what the sample calls write.
  const AnswerBitmap answer;
  lib().bitmap_answer = answer.handle();
  lib().return_received = true;
  lib().decode_answer = {true, 2, 2, 8, nullptr, false};
  lib().encode_answer = {true, 8, nullptr, false};
  lib().int_answer = 1;
  lib().ppi = 7;
  lib().bitrate_bits = Bits(1.5);
  lib().comment = "text";

  constexpr int kCalls = 1000;
  for (std::size_t entry = 0; entry < std::size(kMethods); ++entry) {
    const MethodInfo& method = kMethods[entry];
    const Kept* kept = std::find_if(std::begin(kKept), std::end(kKept),
                                    [&](const Kept& k) { return std::strcmp(k.method, method.name) == 0; });
    if (kept == std::end(kKept)) {
      ADD_FAILURE() << method.name << " has no row";
      continue;
    }
    const auto call = [&] {
      env()->PushLocalFrame(16);
      const CallResult result = CallWithSampleArguments(bridge(), method);
      const bool normal = !env()->ExceptionCheck() && (result.kind == 'V' || !IsFailureResult(result));
      env()->PopLocalFrame(nullptr);
      return normal;
    };
    call();  // the demo binding's one shared bitmap comes into being
    const std::size_t copies = jvm().OutstandingCopies();
    const int objects = LiveGdiObjects();
    const int calls = lib().calls[entry];
    int normal = 0;
    for (int i = 0; i < kCalls; ++i) normal += call();
    EXPECT_EQ(jvm().OutstandingCopies() - copies, kCalls * CopiesPerCall(kept->strings, kept->byte_arrays))
        << method.name;
    EXPECT_EQ(LiveGdiObjects(), objects) << method.name;
    EXPECT_EQ(normal, kCalls) << method.name;
    EXPECT_EQ(lib().calls[entry] - calls, kCalls) << method.name;
    EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{}) << method.name;
  }
}

// A call that stops after a conversion keeps what it converted; a caller's
// mistake throws before anything is converted.
TEST_P(Memory, CallsThatStopEarlyKeepOnlyWhatTheyConvertedBeforeStopping) {
  CORVANE_REQUIRE_OUR_JVM("count the copies it handed out");
  struct Case {
    const char* what;
    std::function<void()> call;
    int strings, byte_arrays;
    const char* exception;
    int reports;
  };
  const char* const npe = "java/lang/NullPointerException";
  const char* const aioobe = "java/lang/ArrayIndexOutOfBoundsException";
  const Case cases[] = {
      {"CreateBMPFromFile, no bitmap back",
       [&] { Call<jintArray>("CreateBMPFromFile", JavaInts({0, 0}), JavaString(u"f")); }, 1, 0, "", 1},
      {"CreateBMPFromWSQByteArray, no bitmap back",
       [&] { Call<jintArray>("CreateBMPFromWSQByteArray", JavaInts({0, 0}), JavaBytes({1, 2})); }, 0, 1, "", 1},
      {"ConvertHBITMAPtoGrayScale256, no bitmap back",
       [&] { Call<jintArray>("ConvertHBITMAPtoGrayScale256", JavaInts({0, 0}), JavaInts({1}), 1, 1); }, 0, 0, "", 1},
      {"WSQ_decode_stream, InfoArray too short after the decode",
       [&] { Call<jbyteArray>("WSQ_1decode_1stream", JavaBytes({1, 2}), JavaInts({0, 0})); }, 0, 1, aioobe, 0},
      {"WriteWSQ_comment, null comment", [&] { Call<void>("WriteWSQ_1comment", jstring{}); }, 0, 0, npe, 0},
      {"SaveWSQByteArrayToImageFile, null file name",
       [&] { Call<jint>("SaveWSQByteArrayToImageFile", JavaBytes({1}), jstring{}, 0); }, 0, 0, npe, 0},
      {"SaveBMPToFile, null file name",
       [&] { Call<void>("SaveBMPToFile", JavaInts({1}), 1, 1, jstring{}, 0); }, 0, 0, npe, 0},
      {"WSQ_encode_stream, null comment",
       [&] { Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1}), 1, 1, 1.0, 1, jstring{}); }, 0, 0, npe, 0},
      {"WSQ_encode_stream, pixels too short",
       [&] { Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1}), 2, 1, 1.0, 1, JavaString(u"c")); }, 0, 0,
       aioobe, 0},
  };
  lib().bitmap_answer = nullptr;
  lib().decode_answer = {true, 1, 1, 8, nullptr, false};
  for (const Case& c : cases) {
    const std::size_t copies = jvm().OutstandingCopies();
    c.call();
    EXPECT_EQ(jvm().TakePendingException(), c.exception) << c.what;
    EXPECT_EQ(TakeReportTexts().size(), static_cast<std::size_t>(c.reports)) << c.what;
    EXPECT_EQ(jvm().OutstandingCopies() - copies, CopiesPerCall(c.strings, c.byte_arrays)) << c.what;
  }
}

}  // namespace
}  // namespace corvane::test

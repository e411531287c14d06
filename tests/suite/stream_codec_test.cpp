// WSQ_decode_stream and WSQ_encode_stream: what reaches the image library,
// what comes back, and the per-thread output slots.
#include <climits>
#include <functional>
#include <thread>

#include "bridge_test.h"

namespace corvane::test {
namespace {

using StreamCodec = BridgeTest;
CORVANE_FOR_EACH_BINDING(StreamCodec);

const std::vector<jbyte> kStream = {'W', 'S', 'Q', 0, -1, 42};

std::vector<unsigned char> Pattern(std::size_t size, int seed) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(seed + i * 7);
  return bytes;
}

std::vector<jbyte> AsJava(const std::vector<unsigned char>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST_P(StreamCodec, DecodeReturnsWidthTimesHeightBytesAndTheReportedInfo) {
  struct Case {
    int width, height, depth;
  };
  for (const Case c : {Case{20, 10, 8}, Case{20, 10, 16}, Case{0, 7, 8}, Case{7, 0, 8}, Case{1, 1, 1}}) {
    const auto pixels = Pattern(static_cast<std::size_t>(c.width * c.height), c.depth);
    lib().decode_answer = {true, c.width, c.height, c.depth, pixels.data(), false};
    const jintArray info = JavaInts({-5, -6, -7, 99, 100});
    const jbyteArray stream = JavaBytes(kStream);
    const jbyteArray result = Call<jbyteArray>("WSQ_1decode_1stream", stream, info);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(FromJava(result), AsJava(pixels)) << c.width << "x" << c.height << " depth " << c.depth;
    EXPECT_EQ(FromJava(info), (std::vector<jint>{c.width, c.height, c.depth, 99, 100}));

    const DecodeCall& call = lib().decode;
    EXPECT_EQ(call.length, static_cast<int>(kStream.size()));
    EXPECT_EQ(std::vector<jbyte>(call.stream, call.stream + kStream.size()), kStream);
    EXPECT_EQ(std::vector<int>(call.sizes_at_entry, call.sizes_at_entry + 3), (std::vector<int>{0, 0, 0}));
    EXPECT_NE(call.aux_slot, nullptr);
  }
}

TEST_P(StreamCodec, DecodeHandsTheSameSlotsBackAndKeepsTheStreamBytes) {
  lib().decode_answer.width = 4;
  lib().decode_answer.height = 2;
  SetImageLibraryThreadTag(1);
  const jbyteArray first = Call<jbyteArray>("WSQ_1decode_1stream", JavaBytes(kStream), JavaInts({0, 0, 0}));
  const DecodeCall one = lib().decode;
  const unsigned char* stored = *one.output_slot;

  SetImageLibraryThreadTag(2);
  const jbyteArray second = Call<jbyteArray>("WSQ_1decode_1stream", JavaBytes({}), JavaInts({0, 0, 0}));
  const DecodeCall two = lib().decode;

  EXPECT_EQ(two.length, 0) << "an empty stream passes the length 0";
  EXPECT_EQ(two.output_slot, one.output_slot) << "the thread's slot keeps its address";
  EXPECT_EQ(two.output_at_entry, stored) << "the slot keeps what the image library stored";
  EXPECT_EQ(two.aux_slot, one.aux_slot);
  EXPECT_EQ(std::vector<jbyte>(one.stream, one.stream + kStream.size()), kStream)
      << "the bytes the image library received stay readable";
  EXPECT_FALSE(env()->IsSameObject(first, second));
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(static_cast<unsigned char>(FromJava(first)[i]), ThreadBufferByte(1, i)) << i;
    EXPECT_EQ(static_cast<unsigned char>(FromJava(second)[i]), ThreadBufferByte(2, i)) << i;
  }
}

TEST_P(StreamCodec, DecodeThatReportsNothingGivesAnEmptyArrayAndZeros) {
  lib().decode_answer.write_sizes = false;
  const jintArray info = JavaInts({7, 7, 7});
  const jbyteArray result = Call<jbyteArray>("WSQ_1decode_1stream", JavaBytes(kStream), info);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(env()->GetArrayLength(result), 0);
  EXPECT_EQ(FromJava(info), (std::vector<jint>{0, 0, 0}));
}

TEST_P(StreamCodec, DecodeIntoAShortInfoArrayThrows) {
  lib().decode_answer = {true, 2, 2, 8, nullptr, false};
  const jintArray info = JavaInts({-1, -1});
  Call<jbyteArray>("WSQ_1decode_1stream", JavaBytes(kStream), info);
  EXPECT_EQ(jvm().TakePendingException(), "java/lang/ArrayIndexOutOfBoundsException");
  EXPECT_EQ(FromJava(info), (std::vector<jint>{-1, -1}));
}

// Sizes and buffers the image library should never report: no copy is made
// and the result is null; InfoArray shows what was reported.
TEST_P(StreamCodec, DecodeReportThatCantBeCopiedGivesNull) {
  struct Case {
    const char* what;
    DecodeAnswer answer;
  };
  static const unsigned char byte = 0;
  const Case cases[] = {
      {"negative width", {true, -1, 5, 8, &byte, false}},
      {"negative height", {true, 5, INT_MIN, 8, &byte, false}},
      {"product beyond 2^31 - 1", {true, 65536, 32768, 8, &byte, false}},
      {"no buffer", {true, 3, 3, 8, nullptr, true}},
  };
  for (const Case& c : cases) {
    lib().decode_answer = c.answer;
    const jintArray info = JavaInts({0, 0, 0});
    EXPECT_EQ(Call<jbyteArray>("WSQ_1decode_1stream", JavaBytes(kStream), info), nullptr) << c.what;
    EXPECT_EQ(jvm().TakePendingException(), "") << c.what;
    EXPECT_EQ(FromJava(info), (std::vector<jint>{c.answer.width, c.answer.height, 8})) << c.what;
  }
}

TEST_P(StreamCodec, EncodePassesEveryArgumentAsItCame) {
  const auto stream = Pattern(33, 5);
  lib().encode_answer = {true, static_cast<int>(stream.size()), stream.data(), false};
  const std::vector<jbyte> pixels = AsJava(Pattern(12, 9));
  struct Case {
    jint width, height;
    std::uint64_t bitrate_bits;
    jint ppi;
  };
  for (const Case c : {Case{4, 3, 0x3FE8000000000000, 500}, Case{-4, 3, 0x7FF0000000000123, -1},
                       Case{0, INT_MAX, 0xBFF0000000000000, INT_MIN}, Case{3, 2, 0x7FF8000000000001, 0}}) {
    const jbyteArray result = Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes(pixels), c.width, c.height,
                                               DoubleFromBits(c.bitrate_bits), c.ppi, JavaString(u"caf\u00e9"));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(FromJava(result), AsJava(stream));
    const EncodeCall& call = lib().encode;
    EXPECT_EQ(std::vector<jbyte>(call.pixels, call.pixels + pixels.size()), pixels);
    EXPECT_EQ(call.width, c.width);
    EXPECT_EQ(call.height, c.height);
    EXPECT_EQ(call.bitrate_bits, c.bitrate_bits) << std::hex << c.bitrate_bits;
    EXPECT_EQ(call.ppi, c.ppi);
    EXPECT_STREQ(call.comment_bytes, "caf\xC3\xA9");
    EXPECT_NE(call.length_slot, nullptr);
  }
}

TEST_P(StreamCodec, EncodeResultsAreIndependentAndEveryCommentStaysReadable) {
  lib().encode_answer.length = 5;
  SetImageLibraryThreadTag(3);
  const jbyteArray first =
      Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1, 2}), jint{2}, jint{1}, 1.0, jint{500}, JavaString(u""));
  const char* first_comment = lib().encode.comment;
  const unsigned char* stored = *lib().encode.output_slot;
  lib().encode_answer.length = 9;
  SetImageLibraryThreadTag(4);
  const jbyteArray second = Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1, 2}), jint{2}, jint{1}, 1.0,
                                             jint{500}, JavaString(u"second"));
  ASSERT_NE(first_comment, nullptr) << "the empty comment is a pointer to a NUL byte";
  EXPECT_STREQ(first_comment, "");
  EXPECT_STREQ(lib().encode.comment, "second");
  EXPECT_EQ(lib().encode.output_at_entry, stored);
  ASSERT_EQ(env()->GetArrayLength(first), 5);
  ASSERT_EQ(env()->GetArrayLength(second), 9);
  EXPECT_EQ(static_cast<unsigned char>(FromJava(first)[4]), ThreadBufferByte(3, 4));
  EXPECT_EQ(static_cast<unsigned char>(FromJava(second)[8]), ThreadBufferByte(4, 8));
}

TEST_P(StreamCodec, EncodeReportThatCantBeCopied) {
  lib().encode_answer = {true, -3, nullptr, false};
  EXPECT_EQ(Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1}), jint{1}, jint{1}, 1.0, jint{1}, JavaString(u"")),
            nullptr)
      << "negative length";
  lib().encode_answer = {true, 4, nullptr, true};
  EXPECT_EQ(Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1}), jint{1}, jint{1}, 1.0, jint{1}, JavaString(u"")),
            nullptr)
      << "no buffer";
  lib().encode_answer = {false, 0, nullptr, true};
  const jbyteArray nothing =
      Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1}), jint{1}, jint{1}, 1.0, jint{1}, JavaString(u""));
  ASSERT_NE(nothing, nullptr) << "an image library that stores no length gives an empty stream";
  EXPECT_EQ(env()->GetArrayLength(nothing), 0);
}

TEST_P(StreamCodec, CallerErrorsThrowBeforeTheImageLibraryIsCalled) {
  struct Case {
    const char* what;
    std::function<void()> call;
    const char* exception;
  };
  const jstring comment = JavaString(u"c");
  const Case cases[] = {
      {"null stream", [&] { Call<jbyteArray>("WSQ_1decode_1stream", jbyteArray{}, JavaInts({0, 0, 0})); },
       "java/lang/NullPointerException"},
      {"null InfoArray", [&] { Call<jbyteArray>("WSQ_1decode_1stream", JavaBytes(kStream), jintArray{}); },
       "java/lang/NullPointerException"},
      {"null pixels", [&] { Call<jbyteArray>("WSQ_1encode_1stream", jbyteArray{}, 1, 1, 1.0, 1, comment); },
       "java/lang/NullPointerException"},
      {"null comment",
       [&] { Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1}), 1, 1, 1.0, 1, jstring{}); },
       "java/lang/NullPointerException"},
      {"pixels shorter than width x height",
       [&] { Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1, 2, 3, 4, 5}), 3, 2, 1.0, 1, comment); },
       "java/lang/ArrayIndexOutOfBoundsException"},
      {"width x height beyond 32 bits",
       [&] { Call<jbyteArray>("WSQ_1encode_1stream", JavaBytes({1}), 65536, 65536, 1.0, 1, comment); },
       "java/lang/ArrayIndexOutOfBoundsException"},
  };
  for (const Case& c : cases) {
    c.call();
    EXPECT_EQ(jvm().TakePendingException(), c.exception) << c.what;
  }
  EXPECT_EQ(Calls(Entry::WSQ_decode_stream), 0);
  EXPECT_EQ(Calls(Entry::WSQ_encode_stream), 0);
}

TEST_P(StreamCodec, ResultArrayTheJvmCantMakeLeavesItsErrorPending) {
  CORVANE_REQUIRE_OUR_JVM("fail an allocation on request");
  lib().decode_answer = {true, 2, 2, 8, nullptr, false};
  const jintArray info = JavaInts({5, 5, 5});
  const jbyteArray stream = JavaBytes(kStream);
  // The stream's elements, the result array, its elements: each failing in
  // turn stops the call with the JVM's error pending and InfoArray as it was.
  for (int after = 0; after < 3; ++after) {
    jvm().FailNextAllocations(1, after);
    EXPECT_EQ(Call<jbyteArray>("WSQ_1decode_1stream", stream, info), nullptr) << after;
    EXPECT_EQ(jvm().TakePendingException(), "java/lang/OutOfMemoryError") << after;
    EXPECT_EQ(FromJava(info), (std::vector<jint>{5, 5, 5})) << after;
  }
  EXPECT_EQ(Calls(Entry::WSQ_decode_stream), 2);
}

// Decodes and encodes on several threads at once each copy from the buffer
// that the image library reported to their own thread.
TEST_P(StreamCodec, ThreadsEachCopyFromTheirOwnBuffer) {
  lib().decode_answer = {true, 16, 4, 8, nullptr, false};
  lib().encode_answer = {true, 48, nullptr, false};
  constexpr int kThreads = 4, kCalls = 300;
  std::vector<std::string> failures[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      JNIEnv* env = jvm().Env();
      SetImageLibraryThreadTag(t + 10);
      for (int i = 0; i < kCalls && failures[t].empty(); ++i) {
        env->PushLocalFrame(16);
        const bool decode = (i + t) % 2 == 0;
        const jbyteArray input = env->NewByteArray(64);
        const jbyteArray result =
            decode ? bridge().Call<jbyteArray>("WSQ_1decode_1stream", input, env->NewIntArray(3))
                   : bridge().Call<jbyteArray>("WSQ_1encode_1stream", input, jint{8}, jint{8}, 0.75, jint{500},
                                               env->NewStringUTF("thread"));
        std::vector<jbyte> bytes(static_cast<std::size_t>(result ? env->GetArrayLength(result) : 0));
        if (result) env->GetByteArrayRegion(result, 0, static_cast<jsize>(bytes.size()), bytes.data());
        if (bytes.size() != (decode ? 64u : 48u)) failures[t].push_back("wrong length");
        for (std::size_t k = 0; k < bytes.size(); ++k) {
          if (static_cast<unsigned char>(bytes[k]) != ThreadBufferByte(t + 10, static_cast<int>(k))) {
            failures[t].push_back("call " + std::to_string(i) + " copied another thread's buffer");
            break;
          }
        }
        env->PopLocalFrame(nullptr);
      }
      jvm().DetachThisThread();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], std::vector<std::string>{}) << "thread " << t;
}

}  // namespace
}  // namespace corvane::test

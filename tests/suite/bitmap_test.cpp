// The image file, WSQ buffer and grey-scale methods: pixels into bitmaps and
// back, the reports, and the bitmaps the bridge keeps or deletes.
#include <climits>
#include <functional>
#include <thread>

#include "bridge_test.h"
#include "platform/winapi.h"

namespace corvane::test {
namespace {

constexpr char16_t kUnableToGet[] = u"Unable to get HBITMAP";
constexpr char16_t kUnableToCreate[] = u"Unable to create HBITMAP";

// A DIB section made by the test, as the image library would return one.
class TestBitmap {
 public:
  TestBitmap(int width, int height, int bits_per_pixel, bool top_down, int seed = 1)
      : width_(width), height_(height), seed_(seed) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = top_down ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits_per_pixel);
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    handle_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const int bytes = bits_per_pixel / 8, stride = (width * bytes + 3) / 4 * 4;
    for (int r = 0; r < height; ++r) {
      auto* row = static_cast<unsigned char*>(bits) + (top_down ? r : height - 1 - r) * stride;
      for (int c = 0; c < width; ++c) {
        const std::uint32_t p = Pixel(r, c);
        for (int b = 0; b < bytes; ++b) row[c * bytes + b] = static_cast<unsigned char>(p >> (8 * b));
      }
    }
  }
  ~TestBitmap() { DeleteObject(handle_); }

  HBITMAP handle() const { return handle_; }
  // The colour at row r from the top, column c: 0x00RRGGBB.
  std::uint32_t Pixel(int r, int c) const { return (0x102030u * seed_ + 0x010305u * (r * 16 + c)) & 0xFFFFFF; }
  std::vector<jint> Pixels() const {
    std::vector<jint> all;
    for (int r = 0; r < height_; ++r) {
      for (int c = 0; c < width_; ++c) all.push_back(static_cast<jint>(Pixel(r, c)));
    }
    return all;
  }

 private:
  int width_, height_, seed_;
  HBITMAP handle_;
};

bool NamesABitmap(void* handle) {
  BITMAP record{};
  return GetObjectW(static_cast<HBITMAP>(handle), sizeof record, &record) != 0;
}

using Bitmaps = BridgeTest;
CORVANE_FOR_EACH_BINDING(Bitmaps);

TEST_P(Bitmaps, CreateBMPFromFileReturnsTheBitmapTopRowFirstWithItsSize) {
  for (int bits : {24, 32}) {
    for (bool top_down : {false, true}) {
      const TestBitmap source(5, 3, bits, top_down);
      lib().bitmap_answer = source.handle();
      const jintArray size = JavaInts({-1, -1, 77, 88});
      const jintArray pixels = Call<jintArray>("CreateBMPFromFile", size, JavaString(u"scan.bmp"));
      ASSERT_NE(pixels, nullptr) << bits << " bits";
      EXPECT_EQ(FromJava(size), (std::vector<jint>{5, 3, 77, 88}));
      EXPECT_EQ(FromJava(pixels), source.Pixels()) << bits << " bits, top-down " << top_down;
      EXPECT_TRUE(NamesABitmap(source.handle())) << "the bridge never deletes a bitmap the library returned";
    }
  }
  EXPECT_STREQ(lib().image.name_bytes, "scan.bmp");
}

TEST_P(Bitmaps, EachOpenReturnsANewArray) {
  const TestBitmap source(2, 2, 24, false);
  lib().bitmap_answer = source.handle();
  const jintArray first = Call<jintArray>("CreateBMPFromFile", JavaInts({0, 0}), JavaString(u"same"));
  const jintArray second = Call<jintArray>("CreateBMPFromFile", JavaInts({0, 0}), JavaString(u"same"));
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(env()->IsSameObject(first, second));
  EXPECT_EQ(FromJava(first), FromJava(second));
}

TEST_P(Bitmaps, FileNamesArriveAsModifiedUtf8) {
  const TestBitmap source(1, 1, 24, false);
  lib().bitmap_answer = source.handle();
  Call<jintArray>("CreateBMPFromFile", JavaInts({0, 0}), JavaString(u"C:\\b\u00e9\U0001F600.bmp"));
  EXPECT_STREQ(lib().image.name_bytes, "C:\\b\xC3\xA9\xED\xA0\xBD\xED\xB8\x80.bmp");
}

TEST_P(Bitmaps, NoBitmapFromTheImageLibraryIsReportedAndLeavesSizeArrayAndControlWord) {
  const TestBitmap deleted(2, 2, 24, false);
  void* const stale = deleted.handle();
  DeleteObject(deleted.handle());
  for (void* answer : {static_cast<void*>(nullptr), stale}) {
    lib().bitmap_answer = answer;
    lib().scramble = {true, false, 0x0F7F, ReadFpu().mxcsr};
    const FpuState before = ReadFpu();
    const jintArray size = JavaInts({4, 4});
    EXPECT_EQ(Call<jintArray>("CreateBMPFromFile", size, JavaString(u"missing.bmp")), nullptr);
    const FpuState after = ReadFpu();
    WriteFpu(before);
    EXPECT_EQ(after.x87_control, 0x0F7F) << "a report after the call leaves the control word";
    EXPECT_EQ(FromJava(size), (std::vector<jint>{4, 4}));
    EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{kUnableToGet});

    EXPECT_EQ(Call<jintArray>("CreateBMPFromWSQByteArray", size, JavaBytes({1})), nullptr);
    EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{kUnableToGet});
  }
}

TEST_P(Bitmaps, CreateBMPFromWSQByteArrayPassesTheBytesAndTheirCount) {
  const TestBitmap source(3, 2, 32, true);
  lib().bitmap_answer = source.handle();
  for (const std::vector<jbyte>& stream : {std::vector<jbyte>{'W', 'S', 'Q', -1}, std::vector<jbyte>{}}) {
    const jintArray size = JavaInts({0, 0});
    const jintArray pixels = Call<jintArray>("CreateBMPFromWSQByteArray", size, JavaBytes(stream));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(lib().image.length, static_cast<int>(stream.size()));
    EXPECT_EQ(std::vector<jbyte>(lib().image.bytes, lib().image.bytes + stream.size()), stream);
    EXPECT_EQ(FromJava(size), (std::vector<jint>{3, 2}));
    EXPECT_EQ(FromJava(pixels), source.Pixels());
  }
}

TEST_P(Bitmaps, SaveBMPToFileHandsTheImageLibraryABitmapOfThePixels) {
  Call<void>("SaveBMPToFile", JavaInts({0x12345678}), jint{1}, jint{1}, JavaString(u"one.bmp"), jint{-1});
  const ReceivedBitmap& got = lib().image.bitmap;
  ASSERT_TRUE(got.readable);
  EXPECT_EQ(lib().image.flags, -1);
  EXPECT_STREQ(lib().image.name_bytes, "one.bmp");
  if (binding() == Binding::kDemo) {
    EXPECT_EQ(got.bits_per_pixel, 24);
    EXPECT_EQ(std::vector<int>(got.raw, got.raw + 3), (std::vector<int>{0x78, 0x56, 0x34})) << "bits 24-31 dropped";
  } else {
    EXPECT_EQ(got.bits_per_pixel, 32);
    EXPECT_EQ(got.pixels[0], 0x12345678u) << "all four bytes";
  }

  // 3 x 2: in the demo binding 9 pixel bytes and 3 padding bytes per stored
  // row, the bottom row (elements 3, 4, 5) stored first.
  const std::vector<jint> six = {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0x0D0E0F, 0x101112};
  Call<void>("SaveBMPToFile", JavaInts(six), jint{3}, jint{2}, JavaString(u"six.bmp"), jint{INT_MIN});
  EXPECT_EQ(lib().image.flags, INT_MIN);
  EXPECT_EQ(std::vector<std::uint32_t>(got.pixels, got.pixels + 6), std::vector<std::uint32_t>(six.begin(), six.end()));
  EXPECT_EQ(got.width, 3);
  EXPECT_EQ(got.height, 2);
  if (binding() == Binding::kDemo) {
    EXPECT_EQ(got.width_bytes, 12);
    EXPECT_EQ(std::vector<int>(got.raw, got.raw + 9),
              (std::vector<int>{0x0C, 0x0B, 0x0A, 0x0F, 0x0E, 0x0D, 0x12, 0x11, 0x10}));
    EXPECT_EQ(std::vector<int>(got.raw + 12, got.raw + 15), (std::vector<int>{0x03, 0x02, 0x01}));
  }
}

TEST_P(Bitmaps, DemoBitmapLivesUntilTheNextRebuildLibraryBitmapUntilTheCallEnds) {
  Call<void>("SaveBMPToFile", JavaInts({1, 2, 3, 4}), jint{2}, jint{2}, JavaString(u"a"), jint{0});
  void* const first = lib().image.bitmap.handle;
  EXPECT_EQ(NamesABitmap(first), binding() == Binding::kDemo);
  Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", JavaInts({1, 2, 3, 4}), jint{2}, jint{2}, JavaString(u"b"));
  EXPECT_FALSE(NamesABitmap(first)) << "gone once the next call has converted its pixels";
}

// No bitmap: in the demo binding for a width or height of 0 or below; in the
// library binding where GDI makes none, or would read more pixels than the
// array holds (GDI takes a negative size by its magnitude).
TEST_P(Bitmaps, SizesThatMakeNoBitmapAreReportedWithoutCallingTheImageLibrary) {
  struct Case {
    jint width, height;
    std::vector<jint> pixels;
  };
  const std::size_t copies = jvm().OutstandingCopies();
  std::vector<Case> cases = {{-1, 2, {1}}, {2, -3, {1, 2, 3, 4}}, {INT_MIN, 1, {1}}, {-65536, -65536, {1}}};
  if (binding() == Binding::kDemo) {
    cases.insert(cases.end(), {{0, 2, {1}}, {2, 0, {1}}, {0, 0, {}}, {-2, -2, {1, 2, 3, 4}}});
  }
  for (const Case& c : cases) {
    const jintArray size = JavaInts({9, 9});
    EXPECT_EQ(Call<jintArray>("ConvertHBITMAPtoGrayScale256", size, JavaInts(c.pixels), c.width, c.height), nullptr);
    EXPECT_EQ(FromJava(size), (std::vector<jint>{9, 9}));
    Call<void>("SaveBMPToFile", JavaInts(c.pixels), c.width, c.height, JavaString(u"x"), jint{0});
    EXPECT_EQ(
        Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", JavaInts(c.pixels), c.width, c.height, JavaString(u"x")), 0);
    EXPECT_EQ(TakeReportTexts(), (std::vector<std::u16string>{kUnableToCreate, kUnableToCreate, kUnableToCreate}))
        << c.width << " x " << c.height;
  }
  EXPECT_EQ(Calls(Entry::ConvertHBITMAPtoGrayScale256) + Calls(Entry::SaveBMPToFile) +
                Calls(Entry::SaveHBITMAPtoFileAsGrayScale256BMP),
            0);
  EXPECT_EQ(jvm().OutstandingCopies(), copies) << "no file name converted";
}

TEST_P(Bitmaps, LibraryBindingPassesNegativeSizesToGdi) {
  if (binding() == Binding::kDemo) GTEST_SKIP() << "the demo binding makes no bitmap of a negative size";
  Call<void>("SaveBMPToFile", JavaInts({1, 2, 3, 4, 5, 6}), jint{-3}, jint{2}, JavaString(u"x"), jint{0});
  EXPECT_EQ(lib().image.bitmap.width, 3);
  EXPECT_EQ(lib().image.bitmap.height, 2);
  EXPECT_EQ(std::vector<std::uint32_t>(lib().image.bitmap.pixels, lib().image.bitmap.pixels + 6),
            (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6}));
}

TEST_P(Bitmaps, ConvertFollowsTheBitmapTheImageLibraryReturns) {
  const TestBitmap other(7, 2, 24, false, 3);
  lib().bitmap_answer = other.handle();
  const jintArray size = JavaInts({0, 0, -9});
  const jintArray result = Call<jintArray>("ConvertHBITMAPtoGrayScale256", size, JavaInts({1, 2, 3, 4, 5, 6}),
                                           jint{3}, jint{2});
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(lib().image.bitmap.width, 3) << "the bitmap's size is how width and height reach the image library";
  EXPECT_EQ(lib().image.bitmap.height, 2);
  EXPECT_EQ(FromJava(size), (std::vector<jint>{7, 2, -9}));
  EXPECT_EQ(FromJava(result), other.Pixels());

  lib().bitmap_answer = nullptr;
  EXPECT_EQ(Call<jintArray>("ConvertHBITMAPtoGrayScale256", size, JavaInts({1}), jint{1}, jint{1}), nullptr);
  EXPECT_EQ(TakeReportTexts(), std::vector<std::u16string>{kUnableToGet});
  EXPECT_EQ(FromJava(size), (std::vector<jint>{7, 2, -9}));
}

TEST_P(Bitmaps, ConvertReadsTheVeryBitmapItHandedOverWhenItComesBack) {
  lib().return_received = true;
  const std::vector<jint> pixels = {0x00112233, 0x00445566, 0x00778899, 0x00AABBCC};
  const jintArray size = JavaInts({0, 0});
  const jintArray result = Call<jintArray>("ConvertHBITMAPtoGrayScale256", size, JavaInts(pixels), jint{2}, jint{2});
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(FromJava(size), (std::vector<jint>{2, 2}));
  EXPECT_EQ(FromJava(result), pixels);
}

TEST_P(Bitmaps, IntResultsAndTheLastIntCrossUnchanged) {
  for (jint value : {0, 1, -7, INT_MIN, INT_MAX}) {
    lib().int_answer = value;
    EXPECT_EQ(Call<jint>("SaveWSQByteArrayToImageFile", JavaBytes({5, 6, 7}), JavaString(u"out.tif"), value), value);
    EXPECT_EQ(lib().image.flags, value);
    EXPECT_EQ(lib().image.length, 3);
    EXPECT_STREQ(lib().image.name_bytes, "out.tif");
    EXPECT_EQ(Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", JavaInts({1}), jint{1}, jint{1}, JavaString(u"g")),
              value);
  }
}

TEST_P(Bitmaps, CallerErrorsThrowBeforeAnythingElseHappens) {
  const int objects = LiveGdiObjects();
  const jstring name = JavaString(u"f");
  const jintArray four = JavaInts({1, 2, 3, 4});
  struct Case {
    const char* what;
    std::function<void()> call;
    const char* exception;
  };
  const char* npe = "java/lang/NullPointerException";
  const char* aioobe = "java/lang/ArrayIndexOutOfBoundsException";
  const Case cases[] = {
      {"CreateBMPFromFile null size", [&] { Call<jintArray>("CreateBMPFromFile", jintArray{}, name); }, npe},
      {"CreateBMPFromFile null name", [&] { Call<jintArray>("CreateBMPFromFile", JavaInts({0, 0}), jstring{}); }, npe},
      {"CreateBMPFromFile short size", [&] { Call<jintArray>("CreateBMPFromFile", JavaInts({0}), name); }, aioobe},
      {"CreateBMPFromWSQByteArray null bytes",
       [&] { Call<jintArray>("CreateBMPFromWSQByteArray", JavaInts({0, 0}), jbyteArray{}); }, npe},
      {"CreateBMPFromWSQByteArray short size",
       [&] { Call<jintArray>("CreateBMPFromWSQByteArray", JavaInts({}), JavaBytes({1})); }, aioobe},
      {"SaveBMPToFile null pixels", [&] { Call<void>("SaveBMPToFile", jintArray{}, 1, 1, name, 0); }, npe},
      {"SaveBMPToFile null name", [&] { Call<void>("SaveBMPToFile", four, 2, 2, jstring{}, 0); }, npe},
      {"SaveBMPToFile short pixels", [&] { Call<void>("SaveBMPToFile", four, 3, 2, name, 0); }, aioobe},
      {"SaveBMPToFile overflowing size", [&] { Call<void>("SaveBMPToFile", four, 65536, 65536, name, 0); }, aioobe},
      {"SaveWSQByteArrayToImageFile null bytes",
       [&] { Call<jint>("SaveWSQByteArrayToImageFile", jbyteArray{}, name, 0); }, npe},
      {"SaveWSQByteArrayToImageFile null name",
       [&] { Call<jint>("SaveWSQByteArrayToImageFile", JavaBytes({1}), jstring{}, 0); }, npe},
      {"Convert null size", [&] { Call<jintArray>("ConvertHBITMAPtoGrayScale256", jintArray{}, four, 2, 2); }, npe},
      {"Convert null pixels",
       [&] { Call<jintArray>("ConvertHBITMAPtoGrayScale256", JavaInts({0, 0}), jintArray{}, 2, 2); }, npe},
      {"Convert short size", [&] { Call<jintArray>("ConvertHBITMAPtoGrayScale256", JavaInts({0}), four, 2, 2); },
       aioobe},
      {"Convert short pixels",
       [&] { Call<jintArray>("ConvertHBITMAPtoGrayScale256", JavaInts({0, 0}), four, 2, 3); }, aioobe},
      {"SaveHBITMAP null pixels",
       [&] { Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", jintArray{}, 1, 1, name); }, npe},
      {"SaveHBITMAP null name", [&] { Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", four, 2, 2, jstring{}); }, npe},
      {"SaveHBITMAP short pixels",
       [&] { Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", four, INT_MAX, 2, name); }, aioobe},
  };
  for (const Case& c : cases) {
    c.call();
    EXPECT_EQ(jvm().TakePendingException(), c.exception) << c.what;
  }
  for (int entry = 0; entry < static_cast<int>(Entry::kCount); ++entry) EXPECT_EQ(lib().calls[entry], 0) << entry;
  EXPECT_EQ(LiveGdiObjects(), objects) << "no bitmap made";
}

// Windows gives a process some 10,000 GDI objects: whatever the bridge keeps
// alive must not grow with the number of calls.
TEST_P(Bitmaps, GdiObjectsStayFlatOverManyCalls) {
  const TestBitmap returned(2, 2, 24, false);
  const jintArray pixels = JavaInts({1, 2, 3, 4});
  const jstring name = JavaString(u"f");
  const auto round = [&](int i) {
    lib().return_received = i % 2 == 0;
    lib().bitmap_answer = returned.handle();
    env()->PushLocalFrame(8);
    Call<void>("SaveBMPToFile", pixels, jint{2}, jint{2}, name, jint{0});
    Call<jintArray>("ConvertHBITMAPtoGrayScale256", JavaInts({0, 0}), pixels, jint{2}, jint{2});
    Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", pixels, jint{2}, jint{2}, name);
    Call<jintArray>("CreateBMPFromFile", JavaInts({0, 0}), name);
    env()->PopLocalFrame(nullptr);
  };
  round(0);  // the demo binding's one shared bitmap comes into being
  const int objects = LiveGdiObjects();
  int alive = 0;
  for (int i = 1; i <= 20000; ++i) {
    round(i);
    // What the image library received last in this round: the library
    // binding's own bitmap is deleted, the demo binding's shared one lives.
    alive += NamesABitmap(lib().image.bitmap.handle);
  }
  EXPECT_EQ(LiveGdiObjects(), objects);
  EXPECT_EQ(alive, binding() == Binding::kDemo ? 20000 : 0);
  EXPECT_TRUE(NamesABitmap(returned.handle()));
}

// Overlapping calls on several threads: each gets its own pixels back, in
// the demo binding too, where they share one bitmap object.
TEST_P(Bitmaps, OverlappingCallsOnSeveralThreadsKeepTheirOwnPixels) {
  lib().return_received = true;
  constexpr int kThreads = 4, kCalls = 200;
  std::vector<std::string> failures[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      JNIEnv* env = jvm().Env();
      for (int i = 0; i < kCalls && failures[t].empty(); ++i) {
        env->PushLocalFrame(8);
        std::vector<jint> mine(64);
        for (std::size_t k = 0; k < mine.size(); ++k) mine[k] = (t << 16) | (i << 6) | static_cast<jint>(k);
        const jintArray input = env->NewIntArray(64);
        env->SetIntArrayRegion(input, 0, 64, mine.data());
        const jintArray result =
            bridge().Call<jintArray>("ConvertHBITMAPtoGrayScale256", env->NewIntArray(2), input, jint{8}, jint{8});
        std::vector<jint> got(64, -1);
        if (result && env->GetArrayLength(result) == 64) env->GetIntArrayRegion(result, 0, 64, got.data());
        if (got != mine) failures[t].push_back("call " + std::to_string(i) + " got other pixels");
        env->PopLocalFrame(nullptr);
      }
      jvm().DetachThisThread();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], std::vector<std::string>{}) << "thread " << t;
}

TEST_P(Bitmaps, ResultArrayTheJvmCantMakeLeavesItsErrorPendingAndNoDeviceContext) {
  CORVANE_REQUIRE_OUR_JVM("fail an allocation on request");
  const TestBitmap source(2, 2, 24, false);
  lib().bitmap_answer = source.handle();
  const jintArray size = JavaInts({0, 0});
  const jstring name = JavaString(u"f");
  const int objects = LiveGdiObjects();
  // The file name, the size array's elements, then the result array: each
  // failing in turn stops the call there with the JVM's error pending.
  for (int after = 0; after < 3; ++after) {
    jvm().FailNextAllocations(1, after);
    EXPECT_EQ(Call<jintArray>("CreateBMPFromFile", size, name), nullptr) << after;
    EXPECT_EQ(jvm().TakePendingException(), "java/lang/OutOfMemoryError") << after;
    EXPECT_EQ(LiveGdiObjects(), objects) << after;
  }
  EXPECT_EQ(Calls(Entry::CreateBMPFromFile), 2) << "the file name failed before the call";
}

}  // namespace
}  // namespace corvane::test

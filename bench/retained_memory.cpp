// Native memory that each call leaves allocated in HotSpot, for every method
// of both bindings: the input byte arrays and strings that the bridge hands
// to the image library and never releases (HotSpot copies both into the C
// heap). Each row makes 100,000 calls with small fixed inputs, the double
// scripted so that every call takes its normal path, and prints the growth
// of the C heap's bytes in use per call (the Java heap is not counted) beside
// what the retained copies should take: for each one the allocator's chunk
// for its size (a byte array's length; a string's modified UTF-8 length and
// its NUL), as measured at the start. It also prints the live GDI objects
// before and after the row's calls. Exits 1 when a row is off by more than
// the tolerance, a GDI count moved, a call left its normal path, or a method
// of the table has no row.
//
//   CORVANE_HOTSPOT_CHECK_JNI=0 CORVANE_BRIDGE_DEMO=... CORVANE_BRIDGE_LIBRARY=... \
//   LD_LIBRARY_PATH=<image library folder> retained_memory
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/jvm.h"
#include "host/platform.h"
#include "platform/winapi.h"
#include "suite/method_info.h"

using namespace corvane::test;

namespace {

constexpr int kWarmUpCalls = 1000;  // first-use loads, allocator pools, compiled callers
constexpr int kCalls = 100000;

// Every retained copy is at least one 32-byte chunk, so a call that kept one
// allocation more than expected would be 32 bytes/call off. The JVM's own
// threads (compiler, collector) allocate and free beside the calls; on this
// machine that moved a row by at most 1.6 bytes/call (a 16 KiB stream at
// 16,398.4 where 16,400 stays). Four bytes/call (400 KB over a row) stays
// clear of that noise and still catches an extra allocation kept once in
// every eight calls.
constexpr double kToleranceBytesPerCall = 4.0;

long HeapBytesInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>(info.uordblks + info.hblkhd);
}

// What HeapBytesInUse grows by for one malloc(size) that stays: the median of
// three runs of 4,096 blocks. Each run first takes 64 blocks unmeasured: the
// allocator's per-thread cache hands out the few chunks of that size it holds
// (freed by the run before), which it already counts as in use.
long ChunkBytes(std::size_t size) {
  static std::map<std::size_t, long> measured;
  if (const auto it = measured.find(size); it != measured.end()) return it->second;
  constexpr int kCached = 64, kBlocks = 4096;
  std::vector<void*> blocks(kCached + kBlocks);
  long runs[3];
  for (long& run : runs) {
    for (int i = 0; i < kCached; ++i) blocks[static_cast<std::size_t>(i)] = std::malloc(size);
    const long before = HeapBytesInUse();
    for (std::size_t i = kCached; i < blocks.size(); ++i) blocks[i] = std::malloc(size);
    const long after = HeapBytesInUse();
    for (void* block : blocks) std::free(block);
    run = std::lround(static_cast<double>(after - before) / kBlocks);
  }
  std::sort(std::begin(runs), std::end(runs));
  return measured[size] = runs[1];
}

// An input that each call leaves allocated, and the size of HotSpot's copy.
struct Retained {
  const char* what;
  std::size_t bytes;
};

Retained KeptString(JNIEnv* env, jstring string) {
  return {"string", static_cast<std::size_t>(env->GetStringUTFLength(string)) + 1};
}

Retained KeptBytes(JNIEnv* env, jbyteArray array) {
  return {"byte array", static_cast<std::size_t>(env->GetArrayLength(array))};
}

// A HotSpot copy of `r`: nothing for an empty array, which HotSpot lends out
// without allocating; otherwise the chunk of its size.
long ExpectedBytes(const Retained& r) { return r.bytes == 0 ? 0 : ChunkBytes(r.bytes); }

struct Row {
  const char* method;   // as in the method table
  std::string inputs;   // what each call passes
  std::vector<Retained> retained;
  // One call; false when it did not take its normal path.
  std::function<bool(const BridgeModule&)> call;
};

template <typename T>
T Global(JNIEnv* env, T local) {
  return static_cast<T>(env->NewGlobalRef(local));
}

jstring JavaString(JNIEnv* env, const std::u16string& text) {
  return Global(env, env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size())));
}

jbyteArray JavaBytes(JNIEnv* env, int length) {
  const jbyteArray array = env->NewByteArray(length);
  std::vector<jbyte> bytes(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<jbyte>(i * 7);
  env->SetByteArrayRegion(array, 0, length, bytes.data());
  return Global(env, array);
}

jintArray JavaInts(JNIEnv* env, int length) {
  const jintArray array = env->NewIntArray(length);
  std::vector<jint> ints(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) ints[static_cast<std::size_t>(i)] = 0x00102030 * i;
  env->SetIntArrayRegion(array, 0, length, ints.data());
  return Global(env, array);
}

// The rows, the same for both bindings. The inputs are made once; every call
// of a row passes the same objects.
std::vector<Row> MakeRows(JNIEnv* env) {
  const jstring comment = JavaString(env, u"0123456789");
  const jstring file = JavaString(env, u"scans/finger-\u00FC\u00DF-\U0001F600.bmp");
  const jbyteArray stream = JavaBytes(env, 1024), empty = JavaBytes(env, 0), large = JavaBytes(env, 16384);
  const jbyteArray wsq = JavaBytes(env, 100), wsq_to_save = JavaBytes(env, 500), pixel_bytes = JavaBytes(env, 256);
  const jintArray pixels = JavaInts(env, 16), size = JavaInts(env, 2), info = JavaInts(env, 3);
  const std::string file_text = "file name with U+00FC, U+00DF, U+1F600";
  const auto non_null = [](jobject result) { return result != nullptr; };
  return {
      {"WriteWSQ_bitrate", "0.75", {}, [](auto& m) { m.template Call<void>("WriteWSQ_1bitrate", 0.75); return true; }},
      {"ReadWSQ_bitrate", "", {}, [](auto& m) { return m.template Call<jdouble>("ReadWSQ_1bitrate") == 0.75; }},
      {"WriteWSQ_ppi", "500", {}, [](auto& m) { m.template Call<void>("WriteWSQ_1ppi", jint{500}); return true; }},
      {"ReadWSQ_ppi", "", {}, [](auto& m) { return m.template Call<jint>("ReadWSQ_1ppi") == 500; }},
      {"WriteWSQ_comment", "10-character comment", {KeptString(env, comment)},
       [=](auto& m) { m.template Call<void>("WriteWSQ_1comment", comment); return true; }},
      {"ReadWSQ_comment", "10-character text", {},
       [=](auto& m) { return non_null(m.template Call<jstring>("ReadWSQ_1comment")); }},
      {"WriteTIFFcompression", "5", {},
       [](auto& m) { m.template Call<void>("WriteTIFFcompression", jint{5}); return true; }},
      {"WriteTIFFpredictor", "2", {},
       [](auto& m) { m.template Call<void>("WriteTIFFpredictor", jint{2}); return true; }},
      {"SetShowFilePropertiesDialog", "0", {},
       [](auto& m) { m.template Call<void>("SetShowFilePropertiesDialog", jint{0}); return true; }},
      {"ShowFileConverter", "", {}, [](auto& m) { m.template Call<void>("ShowFileConverter"); return true; }},
      {"CreateBMPFromFile", file_text + ", 4 x 4 bitmap", {KeptString(env, file)},
       [=](auto& m) { return non_null(m.template Call<jintArray>("CreateBMPFromFile", size, file)); }},
      {"SaveBMPToFile", "4 x 4 pixels, " + file_text, {KeptString(env, file)},
       [=](auto& m) {
         m.template Call<void>("SaveBMPToFile", pixels, jint{4}, jint{4}, file, jint{0});
         return true;
       }},
      {"CreateBMPFromWSQByteArray", "100 WSQ bytes, 4 x 4 bitmap", {KeptBytes(env, wsq)},
       [=](auto& m) { return non_null(m.template Call<jintArray>("CreateBMPFromWSQByteArray", size, wsq)); }},
      {"SaveWSQByteArrayToImageFile", "500 WSQ bytes, " + file_text,
       {KeptBytes(env, wsq_to_save), KeptString(env, file)},
       [=](auto& m) {
         return m.template Call<jint>("SaveWSQByteArrayToImageFile", wsq_to_save, file, jint{0}) == 1;
       }},
      {"WSQ_decode_stream", "1,024-byte stream, 16-byte result", {KeptBytes(env, stream)},
       [=](auto& m) { return non_null(m.template Call<jbyteArray>("WSQ_1decode_1stream", stream, info)); }},
      {"WSQ_encode_stream", "16 x 16 pixel bytes, 10-character comment, 16-byte result",
       {KeptBytes(env, pixel_bytes), KeptString(env, comment)},
       [=](auto& m) {
         return non_null(m.template Call<jbyteArray>("WSQ_1encode_1stream", pixel_bytes, jint{16}, jint{16}, 0.75,
                                                     jint{500}, comment));
       }},
      {"ConvertHBITMAPtoGrayScale256", "4 x 4 pixels, its own bitmap back", {},
       [=](auto& m) {
         return non_null(m.template Call<jintArray>("ConvertHBITMAPtoGrayScale256", size, pixels, jint{4}, jint{4}));
       }},
      {"SaveHBITMAPtoFileAsGrayScale256BMP", "4 x 4 pixels, " + file_text, {KeptString(env, file)},
       [=](auto& m) {
         return m.template Call<jint>("SaveHBITMAPtoFileAsGrayScale256BMP", pixels, jint{4}, jint{4}, file) == 1;
       }},
      // The same method at other sizes: how the figure follows the array.
      {"WSQ_decode_stream", "empty stream, 16-byte result", {KeptBytes(env, empty)},
       [=](auto& m) { return non_null(m.template Call<jbyteArray>("WSQ_1decode_1stream", empty, info)); }},
      {"WSQ_decode_stream", "16,384-byte stream, 16-byte result", {KeptBytes(env, large)},
       [=](auto& m) { return non_null(m.template Call<jbyteArray>("WSQ_1decode_1stream", large, info)); }},
  };
}

int EntryIndex(const char* method) {
  for (std::size_t i = 0; i < std::size(kMethods); ++i) {
    if (std::strcmp(kMethods[i].name, method) == 0) return static_cast<int>(i);
  }
  return -1;
}

// A 4 x 4 24-bit DIB section: what the bitmap-returning entry points answer.
HBITMAP MakeAnswerBitmap() {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 4;
  info.bmiHeader.biHeight = 4;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bits) std::memset(bits, 0x5A, 4 * 12);
  return bitmap;
}

}  // namespace

int main() {
  JNIEnv* env = TheJvm().Env();
  DoubleState* lib = ImageLibrary();
  if (!lib) {
    std::fprintf(stderr, "no image library double found (LD_LIBRARY_PATH)\n");
    return 1;
  }
  const HBITMAP answer = MakeAnswerBitmap();
  lib->decode_answer = {true, 4, 4, 8, nullptr, false};
  lib->encode_answer = {true, 16, nullptr, false};
  lib->comment = "0123456789";
  lib->bitmap_answer = answer;
  lib->return_received = true;
  lib->int_answer = 1;

  const std::vector<Row> rows = MakeRows(env);
  bool ok = true;
  for (const MethodInfo& method : kMethods) {
    if (std::none_of(rows.begin(), rows.end(), [&](const Row& r) { return std::strcmp(r.method, method.name) == 0; })) {
      std::printf("%s: no row\n", method.name);
      ok = false;
    }
  }

  std::printf("Chunk the allocator takes for malloc(n) that stays, measured:");
  std::map<std::size_t, long> sizes;
  for (const Row& row : rows) {
    for (const Retained& r : row.retained) {
      if (r.bytes > 0) sizes[r.bytes] = ChunkBytes(r.bytes);
    }
  }
  for (const auto& [size, chunk] : sizes) std::printf(" %zu -> %ld;", size, chunk);
  std::printf("\n%d calls per row after %d to warm up; tolerance %.1f bytes/call\n\n", kCalls, kWarmUpCalls,
              kToleranceBytesPerCall);
  std::printf("%-35s %-8s %-58s %9s %9s %9s  %s\n", "method", "binding", "inputs", "measured", "expected",
              "GDI", "retained");

  for (const Binding binding : {Binding::kDemo, Binding::kLibrary}) {
    const BridgeModule& bridge = SharedBridge(binding);
    for (const Row& row : rows) {
      const int entry = EntryIndex(row.method);
      if (entry < 0) {
        std::printf("%s: not in the method table\n", row.method);
        ok = false;
        continue;
      }
      int off_path = 0;
      const auto run = [&](int calls) {
        for (int i = 0; i < calls; ++i) {
          env->PushLocalFrame(16);
          if (!row.call(bridge) || env->ExceptionCheck()) ++off_path;
          env->ExceptionClear();
          env->PopLocalFrame(nullptr);
        }
      };
      const int calls_before = lib->calls[entry];
      run(kWarmUpCalls);
      const int gdi_before = LiveGdiObjects();
      const long before = HeapBytesInUse();
      run(kCalls);
      const long after = HeapBytesInUse();
      const int gdi_after = LiveGdiObjects();
      const int reports = static_cast<int>(TakeReports().size());

      const double measured = static_cast<double>(after - before) / kCalls;
      long expected = 0;
      std::string retained;
      for (const Retained& r : row.retained) {
        expected += ExpectedBytes(r);
        retained += (retained.empty() ? "" : " + ") + std::string(r.what) + " " + std::to_string(r.bytes) + " -> " +
                    std::to_string(ExpectedBytes(r));
      }
      std::string problems;
      if (std::fabs(measured - static_cast<double>(expected)) > kToleranceBytesPerCall) problems += " MEASURED!=EXPECTED";
      if (gdi_after != gdi_before) problems += " GDI-GREW";
      if (off_path > 0) problems += " OFF-PATH:" + std::to_string(off_path);
      if (reports > 0) problems += " REPORTS:" + std::to_string(reports);
      if (lib->calls[entry] - calls_before != kWarmUpCalls + kCalls) problems += " ENTRY-CALLS";
      ok = ok && problems.empty();
      std::printf("%-35s %-8s %-58s %9.1f %9ld %4d/%-4d  %s%s\n", row.method, BindingName(binding),
                  row.inputs.c_str(), measured, expected, gdi_before, gdi_after,
                  retained.empty() ? "nothing" : retained.c_str(), problems.c_str());
      std::fflush(stdout);
    }
  }
  DeleteObject(answer);
  std::printf("\n%s\n", ok ? "all rows as expected" : "SOME ROWS DIFFER");
  return ok ? 0 : 1;
}

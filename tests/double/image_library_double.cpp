// A stand-in for the image library: the entry points under their underscore
// names, cdecl, recording every call and answering what the test scripted.
// Built twice: complete, and (CORVANE_DOUBLE_PARTIAL) lacking some entry points.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "double_control.h"
#include "host/per_thread.h"
#include "platform/winapi.h"

#if defined(_WIN32)
#define DOUBLE_EXPORT extern "C" __declspec(dllexport)
#else
#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using corvane::test::DoubleState;
using corvane::test::Entry;

namespace {

DoubleState state;

// What the double keeps per thread (see PerThread for why not thread_local).
struct ThreadData {
  std::unique_ptr<DoubleState> state;  // after CorvaneDouble_UseThreadState
  std::vector<unsigned char> buffer;   // the codec answers' bytes
  int buffer_tag = -1;                 // whose bytes `buffer` holds
  std::unique_ptr<unsigned char[]> hostile_buffer;
  std::vector<HBITMAP> hostile_bitmaps;
  std::unique_ptr<char[]> hostile_texts;
};
using Threads = corvane::test::PerThread<ThreadData>;

thread_local DoubleState* thread_state = nullptr;  // the thread's own state, if any
thread_local int thread_tag = 0;
thread_local const char* last_text = nullptr;

// Whether any thread ever took a state of its own: until then no entry point
// looks at thread-local storage, which costs a call in a shared library.
int any_thread_state = 0;

// The calling thread's state: its own, or the shared one.
DoubleState& S() {
  if (!__atomic_load_n(&any_thread_state, __ATOMIC_RELAXED)) return state;
  return thread_state ? *thread_state : state;
}

void HostileScramble();
void ReleaseHostileBitmaps();

// Counts the call on entry; leaves the scripted floating-point state on return.
class CallScope {
 public:
  // A relaxed load and store, not an atomic increment: threads sharing the
  // state may lose a count (tests that count calls run on one thread), and no
  // locked instruction lands in the timings of the entry points.
  explicit CallScope(Entry entry) {
    int& count = S().calls[static_cast<int>(entry)];
    __atomic_store_n(&count, __atomic_load_n(&count, __ATOMIC_RELAXED) + 1, __ATOMIC_RELAXED);
  }
  ~CallScope() {
    if (S().hostile.enabled) HostileScramble();
    const auto& s = S().scramble;
    if (!s.enabled) return;
    if (s.raise_x87_flags) __asm__ volatile("fld1\n\tfldz\n\tfdivrp\n\tfstp %%st(0)" ::: "st");
    __asm__ volatile("ldmxcsr %0" : : "m"(s.mxcsr));
    __asm__ volatile("fldcw %0" : : "m"(s.x87_control));
  }
};


// The buffer a codec call reports: the scripted one, or the calling thread's.
// The thread's bytes are written again only when its tag changed or the
// buffer grew, so a large answer costs a copy only once.
template <typename Answer>
unsigned char* OutputBuffer(const Answer& answer, long long count) {
  if (answer.null_output) return nullptr;
  if (answer.output) return const_cast<unsigned char*>(answer.output);
  const auto size = static_cast<std::size_t>(std::clamp(count, 0ll, 1ll << 26));
  ThreadData& mine = Threads::Get();
  if (mine.buffer.size() < size || mine.buffer_tag != thread_tag) {
    mine.buffer.resize(std::max(size, mine.buffer.size()));
    for (std::size_t i = 0; i < mine.buffer.size(); ++i) {
      mine.buffer[i] = corvane::test::ThreadBufferByte(thread_tag, static_cast<int>(i));
    }
    mine.buffer_tag = thread_tag;
  }
  return mine.buffer.data();
}

// Looks at a received bitmap through GDI, as an image library would.
void Receive(void* handle) {
  auto& r = S().image.bitmap;
  r = {};
  r.handle = handle;
  const auto bitmap = static_cast<HBITMAP>(handle);
  BITMAP record{};
  r.readable = GetObjectW(bitmap, sizeof record, &record) == static_cast<int>(sizeof record);
  if (!r.readable) return;
  r.width = record.bmWidth;
  r.height = record.bmHeight;
  r.bits_per_pixel = record.bmBitsPixel;
  r.width_bytes = record.bmWidthBytes;
  if (record.bmBits) {
    const long long size = 1ll * record.bmWidthBytes * record.bmHeight;
    std::memcpy(r.raw, record.bmBits, static_cast<std::size_t>(std::min<long long>(size, sizeof r.raw)));
  }
  const int rows = std::min<int>(record.bmHeight, static_cast<int>(std::size(r.pixels)) / std::max<int>(1, record.bmWidth));
  if (rows <= 0) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = record.bmWidth;
  info.bmiHeader.biHeight = -rows;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const HDC dc = CreateCompatibleDC(nullptr);
  GetDIBits(dc, bitmap, 0, static_cast<UINT>(rows), r.pixels, &info, DIB_RGB_COLORS);
  DeleteDC(dc);
}

void ReceiveName(const char* name) {
  S().image.name = name;
  std::strncpy(S().image.name_bytes, name ? name : "", sizeof S().image.name_bytes - 1);
}

// --- Hostile mode: the answers drawn at random. ---

std::uint64_t Draw(std::uint64_t bound) {
  if (bound <= 1) return 0;
  corvane::test::Hostile& h = S().hostile;
  if (h.draw) return h.draw(h.context, bound) % bound;
  std::uint64_t z = (h.seed += 0x9E3779B97F4A7C15ull);  // splitmix64
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return (z ^ (z >> 31)) % bound;
}

bool OneIn(std::uint64_t n) { return Draw(n) == 0; }

template <typename T, std::size_t N>
T Pick(const T (&values)[N]) {
  return values[Draw(N)];
}

int HostileInt() {
  static constexpr int kValues[] = {0,     -1,    1,      2,       3,       7,           8,           255,    256,
                                    65535, 65536, 46341,  -46341,  INT_MIN, INT_MAX,     INT_MIN + 1, -65536, 4096};
  switch (Draw(4)) {
    case 0: return Pick(kValues);
    case 1: return static_cast<int>(Draw(21)) - 4;
    case 2: return static_cast<int>(static_cast<std::uint32_t>(Draw(std::uint64_t{1} << 32)));
    default: return static_cast<int>(Draw(301));
  }
}

std::uint64_t HostileDoubleBits() {
  static constexpr std::uint64_t kBits[] = {
      0x0000000000000000, 0x8000000000000000, 0x7FF8000000000000, 0x7FF0000000000001,  // +0, -0, qNaN, sNaN
      0xFFF8000000000001, 0x7FF0000000000000, 0xFFF0000000000000, 0x0000000000000001,  // -NaN, ±inf, denormal
      0x7FEFFFFFFFFFFFFF, 0x3FE8000000000000};                                          // max, 0.75
  return OneIn(2) ? Pick(kBits) : (Draw(std::uint64_t{1} << 32) << 32 | Draw(std::uint64_t{1} << 32));
}

// Exceptions stay masked (an unmasked one with its flag pending would trap
// in whatever x87 instruction comes next); precision, rounding, infinity
// control, flush-to-zero, denormals-are-zero and the flags vary.
void HostileScramble() {
  auto& s = S().scramble;
  s.enabled = !OneIn(4);
  s.raise_x87_flags = OneIn(2);
  static constexpr unsigned short kPrecision[] = {0x0000, 0x0200, 0x0300};  // single, double, extended
  s.x87_control = static_cast<unsigned short>(0x007F | Pick(kPrecision) | Draw(4) << 10 | (OneIn(2) ? 0x1000 : 0));
  s.mxcsr = 0x1F80u | (static_cast<unsigned int>(Draw(1u << 16)) & 0xE07Fu);
}

// The thread's buffer for hostile answers: fixed in size and place, so that a
// pointer left in an output slot by an earlier call still reads its bytes.
constexpr long long kHostileCapacity = 1 << 16;
unsigned char* HostileBuffer(long long count) {
  auto& buffer = Threads::Get().hostile_buffer;
  if (!buffer) buffer = std::make_unique<unsigned char[]>(kHostileCapacity);
  const long long n = std::clamp(count, 0ll, kHostileCapacity);
  for (long long i = 0; i < n; ++i) buffer[i] = corvane::test::ThreadBufferByte(thread_tag, static_cast<int>(i));
  return buffer.get();
}

// What a codec entry point leaves in its output slot for a reported count:
// null (whatever the count), its buffer, or nothing new (the slot keeps what
// an earlier call stored). Never a buffer shorter than a count the bridge
// could copy.
void HostileOutput(unsigned char** slot, long long count) {
  const bool fits = count <= kHostileCapacity;  // negative counts too: nothing to copy
  switch (Draw(4)) {
    case 0:
      *slot = nullptr;
      return;
    case 1:
      if (fits && (*slot == nullptr || *slot == Threads::Get().hostile_buffer.get())) {
        if (*slot) HostileBuffer(count);  // stale, but as long as the count
        return;
      }
      break;
    default:
      if (fits) {
        *slot = HostileBuffer(count);
        return;
      }
  }
  *slot = nullptr;
}

// Bitmaps the hostile double made and returned on this thread; deleted at
// its next bitmap answer, when the bridge has read them.
void ReleaseHostileBitmaps() {
  ThreadData* mine = Threads::Find();
  if (!mine) return;
  for (HBITMAP b : mine->hostile_bitmaps) DeleteObject(b);
  mine->hostile_bitmaps.clear();
}

HBITMAP HostileNewBitmap() {
  static constexpr int kWidths[] = {1, 2, 3, 5, 8, 9, 100, 1000};
  const int width = Pick(kWidths), height = static_cast<int>(Draw(9)) + 1;
  HBITMAP made = nullptr;
  std::size_t stride = 0;
  void* bits = nullptr;
  if (OneIn(2)) {
    static constexpr WORD kDepths[] = {1, 4, 8, 16, 24, 32};
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colors[256];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = OneIn(2) ? -height : height;
    info.header.biPlanes = 1;
    info.header.biBitCount = Pick(kDepths);
    info.header.biCompression = BI_RGB;
    for (RGBQUAD& c : info.colors) c = {static_cast<BYTE>(Draw(256)), 0x40, 0x80, 0};
    made = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    stride = (static_cast<std::size_t>(width) * info.header.biBitCount + 31) / 32 * 4;
    if (made && bits) {
      auto* p = static_cast<unsigned char*>(bits);
      for (std::size_t i = 0; i < std::min<std::size_t>(stride * height, 256); ++i) p[i] = static_cast<unsigned char>(Draw(256));
    }
  } else {
    static constexpr UINT kDepths[] = {1, 16, 24, 32};
    const UINT bpp = Pick(kDepths);
    std::vector<unsigned char> pixels((static_cast<std::size_t>(width) * bpp + 15) / 16 * 2 * height);
    for (std::size_t i = 0; i < std::min<std::size_t>(pixels.size(), 256); ++i) pixels[i] = static_cast<unsigned char>(Draw(256));
    made = CreateBitmap(OneIn(2) ? -width : width, height, 1, bpp, pixels.data());
  }
  if (made) Threads::Get().hostile_bitmaps.push_back(made);
  return made;
}

// A bitmap-returning entry point's answer; `received` is the bitmap it got,
// if any.
HBITMAP HostileBitmap(HBITMAP received) {
  ReleaseHostileBitmaps();
  switch (Draw(6)) {
    case 0: return nullptr;
    case 1: {
      const HBITMAP gone = CreateBitmap(2, 2, 1, 32, nullptr);
      DeleteObject(gone);
      return gone;
    }
    case 2: return reinterpret_cast<HBITMAP>(static_cast<std::uintptr_t>(Draw(std::uint64_t{1} << 32)));  // bogus
    case 3:
      if (received) return received;
      [[fallthrough]];
    default: return HostileNewBitmap();
  }
}

// ReadWSQ_comment's answer: null, the same pointer as last time, the text it
// was given, or bytes of its own that need not be modified UTF-8.
constexpr std::size_t kTextSize = 4097;

[[maybe_unused]] const char* HostileText() {  // the partial double lacks ReadWSQ_comment
  auto& texts = Threads::Get().hostile_texts;
  if (!texts) texts = std::make_unique<char[]>(2 * kTextSize);
  const char* answer = nullptr;
  switch (Draw(5)) {
    case 0: break;
    case 1: answer = last_text; break;
    case 2: answer = S().comment; break;
    default: {
      char* text = texts.get() + (OneIn(2) ? kTextSize : 0);
      const std::size_t length = OneIn(8) ? kTextSize - 1 : Draw(41);
      for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(OneIn(4) ? Draw(255) + 1 : 'a' + Draw(26));
      text[length] = '\0';
      answer = text;
    }
  }
  last_text = answer;
  return answer;
}

void Reset() {
  ReleaseHostileBitmaps();
  thread_tag = 0;
  std::memset(&S(), 0, sizeof(DoubleState));
  S().comment = "";
  S().decode_answer.write_sizes = true;
  S().encode_answer.write_length = true;
}

}  // namespace

DOUBLE_EXPORT DoubleState* CorvaneDouble_State() { return &S(); }
DOUBLE_EXPORT DoubleState* CorvaneDouble_UseThreadState() {
  ThreadData& mine = Threads::Get();
  if (!mine.state) mine.state = std::make_unique<DoubleState>(state);
  thread_state = mine.state.get();
  __atomic_store_n(&any_thread_state, 1, __ATOMIC_RELAXED);
  return thread_state;
}
DOUBLE_EXPORT void CorvaneDouble_Reset() { Reset(); }

DOUBLE_EXPORT void _WriteWSQ_bitrate(double bitrate) {
  CallScope scope(Entry::WriteWSQ_bitrate);
  std::memcpy(&S().bitrate_bits, &bitrate, sizeof bitrate);
}

DOUBLE_EXPORT double _ReadWSQ_bitrate() {
  CallScope scope(Entry::ReadWSQ_bitrate);
  const std::uint64_t bits = S().hostile.enabled ? HostileDoubleBits() : S().bitrate_bits;
  double bitrate;
  std::memcpy(&bitrate, &bits, sizeof bitrate);
  return bitrate;
}

DOUBLE_EXPORT void _WriteWSQ_ppi(int ppi) {
  CallScope scope(Entry::WriteWSQ_ppi);
  S().ppi = ppi;
}

DOUBLE_EXPORT int _ReadWSQ_ppi() {
  CallScope scope(Entry::ReadWSQ_ppi);
  return S().hostile.enabled ? HostileInt() : S().ppi;
}

DOUBLE_EXPORT void _WriteWSQ_comment(const char* comment) {
  CallScope scope(Entry::WriteWSQ_comment);
  S().comment = comment;
  std::strncpy(S().comment_bytes, comment ? comment : "", sizeof S().comment_bytes - 1);
}

#if !defined(CORVANE_DOUBLE_PARTIAL)
DOUBLE_EXPORT const char* _ReadWSQ_comment() {
  CallScope scope(Entry::ReadWSQ_comment);
  return S().hostile.enabled ? HostileText() : S().comment;
}
#endif

DOUBLE_EXPORT void _WriteTIFFcompression(int compression) {
  CallScope scope(Entry::WriteTIFFcompression);
  S().tiff_compression = compression;
}

#if !defined(CORVANE_DOUBLE_PARTIAL)
DOUBLE_EXPORT void _WriteTIFFpredictor(int predictor) {
  CallScope scope(Entry::WriteTIFFpredictor);
  S().tiff_predictor = predictor;
}
#endif

DOUBLE_EXPORT void _SetShowFilePropertiesDialog(int show) {
  CallScope scope(Entry::SetShowFilePropertiesDialog);
  S().show_file_properties = show;
}

DOUBLE_EXPORT void _ShowFileConverter() { CallScope scope(Entry::ShowFileConverter); }

DOUBLE_EXPORT void _WSQ_decode_stream(unsigned char* stream, int length, unsigned char** output, int* width,
                                      int* height, int* depth, std::uint32_t* aux) {
  CallScope scope(Entry::WSQ_decode_stream);
  S().decode = {stream, length, output, *output, {*width, *height, *depth}, aux};
  if (S().hostile.enabled) {
    const bool write = !OneIn(8);
    const int w = HostileInt(), h = HostileInt(), d = HostileInt();
    if (write) {
      *width = w;
      *height = h;
      *depth = d;
    }
    HostileOutput(output, 1ll * *width * *height);
    return;
  }
  const auto& answer = S().decode_answer;
  if (answer.write_sizes) {
    *width = answer.width;
    *height = answer.height;
    *depth = answer.depth;
  }
  *output = OutputBuffer(answer, 1ll * answer.width * answer.height);
  std::this_thread::yield();  // a wider window for a bridge that mixes up threads' slots
}

#if !defined(CORVANE_DOUBLE_PARTIAL)
DOUBLE_EXPORT void _WSQ_encode_stream(unsigned char* pixels, int width, int height, double bitrate, int ppi,
                                      const char* comment, unsigned char** output, int* length) {
  CallScope scope(Entry::WSQ_encode_stream);
  auto& call = S().encode;
  call.pixels = pixels;
  call.width = width;
  call.height = height;
  std::memcpy(&call.bitrate_bits, &bitrate, sizeof bitrate);
  call.ppi = ppi;
  call.comment = comment;
  std::strncpy(call.comment_bytes, comment ? comment : "", sizeof call.comment_bytes - 1);
  call.output_slot = output;
  call.output_at_entry = *output;
  call.length_slot = length;
  if (S().hostile.enabled) {
    if (!OneIn(8)) *length = HostileInt();
    HostileOutput(output, *length);
    return;
  }
  const auto& answer = S().encode_answer;
  if (answer.write_length) *length = answer.length;
  *output = OutputBuffer(answer, answer.length);
  std::this_thread::yield();
}
#endif

DOUBLE_EXPORT HBITMAP _CreateBMPFromFile(const char* name) {
  CallScope scope(Entry::CreateBMPFromFile);
  ReceiveName(name);
  if (S().hostile.enabled) return HostileBitmap(nullptr);
  return static_cast<HBITMAP>(S().bitmap_answer);
}

DOUBLE_EXPORT void _SaveBMPToFile(HBITMAP bitmap, const char* name, int flags) {
  CallScope scope(Entry::SaveBMPToFile);
  Receive(bitmap);
  ReceiveName(name);
  S().image.flags = flags;
}

#if !defined(CORVANE_DOUBLE_PARTIAL)
DOUBLE_EXPORT HBITMAP _CreateBMPFromWSQByteArray(unsigned char* bytes, int length) {
  CallScope scope(Entry::CreateBMPFromWSQByteArray);
  S().image.bytes = bytes;
  S().image.length = length;
  if (S().hostile.enabled) return HostileBitmap(nullptr);
  return static_cast<HBITMAP>(S().bitmap_answer);
}
#endif

DOUBLE_EXPORT int _SaveWSQByteArrayToImageFile(unsigned char* bytes, int length, const char* name, int flags) {
  CallScope scope(Entry::SaveWSQByteArrayToImageFile);
  S().image.bytes = bytes;
  S().image.length = length;
  ReceiveName(name);
  S().image.flags = flags;
  return S().hostile.enabled ? HostileInt() : S().int_answer;
}

DOUBLE_EXPORT HBITMAP _ConvertHBITMAPtoGrayScale256(HBITMAP bitmap) {
  CallScope scope(Entry::ConvertHBITMAPtoGrayScale256);
  Receive(bitmap);
  if (S().hostile.enabled) return HostileBitmap(bitmap);
  return S().return_received ? bitmap : static_cast<HBITMAP>(S().bitmap_answer);
}

DOUBLE_EXPORT int _SaveHBITMAPtoFileAsGrayScale256BMP(HBITMAP bitmap, const char* name) {
  CallScope scope(Entry::SaveHBITMAPtoFileAsGrayScale256BMP);
  Receive(bitmap);
  ReceiveName(name);
  return S().hostile.enabled ? HostileInt() : S().int_answer;
}

DOUBLE_EXPORT void CorvaneDouble_SetThreadTag(int tag) { thread_tag = tag; }

namespace {
// Starts like a freshly loaded library.
struct Init {
  Init() { Reset(); }
} init;
}  // namespace

// A stand-in for the image library: the entry points under their underscore
// names, cdecl, recording every call and answering what the test scripted.
// Built twice: complete, and (CORVANE_DOUBLE_PARTIAL) lacking some entry points.
#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "double_control.h"
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

// Counts the call on entry; leaves the scripted floating-point state on return.
class CallScope {
 public:
  explicit CallScope(Entry entry) { ++state.calls[static_cast<int>(entry)]; }
  ~CallScope() {
    const auto& s = state.scramble;
    if (!s.enabled) return;
    if (s.raise_x87_flags) __asm__ volatile("fld1\n\tfldz\n\tfdivrp\n\tfstp %%st(0)" ::: "st");
    __asm__ volatile("ldmxcsr %0" : : "m"(s.mxcsr));
    __asm__ volatile("fldcw %0" : : "m"(s.x87_control));
  }
};

thread_local int thread_tag = 0;
thread_local std::vector<unsigned char> thread_buffer;

// The buffer a codec call reports: the scripted one, or the calling thread's.
template <typename Answer>
unsigned char* OutputBuffer(const Answer& answer, long long count) {
  if (answer.null_output) return nullptr;
  if (answer.output) return const_cast<unsigned char*>(answer.output);
  thread_buffer.resize(static_cast<std::size_t>(std::clamp(count, 0ll, 1ll << 26)));
  for (std::size_t i = 0; i < thread_buffer.size(); ++i) {
    thread_buffer[i] = corvane::test::ThreadBufferByte(thread_tag, static_cast<int>(i));
  }
  return thread_buffer.data();
}

// Looks at a received bitmap through GDI, as an image library would.
void Receive(void* handle) {
  auto& r = state.image.bitmap;
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
  state.image.name = name;
  std::strncpy(state.image.name_bytes, name ? name : "", sizeof state.image.name_bytes - 1);
}

void Reset() {
  std::memset(&state, 0, sizeof state);
  state.comment = "";
  state.decode_answer.write_sizes = true;
  state.encode_answer.write_length = true;
}

}  // namespace

DOUBLE_EXPORT DoubleState* CorvaneDouble_State() { return &state; }
DOUBLE_EXPORT void CorvaneDouble_Reset() { Reset(); }

DOUBLE_EXPORT void _WriteWSQ_bitrate(double bitrate) {
  CallScope scope(Entry::WriteWSQ_bitrate);
  std::memcpy(&state.bitrate_bits, &bitrate, sizeof bitrate);
}

DOUBLE_EXPORT double _ReadWSQ_bitrate() {
  CallScope scope(Entry::ReadWSQ_bitrate);
  double bitrate;
  std::memcpy(&bitrate, &state.bitrate_bits, sizeof bitrate);
  return bitrate;
}

DOUBLE_EXPORT void _WriteWSQ_ppi(int ppi) {
  CallScope scope(Entry::WriteWSQ_ppi);
  state.ppi = ppi;
}

DOUBLE_EXPORT int _ReadWSQ_ppi() {
  CallScope scope(Entry::ReadWSQ_ppi);
  return state.ppi;
}

DOUBLE_EXPORT void _WriteWSQ_comment(const char* comment) {
  CallScope scope(Entry::WriteWSQ_comment);
  state.comment = comment;
  std::strncpy(state.comment_bytes, comment ? comment : "", sizeof state.comment_bytes - 1);
}

#if !defined(CORVANE_DOUBLE_PARTIAL)
DOUBLE_EXPORT const char* _ReadWSQ_comment() {
  CallScope scope(Entry::ReadWSQ_comment);
  return state.comment;
}
#endif

DOUBLE_EXPORT void _WriteTIFFcompression(int compression) {
  CallScope scope(Entry::WriteTIFFcompression);
  state.tiff_compression = compression;
}

#if !defined(CORVANE_DOUBLE_PARTIAL)
DOUBLE_EXPORT void _WriteTIFFpredictor(int predictor) {
  CallScope scope(Entry::WriteTIFFpredictor);
  state.tiff_predictor = predictor;
}
#endif

DOUBLE_EXPORT void _SetShowFilePropertiesDialog(int show) {
  CallScope scope(Entry::SetShowFilePropertiesDialog);
  state.show_file_properties = show;
}

DOUBLE_EXPORT void _ShowFileConverter() { CallScope scope(Entry::ShowFileConverter); }

DOUBLE_EXPORT void _WSQ_decode_stream(unsigned char* stream, int length, unsigned char** output, int* width,
                                      int* height, int* depth, std::uint32_t* aux) {
  CallScope scope(Entry::WSQ_decode_stream);
  state.decode = {stream, length, output, *output, {*width, *height, *depth}, aux};
  const auto& answer = state.decode_answer;
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
  auto& call = state.encode;
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
  const auto& answer = state.encode_answer;
  if (answer.write_length) *length = answer.length;
  *output = OutputBuffer(answer, answer.length);
  std::this_thread::yield();
}
#endif

DOUBLE_EXPORT HBITMAP _CreateBMPFromFile(const char* name) {
  CallScope scope(Entry::CreateBMPFromFile);
  ReceiveName(name);
  return static_cast<HBITMAP>(state.bitmap_answer);
}

DOUBLE_EXPORT void _SaveBMPToFile(HBITMAP bitmap, const char* name, int flags) {
  CallScope scope(Entry::SaveBMPToFile);
  Receive(bitmap);
  ReceiveName(name);
  state.image.flags = flags;
}

#if !defined(CORVANE_DOUBLE_PARTIAL)
DOUBLE_EXPORT HBITMAP _CreateBMPFromWSQByteArray(unsigned char* bytes, int length) {
  CallScope scope(Entry::CreateBMPFromWSQByteArray);
  state.image.bytes = bytes;
  state.image.length = length;
  return static_cast<HBITMAP>(state.bitmap_answer);
}
#endif

DOUBLE_EXPORT int _SaveWSQByteArrayToImageFile(unsigned char* bytes, int length, const char* name, int flags) {
  CallScope scope(Entry::SaveWSQByteArrayToImageFile);
  state.image.bytes = bytes;
  state.image.length = length;
  ReceiveName(name);
  state.image.flags = flags;
  return state.int_answer;
}

DOUBLE_EXPORT HBITMAP _ConvertHBITMAPtoGrayScale256(HBITMAP bitmap) {
  CallScope scope(Entry::ConvertHBITMAPtoGrayScale256);
  Receive(bitmap);
  return state.return_received ? bitmap : static_cast<HBITMAP>(state.bitmap_answer);
}

DOUBLE_EXPORT int _SaveHBITMAPtoFileAsGrayScale256BMP(HBITMAP bitmap, const char* name) {
  CallScope scope(Entry::SaveHBITMAPtoFileAsGrayScale256BMP);
  Receive(bitmap);
  ReceiveName(name);
  return state.int_answer;
}

DOUBLE_EXPORT void CorvaneDouble_SetThreadTag(int tag) { thread_tag = tag; }

namespace {
// Starts like a freshly loaded library.
struct Init {
  Init() { Reset(); }
} init;
}  // namespace

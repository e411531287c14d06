// A stand-in for the image library: the entry points under their underscore
// names, cdecl, recording every call and answering what the test scripted.
// Built twice: complete, and (CORVANE_DOUBLE_PARTIAL) lacking some entry points.
#include <cstring>

#include "double_control.h"

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

void Reset() {
  std::memset(&state, 0, sizeof state);
  state.comment = "";
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

namespace {
// Starts like a freshly loaded library.
struct Init {
  Init() { Reset(); }
} init;
}  // namespace

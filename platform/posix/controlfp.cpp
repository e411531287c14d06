// _controlfp with the meaning it has in the 32-bit Windows runtime: one
// platform-independent control word that drives both the x87 control word and
// MXCSR. The denormal-operand mask is never changed through it.
#include "posix/winapi_posix.h"

namespace {

struct Mapping {
  unsigned int word;  // bit of the platform-independent control word
  unsigned int x87;   // bit of the x87 control word
  unsigned int sse;   // bit of MXCSR
};

// Exception masks: set bit = exception masked.
constexpr Mapping kMasks[] = {
    {_EM_INVALID, 0x0001, 0x0080},   {_EM_DENORMAL, 0x0002, 0x0100}, {_EM_ZERODIVIDE, 0x0004, 0x0200},
    {_EM_OVERFLOW, 0x0008, 0x0400},  {_EM_UNDERFLOW, 0x0010, 0x0800}, {_EM_INEXACT, 0x0020, 0x1000},
};

constexpr unsigned int kSseFlushToZero = 0x8000;
constexpr unsigned int kSseDenormalsAreZero = 0x0040;

unsigned short ReadX87() {
  unsigned short cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}
void WriteX87(unsigned short cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }
unsigned int ReadMxcsr() {
  unsigned int csr;
  __asm__ volatile("stmxcsr %0" : "=m"(csr));
  return csr;
}
void WriteMxcsr(unsigned int csr) { __asm__ volatile("ldmxcsr %0" : : "m"(csr)); }

unsigned int WordFromX87(unsigned short cw) {
  unsigned int word = 0;
  for (const Mapping& m : kMasks) word |= (cw & m.x87) ? m.word : 0;
  static constexpr unsigned int kRounding[] = {_RC_NEAR, _RC_DOWN, _RC_UP, _RC_CHOP};
  static constexpr unsigned int kPrecision[] = {_PC_24, 0 /* reserved */, _PC_53, _PC_64};
  word |= kRounding[(cw >> 10) & 3] | kPrecision[(cw >> 8) & 3];
  if (cw & 0x1000) word |= _IC_AFFINE;
  return word;
}

unsigned short X87FromWord(unsigned int word, unsigned short cw) {
  for (const Mapping& m : kMasks) cw = (word & m.word) ? (cw | m.x87) : (cw & ~m.x87);
  cw &= ~0x0F00;
  cw |= ((word & _MCW_RC) >> 8) << 10;  // _RC_* order matches the x87 field
  switch (word & _MCW_PC) {
    case _PC_24: break;
    case _PC_53: cw |= 0x0200; break;
    default: cw |= 0x0300; break;
  }
  return (word & _IC_AFFINE) ? (cw | 0x1000) : (cw & ~0x1000);
}

unsigned int DenormalsFromSse(unsigned int csr) {
  const bool ftz = csr & kSseFlushToZero, daz = csr & kSseDenormalsAreZero;
  if (ftz && daz) return _DN_FLUSH;
  if (daz) return 0x02000000;  // flush operands, keep results
  if (ftz) return 0x03000000;  // keep operands, flush results
  return _DN_SAVE;
}

unsigned int SseFromWord(unsigned int word, unsigned int csr, unsigned int mask) {
  for (const Mapping& m : kMasks) {
    if (mask & m.word) csr = (word & m.word) ? (csr | m.sse) : (csr & ~m.sse);
  }
  if (mask & _MCW_RC) csr = (csr & ~0x6000u) | (((word & _MCW_RC) >> 8) << 13);
  if (mask & _MCW_DN) {
    csr &= ~(kSseFlushToZero | kSseDenormalsAreZero);
    switch (word & _MCW_DN) {
      case _DN_FLUSH: csr |= kSseFlushToZero | kSseDenormalsAreZero; break;
      case 0x02000000: csr |= kSseDenormalsAreZero; break;
      case 0x03000000: csr |= kSseFlushToZero; break;
      default: break;
    }
  }
  return csr;
}

}  // namespace

extern "C" unsigned int _controlfp(unsigned int value, unsigned int mask) {
  mask &= ~_EM_DENORMAL;
  const unsigned short cw = ReadX87();
  const unsigned int csr = ReadMxcsr();
  const unsigned int old_word = WordFromX87(cw) | DenormalsFromSse(csr);
  const unsigned int word = (old_word & ~mask) | (value & mask);
  const unsigned short new_cw = X87FromWord(word, cw);
  const unsigned int new_csr = SseFromWord(word, csr, mask);
  if (new_cw != cw) WriteX87(new_cw);
  if (new_csr != csr) WriteMxcsr(new_csr);
  return word;
}

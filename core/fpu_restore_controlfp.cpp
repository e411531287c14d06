// FpuRestore of the library binding: the runtime's _controlfp with the default
// control word under the full mask. It sets the x87 control word and, where
// SSE2 is present, the same exception masks and rounding in MXCSR; by that
// function's rule the denormal mask, flush-to-zero and denormals-are-zero stay
// as they were.
//
// Most entry points leave the control state alone, and reading it costs a
// fraction of what _controlfp does, so the call is skipped when every bit it
// sets already holds its value: the state left behind is the same.
#include "core/fpu_restore.h"

#include "platform/winapi.h"

namespace corvane {

namespace {
// x87: every bit but the denormal mask (1) and reserved bit 6, which reads
// back as 1 on most processors. Wanted: IM ZM OM UM PM, PC=53 bits,
// RC=nearest, projective infinity, the other bits clear.
constexpr unsigned short kX87Set = 0xFFBD;
constexpr unsigned short kX87Default = 0x023D;
// MXCSR: the five exception masks other than the denormal one, and rounding.
constexpr unsigned int kMxcsrSet = 0x7E80;
constexpr unsigned int kMxcsrDefault = 0x1E80;
}  // namespace

void FpuRestore() {
  unsigned short control;
  unsigned int csr;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  __asm__ volatile("stmxcsr %0" : "=m"(csr));
  if ((control & kX87Set) == kX87Default && (csr & kMxcsrSet) == kMxcsrDefault) return;
  _controlfp(_CW_DEFAULT, 0xFFFFF);
}

}  // namespace corvane

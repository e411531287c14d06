// FpuRestore of the demo binding: the x87 unit only. Pending x87 exception
// flags are cleared, then the control word is loaded; MXCSR stays as it was.
//
// Reading the state is cheap and writing it is not (FNCLEX alone costs more
// than a call), so each register is written only where it differs: the state
// left behind is the same.
#include "core/fpu_restore.h"

namespace corvane {

namespace {
constexpr unsigned short kMasksPrecisionRounding = 0x023D;  // IM ZM OM UM PM, PC=53 bits, RC=nearest
constexpr unsigned short kDenormalMask = 0x0002;
constexpr unsigned short kPendingFlags = 0x80FF;  // what FNCLEX clears: flags, SF, ES, B
}  // namespace

void FpuRestore() {
  unsigned short control, status;
  __asm__ volatile("fnstcw %0" : "=m"(control));
  __asm__ volatile("fnstsw %0" : "=a"(status));
  if (status & kPendingFlags) __asm__ volatile("fnclex");
  const unsigned short wanted = kMasksPrecisionRounding | (control & kDenormalMask);
  // Bit 6 is reserved and reads back as 1 on most processors: leave it out of the test.
  if ((control & ~0x0040) != wanted) __asm__ volatile("fldcw %0" : : "m"(wanted));
}

}  // namespace corvane

// The calling thread's floating-point control and status, read and written
// directly.
#pragma once

namespace corvane::test {

struct FpuState {
  unsigned short x87_control;
  unsigned short x87_status;
  unsigned int mxcsr;
};

inline FpuState ReadFpu() {
  FpuState s;
  __asm__ volatile("fnstcw %0" : "=m"(s.x87_control));
  __asm__ volatile("fnstsw %0" : "=m"(s.x87_status));
  __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr));
  return s;
}

inline void WriteFpu(const FpuState& s) {
  __asm__ volatile("fnclex");
  __asm__ volatile("fldcw %0" : : "m"(s.x87_control));
  __asm__ volatile("ldmxcsr %0" : : "m"(s.mxcsr));
}

}  // namespace corvane::test

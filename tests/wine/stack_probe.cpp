#include "stack_probe.h"

#include <cstddef>

#if !defined(__i386__)
#error "stack_probe is for 32-bit x86"
#endif

namespace corvane::test {

namespace {

// Filled by the thunk below; the offsets are part of its code.
struct RawProbe {
  std::uint32_t esp_before;  // 0
  std::uint32_t esp_after;   // 4
  std::uint32_t eax;         // 8
  std::uint32_t edx;         // 12
  std::uint32_t mxcsr;       // 16
  std::uint32_t x87_depth;   // 20
  std::uint64_t st0_bits;    // 24
  // FNSTENV image, 32-bit protected-mode layout: control word, status word,
  // tag word, then the last instruction and operand pointers.
  std::uint32_t env[7];      // 32
};
static_assert(offsetof(RawProbe, esp_after) == 4);
static_assert(offsetof(RawProbe, mxcsr) == 16);
static_assert(offsetof(RawProbe, st0_bits) == 24);
static_assert(offsetof(RawProbe, env) == 32);

extern "C" void ProbeThunk(const void* function, const std::uint32_t* args, std::uint32_t count, RawProbe* raw)
    __asm__("corvane_probe_thunk");

// After the call, in this order: ESP, EAX and EDX as the callee left them;
// ESP back to this frame (whatever the callee removed); MXCSR and the x87
// environment saved; then, with exceptions masked so that a signalling NaN
// or a pending exception cannot trap here, every value the callee left on
// the x87 stack popped (FXAM tells an empty ST0: C3=1, C2=0, C0=1), the
// first one stored as a double; last the saved environment loaded back with
// all registers tagged empty and TOP where the pops left it.
__asm__(R"(
    .text
    .p2align 4
corvane_probe_thunk:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  20(%ebp), %ebx
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    leal  0(,%ecx,4), %eax
    subl  %eax, %esp
    andl  $-16, %esp
    addl  %eax, %esp
    testl %ecx, %ecx
    jz    2f
1:  pushl -4(%esi,%ecx,4)
    decl  %ecx
    jnz   1b
2:  movl  8(%ebp), %eax
    movl  %esp, 0(%ebx)
    cld
    call  *%eax
    movl  20(%ebp), %ecx
    movl  %esp, 4(%ecx)
    movl  %eax, 8(%ecx)
    movl  %edx, 12(%ecx)
    movl  %ecx, %ebx
    leal  -12(%ebp), %esp
    stmxcsr 16(%ebx)
    fnstenv 32(%ebx)
    fnclex
    pushl $0x037f
    fldcw (%esp)
    addl  $4, %esp
    xorl  %ecx, %ecx
3:  cmpl  $8, %ecx
    jae   5f
    fxam
    fnstsw %ax
    andw  $0x4500, %ax
    cmpw  $0x4100, %ax
    je    5f
    testl %ecx, %ecx
    jnz   4f
    fstpl 24(%ebx)
    jmp   6f
4:  fstp  %st(0)
6:  incl  %ecx
    jmp   3b
5:  movl  %ecx, 20(%ebx)
    fnstsw %ax
    andl  $0x3800, %eax
    andl  $0xffffc7ff, 36(%ebx)
    orl   %eax, 36(%ebx)
    movl  $0xffff, 40(%ebx)
    fldenv 32(%ebx)
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");

}  // namespace

ProbeResult ProbeCall(const void* function, const std::uint32_t* args, std::size_t count) {
  RawProbe raw{};
  ProbeThunk(function, args, static_cast<std::uint32_t>(count), &raw);
  ProbeResult result;
  result.popped = static_cast<std::int32_t>(raw.esp_after - raw.esp_before);
  result.eax = raw.eax;
  result.edx = raw.edx;
  result.x87_depth = static_cast<int>(raw.x87_depth);
  result.st0_bits = raw.x87_depth > 0 ? raw.st0_bits : 0;
  result.x87_control = static_cast<std::uint16_t>(raw.env[0]);
  result.x87_status = static_cast<std::uint16_t>(raw.env[1]);
  result.mxcsr = raw.mxcsr;
  return result;
}

}  // namespace corvane::test

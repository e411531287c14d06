// Calls a function by address with a given list of 32-bit argument words and
// reports what the call did to the caller's machine state: how many argument
// bytes the callee removed from the stack (a stdcall function of N argument
// bytes removes N, a cdecl one 0), EAX and EDX, a double left in ST0, and the
// x87 control/status words and MXCSR exactly as the callee left them. The
// caller survives a callee that removes the wrong number of bytes.
// 32-bit x86 only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace corvane::test {

struct ProbeResult {
  // ESP after the call minus ESP before it: the argument bytes the callee
  // removed.
  std::int32_t popped = 0;
  std::uint32_t eax = 0;
  std::uint32_t edx = 0;
  // EDX:EAX, for a function returning a 64-bit integer.
  std::uint64_t edx_eax() const { return (std::uint64_t{edx} << 32) | eax; }

  // Values the callee left on the x87 stack: 1 for a function returning a
  // double or float, 0 otherwise. All of them are popped again.
  int x87_depth = 0;
  // ST0 stored as a double, bit for bit; 0 when x87_depth is 0.
  std::uint64_t st0_bits = 0;
  double st0() const {
    double d;
    std::memcpy(&d, &st0_bits, sizeof d);
    return d;
  }

  // Read before the probe touched the FPU. The probe puts the control word,
  // the status flags and MXCSR back as they were, so they stay the callee's.
  std::uint16_t x87_control = 0;
  std::uint16_t x87_status = 0;
  std::uint32_t mxcsr = 0;
};

// Pushes args[count-1] ... args[0] (so args[0] is the first argument), with
// ESP 16-byte aligned at the call, and calls `function`.
ProbeResult ProbeCall(const void* function, const std::uint32_t* args, std::size_t count);

// Argument words as a 32-bit caller pushes them.
class ArgWords {
 public:
  ArgWords& Int(std::int32_t value) {
    words_.push_back(static_cast<std::uint32_t>(value));
    return *this;
  }
  ArgWords& Word(std::uint32_t value) {
    words_.push_back(value);
    return *this;
  }
  ArgWords& Ptr(const void* pointer) {
    words_.push_back(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer)));
    return *this;
  }
  // Two words, the low one first, as a 64-bit argument lies on the stack.
  ArgWords& Int64(std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    words_.push_back(static_cast<std::uint32_t>(bits));
    words_.push_back(static_cast<std::uint32_t>(bits >> 32));
    return *this;
  }
  ArgWords& Double(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return Int64(static_cast<std::int64_t>(bits));
  }
  ArgWords& DoubleBits(std::uint64_t bits) { return Int64(static_cast<std::int64_t>(bits)); }

  const std::uint32_t* data() const { return words_.data(); }
  std::size_t size() const { return words_.size(); }
  // The bytes a stdcall callee must remove for these arguments.
  std::int32_t bytes() const { return static_cast<std::int32_t>(4 * words_.size()); }

 private:
  std::vector<std::uint32_t> words_;
};

inline ProbeResult ProbeCall(const void* function, const ArgWords& args) {
  return ProbeCall(function, args.data(), args.size());
}

}  // namespace corvane::test

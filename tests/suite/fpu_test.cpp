// The floating-point state a completed call leaves behind, whatever the image
// library left: the x87 control word in both bindings; MXCSR in the library
// binding only.
#include "bridge_test.h"

namespace corvane::test {
namespace {

constexpr unsigned short kX87Default = 0x023D;  // IM ZM OM UM PM masked, 53-bit precision, to nearest
constexpr unsigned short kX87DenormalMask = 0x0002;
constexpr unsigned short kX87Reserved6 = 0x0040;  // reads back as 1 on most processors
constexpr unsigned short kX87Flags = 0x00FF;      // exception flags, stack fault, summary
constexpr unsigned int kSseMasksNoDenormal = 0x1E80;  // IM ZM OM UM PM
constexpr unsigned int kSseKept = 0x8140;             // FZ, DM mask, DAZ
constexpr unsigned int kSseFlags = 0x003F;  // cleared by msvcrt's _controlfp under Wine, kept by ours

struct Scramble {
  const char* what;
  FpuScramble state;
};

const Scramble kScrambles[] = {
    {"everything unmasked, 24-bit precision", {true, false, 0x0000, 0x0000}},
    {"64-bit precision, toward zero, denormals masked, FZ and DAZ", {true, false, 0x0F7F, 0xFFC0}},
    {"affine, rounding up, pending zero divide, SSE flags", {true, true, 0x1B7D, 0x3EBF}},
    // One field off the default each: a reset that skips what already holds
    // must still see it.
    {"the default, denormals unmasked, FZ", {true, false, 0x027D, 0x9E80}},
    {"the default but affine infinity", {true, false, 0x127F, 0x1F80}},
    {"the default but 64-bit precision", {true, false, 0x037F, 0x1F80}},
    {"the default but x87 rounding down", {true, false, 0x067F, 0x1F80}},
    {"the default but x87 overflow unmasked", {true, false, 0x0277, 0x1F80}},
    {"the default but MXCSR rounding up", {true, false, 0x027F, 0x5F80}},
    {"the default but MXCSR zero divide unmasked", {true, false, 0x027F, 0x1D80}},
    {"the default with a pending x87 zero divide", {true, true, 0x027F, 0x1F80}},
};

using FpuRestoreTest = BridgeTest;
CORVANE_FOR_EACH_BINDING(FpuRestoreTest);

TEST_P(FpuRestoreTest, CompletedCallLeavesTheDefaultControlWord) {
  for (const Scramble& s : kScrambles) {
    lib().scramble = s.state;
    const FpuState before = ReadFpu();
    Call<jint>("ReadWSQ_1ppi");
    const FpuState after = ReadFpu();
    WriteFpu(before);

    const unsigned short expected_x87 = kX87Default | (s.state.x87_control & kX87DenormalMask);
    EXPECT_EQ(after.x87_control & ~kX87Reserved6, expected_x87) << s.what;
    if (binding() == Binding::kDemo) {
      EXPECT_EQ(after.x87_status & kX87Flags, 0) << s.what << ": pending x87 exceptions are cleared";
      EXPECT_EQ(after.mxcsr, s.state.mxcsr) << s.what << ": MXCSR stays as the image library left it";
    } else {
      // The exception flags are not the reset's business: only the control bits are compared.
      EXPECT_EQ(after.mxcsr & ~kSseFlags, kSseMasksNoDenormal | (s.state.mxcsr & kSseKept)) << s.what;
    }
  }
}

TEST_P(FpuRestoreTest, ReturnedDoubleIsUntouchedByTheReset) {
  // 64-bit precision, rounding toward zero: a value the bridge computed with
  // instead of holding it would come out changed. (Not 24-bit precision:
  // qemu rounds x87 loads to it, which processors don't.)
  lib().scramble = kScrambles[1].state;
  lib().bitrate_bits = 0x400921FB54442D18;  // pi
  const std::uint64_t bits = Bits(Call<jdouble>("ReadWSQ_1bitrate"));
  EXPECT_EQ(bits, 0x400921FB54442D18u);
}

}  // namespace
}  // namespace corvane::test

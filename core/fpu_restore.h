// FpuRestore: after a completed call of the image library, the calling
// thread's x87 control word is set to all exceptions masked but the denormal
// operand (which keeps its mask), 53-bit precision, rounding to nearest and
// projective infinity. Each binding links one variant.
#pragma once

namespace corvane {

void FpuRestore();

}  // namespace corvane

// FpuRestore of the library binding: the runtime's _controlfp with the default
// control word under the full mask. It sets the x87 control word and, where
// SSE2 is present, the same exception masks and rounding in MXCSR; by that
// function's rule the denormal mask, flush-to-zero and denormals-are-zero stay
// as they were.
#include "core/fpu_restore.h"

#include "platform/winapi.h"

namespace corvane {

void FpuRestore() { _controlfp(_CW_DEFAULT, 0xFFFFF); }

}  // namespace corvane

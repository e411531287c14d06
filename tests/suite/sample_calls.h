// Calls any native method with sample arguments made from its Java
// signature, for the tests that hold for every method alike.
#pragma once

#include <jni.h>

#include "host/platform.h"
#include "method_info.h"

namespace corvane::test {

struct CallResult {
  char kind;  // the signature's result type: 'V', 'I', 'D', 'L' (also arrays)
  jvalue value;
};

// Fails the calling test for a signature it has no sample for.
CallResult CallWithSampleArguments(const BridgeModule& module, const MethodInfo& method);

// Nothing, 0, +0.0 or null, by the kind of result.
bool IsFailureResult(const CallResult& result);

}  // namespace corvane::test

// The native methods as the suite sees them, from the method table.
#pragma once

#include <string>

namespace corvane::test {

struct MethodInfo {
  const char* name;         // "ReadWSQ_ppi"
  const char* mangled;      // "ReadWSQ_1ppi"
  const char* signature;    // "()I"
  int argument_bytes;       // N of "@N" and "ret N"
};

inline constexpr MethodInfo kMethods[] = {
#define CORVANE_METHOD(Name, Mangled, Signature, N, Type) {#Name, #Mangled, Signature, N},
#include "core/method_table.h"
};

}  // namespace corvane::test

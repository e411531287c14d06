#include "sample_calls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace corvane::test {

CallResult CallWithSampleArguments(const BridgeModule& m, const MethodInfo& method) {
  const std::string signature = method.signature;
  const std::string name = method.mangled;
  JNIEnv* env = TheJvm().Env();
  CallResult r{signature.back() == ';' || signature[signature.size() - 2] == '[' ? 'L' : signature.back(), {}};
  if (signature == "()V") {
    m.Call<void>(name);
  } else if (signature == "(D)V") {
    m.Call<void>(name, 1.5);
  } else if (signature == "(I)V") {
    m.Call<void>(name, jint{7});
  } else if (signature == "(Ljava/lang/String;)V") {
    m.Call<void>(name, env->NewStringUTF("sample"));
  } else if (signature == "()D") {
    r.value.d = m.Call<jdouble>(name);
  } else if (signature == "()I") {
    r.value.i = m.Call<jint>(name);
  } else if (signature == "()Ljava/lang/String;") {
    r.value.l = m.Call<jstring>(name);
  } else if (signature == "([B[I)[B") {
    r.value.l = m.Call<jbyteArray>(name, env->NewByteArray(4), env->NewIntArray(3));
  } else if (signature == "([BIIDILjava/lang/String;)[B") {
    r.value.l = m.Call<jbyteArray>(name, env->NewByteArray(4), jint{2}, jint{2}, 0.75, jint{500},
                                   env->NewStringUTF("sample"));
  } else if (signature == "([ILjava/lang/String;)[I") {
    r.value.l = m.Call<jintArray>(name, env->NewIntArray(2), env->NewStringUTF("file"));
  } else if (signature == "([IIILjava/lang/String;I)V") {
    m.Call<void>(name, env->NewIntArray(4), jint{2}, jint{2}, env->NewStringUTF("file"), jint{0});
  } else if (signature == "([I[B)[I") {
    r.value.l = m.Call<jintArray>(name, env->NewIntArray(2), env->NewByteArray(4));
  } else if (signature == "([BLjava/lang/String;I)I") {
    r.value.i = m.Call<jint>(name, env->NewByteArray(4), env->NewStringUTF("file"), jint{0});
  } else if (signature == "([I[III)[I") {
    r.value.l = m.Call<jintArray>(name, env->NewIntArray(2), env->NewIntArray(4), jint{2}, jint{2});
  } else if (signature == "([IIILjava/lang/String;)I") {
    r.value.i = m.Call<jint>(name, env->NewIntArray(4), jint{2}, jint{2}, env->NewStringUTF("file"));
  } else {
    ADD_FAILURE() << "no sample arguments for " << method.name << " " << signature;
  }
  return r;
}

bool IsFailureResult(const CallResult& r) {
  switch (r.kind) {
    case 'V': return true;
    case 'I': return r.value.i == 0;
    case 'D': {
      const double positive_zero = 0.0;
      return std::memcmp(&r.value.d, &positive_zero, sizeof(double)) == 0;
    }
    default: return r.value.l == nullptr;
  }
}

}  // namespace corvane::test

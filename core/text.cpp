#include "core/text.h"

#include <string>

namespace corvane {

void ThrowJava(JNIEnv* env, const char* exception_class, const char* message) {
  // A class that can't be found leaves NoClassDefFoundError pending instead.
  if (jclass type = env->FindClass(exception_class)) env->ThrowNew(type, message);
}

bool RequireNonNull(JNIEnv* env, jobject reference, const char* parameter) {
  if (reference) return true;
  ThrowJava(env, "java/lang/NullPointerException", (std::string(parameter) + " is null").c_str());
  return false;
}

const char* JavaText(JNIEnv* env, jstring string, const char* parameter) {
  return RequireNonNull(env, string, parameter) ? env->GetStringUTFChars(string, nullptr) : nullptr;
}

jstring NewJavaString(JNIEnv* env, const char* text) { return text ? env->NewStringUTF(text) : nullptr; }

}  // namespace corvane

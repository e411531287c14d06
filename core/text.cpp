#include "core/text.h"

#include <string>

namespace corvane {

void ThrowJava(JNIEnv* env, const char* exception_class, const char* message) {
  // A class that can't be found leaves NoClassDefFoundError pending instead.
  if (jclass type = env->FindClass(exception_class)) env->ThrowNew(type, message);
}

const char* JavaText(JNIEnv* env, jstring string, const char* parameter) {
  if (!string) {
    ThrowJava(env, "java/lang/NullPointerException", (std::string(parameter) + " is null").c_str());
    return nullptr;
  }
  return env->GetStringUTFChars(string, nullptr);
}

jstring NewJavaString(JNIEnv* env, const char* text) { return text ? env->NewStringUTF(text) : nullptr; }

}  // namespace corvane

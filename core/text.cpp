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

namespace {

// Decodes modified UTF-8 into UTF-16: U+0000 only as C0 80, no sequence
// longer than three bytes, no overlong form. Returns false when some byte
// started no valid sequence; it became U+FFFD.
bool DecodeModifiedUtf8(const unsigned char* text, std::u16string& out) {
  bool valid = true;
  while (*text) {
    const unsigned char b = *text;
    const auto continuation = [&](int i) { return (text[i] & 0xC0) == 0x80; };
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      text += 1;
    } else if ((b & 0xE0) == 0xC0 && continuation(1) && (b >= 0xC2 || (b == 0xC0 && text[1] == 0x80))) {
      out += static_cast<char16_t>(((b & 0x1F) << 6) | (text[1] & 0x3F));
      text += 2;
    } else if ((b & 0xF0) == 0xE0 && continuation(1) && continuation(2) && (b > 0xE0 || text[1] >= 0xA0)) {
      out += static_cast<char16_t>(((b & 0x0F) << 12) | ((text[1] & 0x3F) << 6) | (text[2] & 0x3F));
      text += 3;
    } else {
      out += u'\uFFFD';
      text += 1;
      valid = false;
    }
  }
  return valid;
}

}  // namespace

jstring NewJavaString(JNIEnv* env, const char* text) {
  if (!text) return nullptr;
  std::u16string decoded;
  if (DecodeModifiedUtf8(reinterpret_cast<const unsigned char*>(text), decoded)) return env->NewStringUTF(text);
  return env->NewString(reinterpret_cast<const jchar*>(decoded.data()), static_cast<jsize>(decoded.size()));
}

}  // namespace corvane

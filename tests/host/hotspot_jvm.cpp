// The real-JVM leg: OpenJDK's HotSpot started in this process with
// -Xcheck:jni. Everything the JVM prints goes through a vfprintf hook, so its
// warnings and errors become faults of the test that caused them.
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "host/jvm.h"

namespace corvane::test {

namespace {

std::mutex output_mutex;
std::string output;  // JVM output not yet examined

extern "C" jint JNICALL CaptureOutput(FILE* stream, const char* format, va_list args) {
  char buffer[4096];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  std::fputs(buffer, stream);
  std::lock_guard lock(output_mutex);
  output += buffer;
  return n;
}

class HotSpot final : public Jvm {
 public:
  HotSpot() {
    // Measurements may run HotSpot as applications do, without -Xcheck:jni.
    const char* check = std::getenv("CORVANE_HOTSPOT_CHECK_JNI");
    JavaVMOption options[] = {
        {const_cast<char*>("vfprintf"), reinterpret_cast<void*>(&CaptureOutput)},
        {const_cast<char*>("-Xcheck:jni"), nullptr},
    };
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = check && std::string(check) == "0" ? 1 : 2;
    args.options = options;
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&vm_, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
      throw std::runtime_error("JNI_CreateJavaVM failed");
    }
  }

  const char* Name() const override { return "hotspot"; }

  JNIEnv* Env() override {
    JNIEnv* env = nullptr;
    if (vm_->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8) == JNI_EDETACHED) {
      vm_->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
    }
    return env;
  }

  void DetachThisThread() override { vm_->DetachCurrentThread(); }

  std::string TakePendingException() override {
    JNIEnv* env = Env();
    jthrowable thrown = env->ExceptionOccurred();
    if (!thrown) return "";
    env->ExceptionClear();
    jclass type = env->GetObjectClass(thrown);
    jclass class_class = env->FindClass("java/lang/Class");
    jmethodID get_name = env->GetMethodID(class_class, "getName", "()Ljava/lang/String;");
    auto name = static_cast<jstring>(env->CallObjectMethod(type, get_name));
    if (env->ExceptionCheck()) env->ExceptionClear();
    const char* chars = env->GetStringUTFChars(name, nullptr);
    std::string result = chars;
    env->ReleaseStringUTFChars(name, chars);
    for (jobject ref : {static_cast<jobject>(name), static_cast<jobject>(class_class), static_cast<jobject>(type),
                        static_cast<jobject>(thrown)}) {
      env->DeleteLocalRef(ref);
    }
    for (char& c : result) c = c == '.' ? '/' : c;
    return result;
  }

  std::vector<std::string> TakeFaults() override {
    std::string text;
    {
      std::lock_guard lock(output_mutex);
      text = std::exchange(output, {});
    }
    std::vector<std::string> faults;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("WARNING") != std::string::npos || line.find("FATAL") != std::string::npos ||
          line.find("ERROR") != std::string::npos) {
        faults.push_back(line);
      }
    }
    return faults;
  }

 private:
  JavaVM* vm_ = nullptr;
};

}  // namespace

Jvm& TheJvm() {
  static HotSpot jvm;
  return jvm;
}

}  // namespace corvane::test

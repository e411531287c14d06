// A critical region on a primitive Java array, closed on every path: the
// elements stay put between GetPrimitiveArrayCritical and the release, and
// no JNI call may be made in between.
#pragma once

#include <jni.h>

namespace corvane {

class ScopedCritical {
 public:
  // `release_mode`: 0 writes the elements back (arrays the bridge fills),
  // JNI_ABORT drops a copy unwritten (arrays the bridge only reads).
  ScopedCritical(JNIEnv* env, jarray array, jint release_mode)
      : env_(env), array_(array), mode_(release_mode), elements_(env->GetPrimitiveArrayCritical(array, nullptr)) {}
  ~ScopedCritical() { Release(); }
  ScopedCritical(const ScopedCritical&) = delete;
  ScopedCritical& operator=(const ScopedCritical&) = delete;

  // Null when the JVM could not hand the elements out (OutOfMemoryError pending).
  template <typename T>
  T* get() const {
    return static_cast<T*>(elements_);
  }
  explicit operator bool() const { return elements_ != nullptr; }

  // Closes the region now.
  void Release() {
    if (elements_) env_->ReleasePrimitiveArrayCritical(array_, elements_, mode_);
    elements_ = nullptr;
  }

 private:
  JNIEnv* env_;
  jarray array_;
  jint mode_;
  void* elements_;
};

}  // namespace corvane

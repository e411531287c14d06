// The frame of every native method:
//
//   1. LoadEntryPoint; on failure its report and the failure result.
//   2.-4. The method's own steps: convert the arguments, call the entry point
//         once through `call`, convert the result.
//   5. FpuRestore, after the method's last JNI call.
//   6. Return.
//
// The failure result is the Java type's zero: nothing, 0, +0.0 or null.
//
// FpuRestore runs when the entry point was called and the method did not stop
// with a report afterwards (a report after the call leaves the control word
// as the image library left it). A method that stops with a Java exception
// pending after the call still restores the control word.
#pragma once

#include <jni.h>

#include <type_traits>
#include <utility>

#include "core/fpu_restore.h"
#include "core/load_entry_point.h"

namespace corvane {

template <typename Fn>
class EntryCall;

// Calls the entry point and notes what the frame must do afterwards.
template <typename R, typename... Args>
class EntryCall<R(Args...)> {
 public:
  explicit EntryCall(R (*address)(Args...)) : address_(address) {}

  R operator()(Args... args) {
    called_ = true;
    return address_(args...);
  }

  // Shows a failure report; the method then returns its failure result.
  void Report(const WCHAR* text) {
    reported_ = true;
    ShowFailureReport(text);
  }

  bool RestoresFpu() const { return called_ && !reported_; }

 private:
  R (*address_)(Args...);
  bool called_ = false;
  bool reported_ = false;
};

// Runs `steps(call)` inside the frame for `entry`; `steps` returns the Java
// result (or nothing for a void method).
template <typename JavaResult, typename Fn, typename Steps>
JavaResult NativeMethod(const EntryPoint<Fn>& entry, Steps&& steps) {
  Fn* address = LoadEntryPoint(entry);
  if constexpr (std::is_void_v<JavaResult>) {
    if (!address) return;
    EntryCall<Fn> call(address);
    std::forward<Steps>(steps)(call);
    if (call.RestoresFpu()) FpuRestore();
  } else {
    if (!address) return JavaResult{};
    EntryCall<Fn> call(address);
    // Held in memory across the reset, which never touches it.
    const JavaResult result = std::forward<Steps>(steps)(call);
    if (call.RestoresFpu()) FpuRestore();
    return result;
  }
}

}  // namespace corvane

// What the suite needs of the platform it runs on: bridge modules to call,
// the image library test double, and a view of the bridge's platform calls
// (reports, library loads and entry-point lookups). One implementation per
// platform: the POSIX layer's hooks on Linux, import patching on Windows.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

#include "double/double_control.h"
#include "host/jvm.h"

namespace corvane::test {

enum class Binding { kDemo, kLibrary };

const char* BindingName(Binding binding);  // "demo", "library"

// A failure report as MessageBoxW received it.
struct Report {
  const void* owner;
  std::u16string text;
  std::u16string caption;
  unsigned int type;
};

class BridgeModule {
 public:
  BridgeModule(Binding binding, void* handle) : binding_(binding), handle_(handle) {}

  Binding binding() const { return binding_; }
  void* handle() const { return handle_; }

  // The JNI short name of a method of this binding's class, from the method
  // part of the name ("ReadWSQ_1ppi").
  std::string ShortName(const std::string& mangled_method) const;
  // An exported symbol; null when the module does not export it.
  void* Export(const std::string& name) const;

  // Calls a native method the way a JVM does: the JNIEnv of this thread, a
  // null class (the bridge never reads it), then the Java arguments.
  template <typename R, typename... Args>
  R Call(const std::string& mangled_method, Args... args) const {
    using Fn = R(JNICALL*)(JNIEnv*, jclass, Args...);
    const auto fn = reinterpret_cast<Fn>(RequireExport(ShortName(mangled_method)));
    Jvm& jvm = TheJvm();
    JNIEnv* env = jvm.Env();
    jvm.EnterNative();
    if constexpr (std::is_void_v<R>) {
      fn(env, nullptr, args...);
      jvm.LeaveNative(nullptr);
    } else if constexpr (std::is_pointer_v<R>) {  // a reference
      return static_cast<R>(jvm.LeaveNative(fn(env, nullptr, args...)));
    } else {
      const R result = fn(env, nullptr, args...);
      jvm.LeaveNative(nullptr);
      return result;
    }
  }

 private:
  void* RequireExport(const std::string& name) const;

  Binding binding_;
  void* handle_;
};

// How the image library can be found in this process, set per test process.
enum class Scenario {
  kComplete,  // the full double
  kPartial,   // a double that lacks some entry points
  kAbsent,    // none at all
  kLater,     // none until MakeImageLibraryFindable()
};

Scenario CurrentScenario();

// The module of a binding as built, loaded once per process.
const BridgeModule& SharedBridge(Binding binding);
// A separate copy of the module, with its own module state, as if the JVM
// loaded it for the first time.
BridgeModule FreshBridge(Binding binding);

// The reports shown since the last call, by every bridge module.
std::vector<Report> TakeReports();
// The bridge modules' library loads and entry-point lookups since the last
// call: "LoadLibraryW Corvane", "GetProcAddress _ReadWSQ_ppi".
std::vector<std::string> TakeLoaderCalls();

// The state of the double that the bridge finds; null when none is findable.
DoubleState* ImageLibrary();
// Gives the calling thread a state of the double of its own (a copy of the
// shared one) and returns it; null when no image library is findable.
DoubleState* UseOwnImageLibraryState();
// Tags the calling thread for the double's per-thread output buffers.
void SetImageLibraryThreadTag(int tag);
// Restores the double to its freshly loaded state.
void ResetImageLibrary();
// GDI objects the process holds now.
int LiveGdiObjects();
// Scenario kLater: makes the double findable from now on.
void MakeImageLibraryFindable();

}  // namespace corvane::test

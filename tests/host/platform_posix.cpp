// The platform of the Linux legs: bridge modules through dlopen, the bridge's
// platform calls through the POSIX layer's hooks.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "host/platform_internal.h"
#include "posix/posix_hooks.h"

namespace fs = std::filesystem;

namespace corvane::test {

namespace {

int RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  RecordReport({owner, text ? text : u"", caption ? caption : u"", type});
  return IDOK;
}

void RecordLoader(const char* function, const char* name, const void*) {
  RecordLoaderCall(std::string(function) + " " + name);
}

fs::path SearchFolder() { return RequiredEnv("CORVANE_IMAGE_LIBRARY_DIR"); }

// Installed before the first test. The image library is found by the
// loader's standard search for libCorvane.so; CTest puts the scenario's
// folder on LD_LIBRARY_PATH.
struct Hooks {
  Hooks() {
    CorvanePosix_SetMessageBoxHook(RecordMessageBox);
    CorvanePosix_SetLoaderObserver(RecordLoader);
    if (CurrentScenario() == Scenario::kLater) fs::remove(SearchFolder() / "libCorvane.so");
  }
} hooks;

void* Open(const fs::path& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  return handle;
}

fs::path ModulePath(Binding binding) {
  return RequiredEnv(binding == Binding::kDemo ? "CORVANE_BRIDGE_DEMO" : "CORVANE_BRIDGE_LIBRARY");
}

}  // namespace

void* BridgeModule::Export(const std::string& name) const { return dlsym(handle_, name.c_str()); }

const BridgeModule& SharedBridge(Binding binding) {
  static const BridgeModule demo(Binding::kDemo, Open(ModulePath(Binding::kDemo)));
  static const BridgeModule library(Binding::kLibrary, Open(ModulePath(Binding::kLibrary)));
  return binding == Binding::kDemo ? demo : library;
}

BridgeModule FreshBridge(Binding binding) {
  // A module copied to a path of its own loads as a separate module with its
  // own static state.
  static int count = 0;
  const fs::path dir = fs::temp_directory_path() /
                       ("corvane-fresh-" + std::to_string(getpid()) + "-" + std::to_string(++count));
  fs::create_directories(dir);
  const fs::path copy = dir / ModulePath(binding).filename();
  fs::copy_file(ModulePath(binding), copy, fs::copy_options::overwrite_existing);
  void* handle = Open(copy);
  fs::remove_all(dir);  // the loaded module stays mapped
  return BridgeModule(binding, handle);
}

void* DoubleSymbol(const char* name) {
  if (!DoubleFindable()) return nullptr;
  // The same search the POSIX layer's LoadLibraryW makes, so the same module.
  static void* const handle = Open("libCorvane.so");
  return dlsym(handle, name);
}

int LiveGdiObjects() { return CorvanePosix_GdiObjectCount(); }

void MakeImageLibraryFindable() {
  fs::copy_file(RequiredEnv("CORVANE_DOUBLE_SOURCE"), SearchFolder() / "libCorvane.so",
                fs::copy_options::overwrite_existing);
  MarkDoubleFindable();
}

}  // namespace corvane::test

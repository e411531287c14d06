// The platform of the Linux legs: bridge modules through dlopen, the bridge's
// platform calls through the POSIX layer's hooks.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "host/platform.h"
#include "posix/posix_hooks.h"

namespace fs = std::filesystem;

namespace corvane::test {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  if (!value) throw std::runtime_error(std::string("environment variable ") + name + " is not set");
  return value;
}

std::mutex calls_mutex;
std::vector<Report> reports;
std::vector<std::string> loader_calls;

int RecordReport(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  std::lock_guard lock(calls_mutex);
  reports.push_back({owner, text ? text : u"", caption ? caption : u"", type});
  return IDOK;
}

void RecordLoaderCall(const char* function, const char* name, const void*) {
  std::lock_guard lock(calls_mutex);
  loader_calls.push_back(std::string(function) + " " + name);
}

// Installed before the first test, and before the scenario's first load.
struct Hooks {
  Hooks() {
    CorvanePosix_SetMessageBoxHook(RecordReport);
    CorvanePosix_SetLoaderObserver(RecordLoaderCall);
    if (CurrentScenario() == Scenario::kLater) {
      fs::remove(fs::path(Env("CORVANE_IMAGE_LIBRARY_DIR")) / "libCorvane.so");
    }
  }
} hooks;

void* Open(const fs::path& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  return handle;
}

fs::path ModulePath(Binding binding) {
  return Env(binding == Binding::kDemo ? "CORVANE_BRIDGE_DEMO" : "CORVANE_BRIDGE_LIBRARY");
}

bool findable_later = false;

}  // namespace

Scenario CurrentScenario() {
  const char* name = std::getenv("CORVANE_SCENARIO");
  if (!name || !std::strcmp(name, "complete")) return Scenario::kComplete;
  if (!std::strcmp(name, "partial")) return Scenario::kPartial;
  if (!std::strcmp(name, "absent")) return Scenario::kAbsent;
  if (!std::strcmp(name, "later")) return Scenario::kLater;
  throw std::runtime_error(std::string("unknown CORVANE_SCENARIO ") + name);
}

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

std::vector<Report> TakeReports() {
  std::lock_guard lock(calls_mutex);
  return std::exchange(reports, {});
}

std::vector<std::string> TakeLoaderCalls() {
  std::lock_guard lock(calls_mutex);
  return std::exchange(loader_calls, {});
}

DoubleState* ImageLibrary() {
  const Scenario scenario = CurrentScenario();
  if (scenario == Scenario::kAbsent || (scenario == Scenario::kLater && !findable_later)) return nullptr;
  // The same search the POSIX layer's LoadLibraryW makes, so the same module.
  static void* handle = Open("libCorvane.so");
  const auto state = reinterpret_cast<DoubleStateFn>(dlsym(handle, kDoubleStateSymbol));
  return state ? state() : nullptr;
}

void* DoubleFunction(const char* name) {
  if (!ImageLibrary()) return nullptr;
  static void* handle = Open("libCorvane.so");
  return dlsym(handle, name);
}

void ResetImageLibrary() {
  if (void* reset = DoubleFunction("CorvaneDouble_Reset")) reinterpret_cast<void (*)()>(reset)();
}

void SetImageLibraryThreadTag(int tag) {
  if (void* set = DoubleFunction(kDoubleSetThreadTagSymbol)) reinterpret_cast<DoubleSetThreadTagFn>(set)(tag);
}

void MakeImageLibraryFindable() {
  const fs::path dir = Env("CORVANE_IMAGE_LIBRARY_DIR");
  fs::copy_file(Env("CORVANE_DOUBLE_SOURCE"), dir / "libCorvane.so", fs::copy_options::overwrite_existing);
  findable_later = true;
}

}  // namespace corvane::test

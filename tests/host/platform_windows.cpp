// The platform of the shipped-DLL leg: 32-bit Windows (under Wine). Bridge
// modules are the very DLLs of dist/windows-x86, loaded by path; the bridge's
// own imports of MessageBoxW, LoadLibraryW and GetProcAddress are patched in
// each loaded module, so that every report and every lookup is seen while the
// real functions still do the work.
#include <windows.h>

#include <filesystem>
#include <stdexcept>

#include "host/platform_internal.h"
#include "import_patch.h"

namespace fs = std::filesystem;

namespace corvane::test {

namespace {

// CTest passes Unix paths; Wine maps the Unix root to drive Z:.
fs::path WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return fs::path(path);
  std::string windows = "Z:" + path;
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return fs::path(windows);
}

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  RecordReport({owner, reinterpret_cast<const char16_t*>(text ? text : L""),
                reinterpret_cast<const char16_t*>(caption ? caption : L""), type});
  return IDOK;
}

HMODULE WINAPI RecordLoadLibraryW(LPCWSTR name) {
  const HMODULE module = LoadLibraryW(name);
  RecordLoaderCall("LoadLibraryW " + Narrow(name));
  return module;
}

FARPROC WINAPI RecordGetProcAddress(HMODULE module, LPCSTR name) {
  const FARPROC address = GetProcAddress(module, name);
  RecordLoaderCall(std::string("GetProcAddress ") + name);
  return address;
}

HMODULE OpenBridge(const fs::path& path) {
  const HMODULE module = LoadLibraryW(path.wstring().c_str());
  if (!module) throw std::runtime_error("LoadLibraryW " + path.string() + ": error " + std::to_string(GetLastError()));
  PatchImport(module, "USER32.dll", "MessageBoxW", reinterpret_cast<void*>(&RecordMessageBox));
  PatchImport(module, "KERNEL32.dll", "LoadLibraryW", reinterpret_cast<void*>(&RecordLoadLibraryW));
  PatchImport(module, "KERNEL32.dll", "GetProcAddress", reinterpret_cast<void*>(&RecordGetProcAddress));
  return module;
}

fs::path ModulePath(Binding binding) {
  return WindowsPath(RequiredEnv(binding == Binding::kDemo ? "CORVANE_BRIDGE_DEMO" : "CORVANE_BRIDGE_LIBRARY"));
}

fs::path SearchFolder() { return WindowsPath(RequiredEnv("CORVANE_IMAGE_LIBRARY_DIR")); }

// The image library is found by the standard search for "Corvane"; the
// scenario's folder joins that search before the first test.
struct Search {
  Search() {
    if (CurrentScenario() == Scenario::kLater) fs::remove(SearchFolder() / "Corvane.dll");
    SetDllDirectoryW(SearchFolder().wstring().c_str());
  }
} search;

}  // namespace

void* BridgeModule::Export(const std::string& name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name.c_str()));
}

const BridgeModule& SharedBridge(Binding binding) {
  static const BridgeModule demo(Binding::kDemo, OpenBridge(ModulePath(Binding::kDemo)));
  static const BridgeModule library(Binding::kLibrary, OpenBridge(ModulePath(Binding::kLibrary)));
  return binding == Binding::kDemo ? demo : library;
}

BridgeModule FreshBridge(Binding binding) {
  // A byte copy under another file name loads as a module of its own, with
  // its own static state.
  static int count = 0;
  const fs::path copy = fs::temp_directory_path() / ("corvane-fresh-" + std::to_string(GetCurrentProcessId()) +
                                                     "-" + std::to_string(++count) + ".dll");
  fs::copy_file(ModulePath(binding), copy, fs::copy_options::overwrite_existing);
  return BridgeModule(binding, OpenBridge(copy));
}

void* DoubleSymbol(const char* name) {
  if (!DoubleFindable()) return nullptr;
  // The same search the bridge's LoadLibraryW makes, so the same module.
  static const HMODULE module = LoadLibraryW(L"Corvane");
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}

// Wine answers 0 here; there the GDI test counts on its handle table, which
// a leak of one bitmap per call exhausts within the 20,000 calls, and on each
// call's bitmap being deleted.
int LiveGdiObjects() { return static_cast<int>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)); }

void MakeImageLibraryFindable() {
  fs::copy_file(WindowsPath(RequiredEnv("CORVANE_DOUBLE_SOURCE")), SearchFolder() / "Corvane.dll",
                fs::copy_options::overwrite_existing);
  MarkDoubleFindable();
}

}  // namespace corvane::test

// LoadLibraryW and GetProcAddress over the dynamic loader.
#include <dlfcn.h>

#include <string>

#include "posix/posix_hooks.h"
#include "posix/utf16.h"

namespace {
CorvanePosixLoaderObserver loader_observer = nullptr;

void Observe(const char* function, const std::string& name, const void* result) {
  if (loader_observer) loader_observer(function, name.c_str(), result);
}
}  // namespace

extern "C" {

HMODULE LoadLibraryW(LPCWSTR name) {
  if (!name) return nullptr;
  std::string file = corvane::posix::Utf16ToUtf8(name);
  // A bare module name goes through the loader's standard search the way
  // Windows appends ".dll" and searches its standard order.
  const std::string given = file;
  if (file.find('/') == std::string::npos && file.find('.') == std::string::npos) {
    file = "lib" + file + ".so";
  }
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  Observe("LoadLibraryW", given, handle);
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  void* address = module && name ? dlsym(module, name) : nullptr;
  Observe("GetProcAddress", name ? name : "", address);
  return reinterpret_cast<FARPROC>(address);
}

void CorvanePosix_SetLoaderObserver(CorvanePosixLoaderObserver observer) { loader_observer = observer; }

}  // extern "C"

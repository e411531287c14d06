// Replaces a loaded module's import of a function by rewriting its import
// address table, so a test sees (and answers) the calls that module makes to
// a system DLL, e.g. a bridge module's USER32!MessageBoxW, while every other
// module keeps calling the real function.
#pragma once

#include <windows.h>

#include <string>

namespace corvane::test {

// Points each import address table entry of `module` for `function` of
// `dll` at `replacement`. `dll` is matched without regard to case
// ("user32.dll" finds "USER32.dll"), `function` exactly; imports by ordinal
// are not matched. Returns the entry's previous value (the real function, or
// an earlier replacement), or nullptr when `module` has no such import or
// the table cannot be made writable (GetLastError() then tells why).
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// PatchImport for a scope: the previous pointer goes back on destruction.
class ImportPatch {
 public:
  ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  // False when the module has no such import (nothing was changed).
  bool active() const { return previous_ != nullptr; }
  // What the module called before, e.g. for a replacement that forwards.
  template <typename Function>
  Function previous() const {
    return reinterpret_cast<Function>(previous_);
  }

 private:
  HMODULE module_;
  std::string dll_;
  std::string function_;
  void* previous_;
};

}  // namespace corvane::test

#include "import_patch.h"

#include <cstring>

namespace corvane::test {

namespace {

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
    const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

const IMAGE_NT_HEADERS* NtHeaders(const BYTE* base) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return nullptr;
  return nt;
}

// Swaps one table entry. The import address table lies in a page the loader
// left read-only or PAGE_WRITECOPY: make it writable for the swap only.
bool Swap(ULONG_PTR* entry, void* replacement, void** previous) {
  DWORD protection = 0;
  if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection)) return false;
  *previous = reinterpret_cast<void*>(
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(entry), replacement));
  DWORD ignored = 0;
  VirtualProtect(entry, sizeof *entry, protection, &ignored);
  return true;
}

}  // namespace

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  const auto* base = reinterpret_cast<BYTE*>(module);
  const IMAGE_NT_HEADERS* nt = module ? NtHeaders(base) : nullptr;
  if (!nt) {
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.VirtualAddress == 0 || directory.Size == 0) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }

  void* first_previous = nullptr;
  const auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
  for (; descriptor->Name != 0; ++descriptor) {
    if (!SameNameIgnoringCase(reinterpret_cast<const char*>(base + descriptor->Name), dll)) continue;
    auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(const_cast<BYTE*>(base) + descriptor->FirstThunk);
    // The name table; some linkers write none, and then the bound address
    // table no longer holds names: match by the function's address instead.
    const auto* names = descriptor->OriginalFirstThunk
                            ? reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk)
                            : nullptr;
    ULONG_PTR resolved = 0;
    if (!names) {
      const HMODULE exporter = GetModuleHandleA(dll);
      resolved = exporter ? reinterpret_cast<ULONG_PTR>(GetProcAddress(exporter, function)) : 0;
      if (!resolved) continue;
    }
    for (size_t i = 0; addresses[i].u1.Function != 0; ++i) {
      bool match = false;
      if (names) {
        if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) continue;
        const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
        match = std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0;
      } else {
        match = addresses[i].u1.Function == resolved;
      }
      if (!match) continue;
      void* previous = nullptr;
      if (!Swap(reinterpret_cast<ULONG_PTR*>(&addresses[i].u1.Function), replacement, &previous)) return nullptr;
      if (!first_previous) first_previous = previous;
    }
  }
  if (!first_previous) SetLastError(ERROR_PROC_NOT_FOUND);
  return first_previous;
}

ImportPatch::ImportPatch(HMODULE module, const char* dll, const char* function, void* replacement)
    : module_(module), dll_(dll), function_(function), previous_(PatchImport(module, dll, function, replacement)) {}

ImportPatch::~ImportPatch() {
  if (previous_) PatchImport(module_, dll_.c_str(), function_.c_str(), previous_);
}

}  // namespace corvane::test

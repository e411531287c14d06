// LoadEntryPoint: loads the image library on the first call that reaches this
// module and resolves one entry point on the first call of its method. A
// failure is reported and not remembered: the next call tries again. Once both
// are known a call costs two pointer tests.
#pragma once

#include "core/entry_points.h"
#include "core/report.h"

namespace corvane {

// Loads the image library; null after reporting that it can't be loaded.
HMODULE LoadImageLibrary();

// Resolves one entry point; null after reporting that the library lacks it.
// The address comes back untyped: the caller knows the entry point's type.
void* ResolveEntryPoint(HMODULE library, const char* symbol, const WCHAR* missing_report);

// The entry point's address, or null after a failure report.
template <typename Fn>
Fn* LoadEntryPoint(const EntryPoint<Fn>& entry) {
  HMODULE library = hImageLibrary.load(std::memory_order_relaxed);
  if (!library && !(library = LoadImageLibrary())) return nullptr;
  Fn* address = entry.pointer.load(std::memory_order_relaxed);
  if (!address) {
    address = reinterpret_cast<Fn*>(ResolveEntryPoint(library, entry.symbol, entry.missing_report));
    entry.pointer.store(address, std::memory_order_relaxed);
  }
  return address;
}

}  // namespace corvane

#include "core/load_entry_point.h"

namespace corvane {

HMODULE LoadImageLibrary() {
  // The bare name: the system appends ".dll" and searches its standard order.
  const HMODULE library = LoadLibraryW(CORVANE_WIDE("Corvane"));
  hImageLibrary.store(library, std::memory_order_relaxed);
  if (!library) ShowFailureReport(CORVANE_WIDE("Unable to load Corvane.dll"));
  return library;
}

void* ResolveEntryPoint(HMODULE library, const char* symbol, const WCHAR* missing_report) {
  void* const address = reinterpret_cast<void*>(GetProcAddress(library, symbol));
  if (!address) ShowFailureReport(missing_report);
  return address;
}

}  // namespace corvane
